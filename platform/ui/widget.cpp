// The widget behind each window: turns Qt events into window messages.
#include "platform/ui/qtwnd_p.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QWindow>

namespace orv::ui {
namespace {

UINT MouseKeyFlags(Qt::MouseButtons buttons, Qt::KeyboardModifiers mods) {
  UINT f = 0;
  if (buttons & Qt::LeftButton) f |= MK_LBUTTON;
  if (buttons & Qt::RightButton) f |= MK_RBUTTON;
  if (buttons & Qt::MiddleButton) f |= MK_MBUTTON;
  if (mods & Qt::ShiftModifier) f |= MK_SHIFT;
  if (mods & Qt::ControlModifier) f |= MK_CONTROL;
  return f;
}

LPARAM PointParam(QPoint p) { return MAKELPARAM(static_cast<WORD>(p.x()), static_cast<WORD>(p.y())); }

void Pump(HWND h, UINT msg, WPARAM w, LPARAM l, QPoint global = QCursor::pos()) {
  MSG m{h, msg, w, l, GetTickCount(), {global.x(), global.y()}};
  AfxPumpMessage(&m);
}

// Where the last button press happened on the screen: a move loop starts from the real pointer,
// whatever point the window passed along with the request.
QPoint g_lastPress;

// The one move or size under way: its window, where the pointer and the window were when the button
// went down, and whether the pointer has moved far enough yet to call it a drag. Kept here rather
// than in a widget because the widget that was pressed (a child, such as the picture) gets the
// pointer's moves, not the window that moves.
struct DragState {
  QPointer<QWidget> target;
  WndWidget::Drag kind = WndWidget::Drag::None;
  LRESULT edge = 0;
  QPoint start;
  QRect geometry;
  bool moved = false;
} g_drag;

std::function<bool(QWidget*, Qt::Edges)> g_systemDragHook;

Qt::Edges EdgesOf(LRESULT edge) {
  Qt::Edges edges;
  if (edge == HTLEFT || edge == HTTOPLEFT || edge == HTBOTTOMLEFT) edges |= Qt::LeftEdge;
  if (edge == HTRIGHT || edge == HTTOPRIGHT || edge == HTBOTTOMRIGHT) edges |= Qt::RightEdge;
  if (edge == HTTOP || edge == HTTOPLEFT || edge == HTTOPRIGHT) edges |= Qt::TopEdge;
  if (edge == HTBOTTOM || edge == HTBOTTOMLEFT || edge == HTBOTTOMRIGHT) edges |= Qt::BottomEdge;
  return edges;
}

// Hands the drag to the window manager; false where there is none (Xvfb alone, offscreen).
bool SystemDrag(QWidget* w, Qt::Edges edges) {
  if (g_systemDragHook) return g_systemDragHook(w, edges);
  QWindow* win = w->windowHandle();
  if (!win) return false;
  return edges ? win->startSystemResize(edges) : win->startSystemMove();
}

// Follows the pointer with the dragged window; true while a drag is under way.
bool FollowDrag(QPoint global, Qt::MouseButtons buttons) {
  if (g_drag.kind == WndWidget::Drag::None) return false;
  QWidget* w = g_drag.target;
  if (!w || !(buttons & Qt::LeftButton)) {
    g_drag = {};  // the button went up where we did not see it
    return false;
  }
  const QPoint d = global - g_drag.start;
  if (!g_drag.moved) {
    // A click is not a drag: asking the window manager then would leave the window on the pointer.
    if (d.manhattanLength() < QApplication::startDragDistance()) return true;
    g_drag.moved = true;
    // The window manager moves the window with the pointer from here until the button is released.
    if (SystemDrag(w, g_drag.kind == WndWidget::Drag::Resize ? EdgesOf(g_drag.edge) : Qt::Edges())) {
      g_drag = {};
      return true;
    }
  }
  if (g_drag.kind == WndWidget::Drag::Move) {
    w->move(g_drag.geometry.topLeft() + d);
    return true;
  }
  QRect g = g_drag.geometry;
  const QSize minimum = w->minimumSize();
  const Qt::Edges edges = EdgesOf(g_drag.edge);
  if (edges & Qt::LeftEdge) g.setLeft(std::min(g.left() + d.x(), g.right() + 1 - minimum.width()));
  if (edges & Qt::RightEdge) g.setRight(std::max(g.right() + d.x(), g.left() + minimum.width() - 1));
  if (edges & Qt::TopEdge) g.setTop(std::min(g.top() + d.y(), g.bottom() + 1 - minimum.height()));
  if (edges & Qt::BottomEdge) g.setBottom(std::max(g.bottom() + d.y(), g.top() + minimum.height() - 1));
  w->setGeometry(g);
  return true;
}

// Painting happens through the surface; this names the window being painted right now.
HWND g_painting = nullptr;
QRect g_paintRect;
// What that window may paint straight into instead, and whether it did.
QImage* g_direct = nullptr;
QRect g_directPlace;
bool g_paintedDirect = false;

}  // namespace

QPoint LastPressPosition() { return g_lastPress; }

QImage* DirectPaintTarget(HWND h, QRect* place) {
  if (!h || h != g_painting || !g_direct) return nullptr;
  *place = g_directPlace;
  g_paintedDirect = true;
  return g_direct;
}

QImage* WndWidget::DirectTarget(QRect* place) {
  // A 32-bit image at one pixel per point that holds the whole widget, none of it covered.
  QPoint offset;
  QPaintDevice* device = redirected(&offset);
  if (!device || device->devType() != QInternal::Image) return nullptr;
  auto* image = static_cast<QImage*>(device);
  const QRect at(-offset, size());
  if ((image->format() != QImage::Format_RGB32 && image->format() != QImage::Format_ARGB32_Premultiplied) ||
      image->devicePixelRatio() != 1.0 || !image->isDetached() || !image->rect().contains(at) ||
      visibleRegion() != QRegion(rect()))
    return nullptr;
  *place = at;
  return image;
}

bool IsPainting(HWND h, RECT* rc) {
  if (h != g_painting) return false;
  if (rc) *rc = RECT{g_paintRect.left(), g_paintRect.top(), g_paintRect.right() + 1, g_paintRect.bottom() + 1};
  return true;
}

WndWidget::WndWidget(HWND h, QWidget* parent, Qt::WindowFlags flags) : QWidget(parent, flags), hwnd_(h) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setAttribute(Qt::WA_NoSystemBackground);
  // A click gives the keyboard to a top-level window, never to a child: children get it only
  // when the program asks (SetFocus).
  setFocusPolicy(parent ? Qt::NoFocus : Qt::StrongFocus);
  setMouseTracking(true);
}

void WndWidget::SetInner(QWidget* w) {
  inner = w;
  // A control shows its own widget and whatever lies behind it, not a surface of ours.
  setAttribute(Qt::WA_OpaquePaintEvent, false);
  setAttribute(Qt::WA_NoSystemBackground, false);
  setFocusPolicy(Qt::NoFocus);
  setMouseTracking(false);
  w->setParent(this);
  w->setGeometry(rect());
  w->show();
}

void WndWidget::paintEvent(QPaintEvent* e) {
  if (inner) return;
  if (hwnd_) NotifySizeIfChanged(hwnd_);
  if (hwnd_ && (invalid || paintsDirect) && !flushOnly) {
    invalid = false;
    const HWND h = hwnd_;
    const HWND outer = g_painting;
    const QRect outerRect = g_paintRect;
    QImage* const outerDirect = g_direct;
    const QRect outerPlace = g_directPlace;
    const bool outerPainted = g_paintedDirect;
    g_painting = h;
    g_paintRect = e->rect();
    g_direct = DirectTarget(&g_directPlace);
    g_paintedDirect = false;
    if (eraseNext) {
      eraseNext = false;
      CClientDC dc(CWnd::FromHandle(h));
      SendMessageA(h, WM_ERASEBKGND, reinterpret_cast<WPARAM>(static_cast<CDC*>(&dc)), 0);
    }
    SendMessageA(h, WM_PAINT, 0, 0);
    paintsDirect = g_paintedDirect;
    g_painting = outer;
    g_paintRect = outerRect;
    g_direct = outerDirect;
    g_directPlace = outerPlace;
    g_paintedDirect = outerPainted;
    if (paintsDirect) return;
  }
  QPainter p(this);
  p.drawImage(e->rect(), surface, e->rect());
}

void WndWidget::resizeEvent(QResizeEvent*) {
  if (inner) inner->setGeometry(rect());
  if (hwnd_) NotifySizeIfChanged(hwnd_);
}

void WndWidget::moveEvent(QMoveEvent*) {
  if (hwnd_) SendMessageA(hwnd_, WM_MOVE, 0, PointParam(pos()));
}

void WndWidget::MouseButton(QMouseEvent* e, bool down, bool dbl) {
  if (!hwnd_) return;
  const HWND h = hwnd_;
  const QPoint global = e->globalPosition().toPoint();
  if (down) g_lastPress = global;
  const QPoint local = e->position().toPoint();
  const UINT flags = MouseKeyFlags(e->buttons(), e->modifiers());
  WndRecord* rec = FindRecord(h);
  const bool dblClass = rec && (rec->classStyle & CS_DBLCLKS);
  const Qt::MouseButton b = e->button();
  if (!down) {
    // The move loop takes the release of its own button.
    if (g_drag.kind != Drag::None && b == Qt::LeftButton) {
      g_drag = {};
      return;
    }
    const UINT msg = b == Qt::LeftButton ? WM_LBUTTONUP : b == Qt::RightButton ? WM_RBUTTONUP : WM_MBUTTONUP;
    Pump(h, msg, flags, PointParam(local), global);
    return;
  }
  if (dbl) g_drag = {};  // the second press of a double click starts no drag
  const LRESULT ht = SendMessageA(h, WM_NCHITTEST, 0, PointParam(global));
  if (!IsWindow(h)) return;
  if (ht == HTCLIENT) {
    UINT msg;
    if (b == Qt::LeftButton)
      msg = dbl && dblClass ? WM_LBUTTONDBLCLK : WM_LBUTTONDOWN;
    else if (b == Qt::RightButton)
      msg = dbl && dblClass ? WM_RBUTTONDBLCLK : WM_RBUTTONDOWN;
    else
      msg = dbl && dblClass ? WM_MBUTTONDBLCLK : WM_MBUTTONDOWN;
    Pump(h, msg, flags, PointParam(local), global);
  } else if (b == Qt::LeftButton && ht != HTNOWHERE && ht != HTERROR && ht != HTTRANSPARENT) {
    Pump(h, dbl && dblClass ? WM_NCLBUTTONDBLCLK : WM_NCLBUTTONDOWN, static_cast<WPARAM>(ht), PointParam(global),
         global);
  }
}

void WndWidget::mousePressEvent(QMouseEvent* e) { MouseButton(e, true, false); }
void WndWidget::mouseReleaseEvent(QMouseEvent* e) { MouseButton(e, false, false); }
void WndWidget::mouseDoubleClickEvent(QMouseEvent* e) { MouseButton(e, true, true); }

void WndWidget::mouseMoveEvent(QMouseEvent* e) {
  if (FollowDrag(e->globalPosition().toPoint(), e->buttons())) return;
  if (!hwnd_) return;
  Pump(hwnd_, WM_MOUSEMOVE, MouseKeyFlags(e->buttons(), e->modifiers()), PointParam(e->position().toPoint()),
       e->globalPosition().toPoint());
}

void WndWidget::BeginDrag(Drag kind, LRESULT edge, QPoint globalPos) {
  g_drag = DragState{this, kind, edge, globalPos, geometry(), false};
}

void SetSystemDragHookForTests(std::function<bool(QWidget*, Qt::Edges)> hook) { g_systemDragHook = std::move(hook); }

void WndWidget::keyPressEvent(QKeyEvent* e) {
  UINT vk;
  LPARAM l;
  if (!hwnd_ || !TranslateKey(e, &vk, &l, false)) return QWidget::keyPressEvent(e);
  const bool alt = (e->modifiers() & Qt::AltModifier) || vk == VK_F10;
  Pump(hwnd_, alt ? WM_SYSKEYDOWN : WM_KEYDOWN, vk, l);
}

void WndWidget::keyReleaseEvent(QKeyEvent* e) {
  UINT vk;
  LPARAM l;
  if (!hwnd_ || !TranslateKey(e, &vk, &l, true)) return QWidget::keyReleaseEvent(e);
  const bool alt = (e->modifiers() & Qt::AltModifier) || vk == VK_F10 || vk == VK_MENU;
  Pump(hwnd_, alt ? WM_SYSKEYUP : WM_KEYUP, vk, l);
}

void WndWidget::closeEvent(QCloseEvent* e) {
  // The window manager's close request is the system close command; the window decides.
  e->ignore();
  if (hwnd_) SendMessageA(hwnd_, WM_SYSCOMMAND, SC_CLOSE, 0);
}

void WndWidget::changeEvent(QEvent* e) {
  QWidget::changeEvent(e);
  if (e->type() == QEvent::WindowStateChange && hwnd_) {
    WndRecord* rec = FindRecord(hwnd_);
    if (!rec) return;
    rec->reportedSize = QSize(-1, -1);  // report the new state even at the same size
    NotifySizeIfChanged(hwnd_);
  }
}

bool TranslateKey(const QKeyEvent* e, UINT* vk, LPARAM* lParam, bool keyUp) {
  const int k = e->key();
  const bool keypad = e->modifiers() & Qt::KeypadModifier;
  bool extended = false;
  UINT v = 0;
  if (k >= Qt::Key_A && k <= Qt::Key_Z) {
    v = static_cast<UINT>(k);
  } else if (k >= Qt::Key_0 && k <= Qt::Key_9) {
    v = keypad ? VK_NUMPAD0 + static_cast<UINT>(k - Qt::Key_0) : static_cast<UINT>(k);
  } else if (k >= Qt::Key_F1 && k <= Qt::Key_F24) {
    v = VK_F1 + static_cast<UINT>(k - Qt::Key_F1);
  } else {
    switch (k) {
      case Qt::Key_Asterisk: v = keypad ? VK_MULTIPLY : 0x38; break;
      case Qt::Key_Plus: v = keypad ? VK_ADD : 0xBB; break;
      case Qt::Key_Minus: v = keypad ? VK_SUBTRACT : 0xBD; break;
      case Qt::Key_Slash: v = keypad ? VK_DIVIDE : 0xBF; extended = keypad; break;
      case Qt::Key_Period: v = keypad ? VK_DECIMAL : 0xBE; break;
      // The keypad's decimal point comes as Key_Period (NumLock on); Key_Delete from the keypad
      // is its Del key with NumLock off, which is Delete like the others below.
      case Qt::Key_Delete: v = VK_DELETE; extended = !keypad; break;
      case Qt::Key_Comma: v = keypad ? VK_SEPARATOR : 0xBC; break;
      case Qt::Key_Equal: v = 0xBB; break;
      case Qt::Key_Return: v = VK_RETURN; break;
      case Qt::Key_Enter: v = VK_RETURN; extended = true; break;
      case Qt::Key_Escape: v = VK_ESCAPE; break;
      case Qt::Key_Tab: v = VK_TAB; break;
      case Qt::Key_Backspace: v = VK_BACK; break;
      case Qt::Key_Space: v = VK_SPACE; break;
      case Qt::Key_Pause: v = VK_PAUSE; break;
      case Qt::Key_Shift: v = VK_SHIFT; break;
      case Qt::Key_Control: v = VK_CONTROL; break;
      case Qt::Key_Alt: v = VK_MENU; break;
      // Navigation keys: on the keypad (NumLock off) they are the same codes without the extended
      // bit; the separate block sets it.
      case Qt::Key_Left: v = VK_LEFT; extended = !keypad; break;
      case Qt::Key_Right: v = VK_RIGHT; extended = !keypad; break;
      case Qt::Key_Up: v = VK_UP; extended = !keypad; break;
      case Qt::Key_Down: v = VK_DOWN; extended = !keypad; break;
      case Qt::Key_PageUp: v = VK_PRIOR; extended = !keypad; break;
      case Qt::Key_PageDown: v = VK_NEXT; extended = !keypad; break;
      case Qt::Key_Home: v = VK_HOME; extended = !keypad; break;
      case Qt::Key_End: v = VK_END; extended = !keypad; break;
      case Qt::Key_Insert: v = VK_INSERT; extended = !keypad; break;
      case Qt::Key_Clear: v = 0x0C; break;
      default: return false;
    }
  }
  *vk = v;
  // X keycodes are the PC scan codes plus 8.
  const quint32 native = e->nativeScanCode();
  const LPARAM scan = native > 8 ? static_cast<LPARAM>((native - 8) & 0xFF) : 0;
  LPARAM l = 1 | (scan << 16);
  if (extended) l |= KF_EXTENDED_BIT;
  if (e->modifiers() & Qt::AltModifier) l |= KF_ALTDOWN_BIT;
  if (keyUp)
    l |= KF_REPEAT_BIT | (static_cast<LPARAM>(1) << 31);
  else if (e->isAutoRepeat())
    l |= KF_REPEAT_BIT;
  *lParam = l;
  return true;
}

}  // namespace orv::ui

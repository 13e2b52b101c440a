// CWnd over Qt widgets: creation, destruction, the message map dispatch and default processing,
// placement, zoom, regions and the cross-process title lookup.
#include "platform/ui/qtwnd_p.h"
#include "platform/ui/testing.h"
#include "platform/log.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QWindow>
#include <cerrno>
#include <cstdio>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

namespace orv::ui {
namespace {

struct ClassInfo {
  UINT style = 0;
  int cursor = 0;
  int background = 0;
  UINT icon = 0;
};
std::map<std::string, ClassInfo>& Classes() {
  static std::map<std::string, ClassInfo> c;
  return c;
}

const HWND kDesktop = reinterpret_cast<HWND>(static_cast<std::uintptr_t>(0x10004));
// What FindWindow gives for a window of another running copy: it names no window here.
const HWND kForeignWindow = reinterpret_cast<HWND>(static_cast<std::uintptr_t>(0x10008));

RECT g_desktopOverride{};
bool g_hasDesktopOverride = false;

RECT ToRect(const QRect& r) { return RECT{r.x(), r.y(), r.x() + r.width(), r.y() + r.height()}; }

WndWidget* WidgetOf(HWND h) {
  WndRecord* r = FindRecord(h);
  return r ? r->widget.data() : nullptr;
}

QRect DesktopQRect() {
  if (g_hasDesktopOverride)
    return QRect(g_desktopOverride.left, g_desktopOverride.top, g_desktopOverride.right - g_desktopOverride.left,
                 g_desktopOverride.bottom - g_desktopOverride.top);
  QScreen* s = QGuiApplication::primaryScreen();
  return s ? s->geometry() : QRect(0, 0, 1024, 768);
}

// Where a zoomed window goes: the work area of its screen.
QRect ZoomArea(QWidget* w) {
  if (g_hasDesktopOverride) return DesktopQRect();
  QScreen* s = w->screen() ? w->screen() : QGuiApplication::primaryScreen();
  return s ? s->availableGeometry() : QRect(0, 0, 1024, 768);
}

// A folder only this user can use: XDG_RUNTIME_DIR when it is one, else one of the program's own in
// the temporary folder, made 0700. A folder of that name that someone else made, or that others
// may enter, is not used; then "" and the title cannot be found by another copy (and no other
// user can make the program believe a copy runs).
QString PrivateRuntimeDir() {
  auto isPrivate = [](const QByteArray& path, bool followLink) {
    struct stat st {};
    const int r = followLink ? ::stat(path.constData(), &st) : ::lstat(path.constData(), &st);
    return r == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid() && (st.st_mode & 077) == 0;
  };
  const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
  if (!runtime.isEmpty() && isPrivate(runtime, true)) return QFile::decodeName(runtime);
  const QByteArray own = QFile::encodeName(QDir::tempPath() + QString("/orvanetuner-%1").arg(::getuid()));
  if (::mkdir(own.constData(), 0700) != 0 && errno != EEXIST) {
    LogErrno("ui", "cannot make %s; a running copy cannot be found", own.constData());
    return {};
  }
  if (isPrivate(own, false)) return QFile::decodeName(own);
  static bool said = false;
  if (!said)
    LogError("ui", "%s is not a private folder of this user; a running copy cannot be found", own.constData());
  said = true;
  return {};
}

// Per-user socket path for a window title, so a second copy of the program can find the first;
// "" when there is no private folder for it.
QString TitleSocketPath(const std::string& title) {
  const QString dir = PrivateRuntimeDir();
  if (dir.isEmpty()) return {};
  const QByteArray hash = QCryptographicHash::hash(QByteArray::fromStdString(title), QCryptographicHash::Sha1).toHex();
  return dir + QString("/orvanetuner-%1-%2.sock").arg(::getuid()).arg(QString::fromLatin1(hash.left(16)));
}

// A socket of this user's own at path: only such a one can belong to a copy of the program.
bool OwnSocket(const QString& path) {
  struct stat st {};
  return ::lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISSOCK(st.st_mode) && st.st_uid == ::getuid();
}

void RegisterTitle(WndRecord* rec) {
  if (rec->titleServer) {
    rec->titleServer->close();
    delete rec->titleServer;
    rec->titleServer = nullptr;
  }
  if (rec->title.empty() || (rec->style & WS_CHILD)) return;
  auto* server = new QLocalServer;
  server->setSocketOptions(QLocalServer::UserAccessOption);
  const QString path = TitleSocketPath(rec->title);
  if (path.isEmpty()) {
    delete server;
    return;
  }
  // A socket left by a copy that crashed answers nobody: replace it.
  QLocalSocket probe;
  probe.connectToServer(path);
  if (!probe.waitForConnected(100)) QLocalServer::removeServer(path);
  probe.abort();
  if (!server->listen(path)) {
    delete server;
    return;
  }
  QObject::connect(server, &QLocalServer::newConnection, server, [server] {
    while (QLocalSocket* s = server->nextPendingConnection()) s->disconnectFromServer(), s->deleteLater();
  });
  rec->titleServer = server;
}

int g_depthOverride = 0;
MessageBoxHook g_msgBoxHook;

}  // namespace

std::vector<HWND> ChildrenOf(HWND parent);
HWND FindLocalTopLevel(const std::string& title);

void NotifySizeIfChanged(HWND h) {
  WndRecord* rec = FindRecord(h);
  if (!rec || !rec->widget) return;
  WndWidget* w = rec->widget;
  const QSize s = w->size();
  if (w->surface.size() != s) {
    w->invalid = true;
    QImage img(s.expandedTo(QSize(1, 1)), QImage::Format_RGB32);
    img.fill(Qt::black);
    if (!w->surface.isNull()) {
      QPainter p(&img);
      p.drawImage(0, 0, w->surface);
    }
    w->surface = img;
  }
  if (s == rec->reportedSize) return;
  rec->reportedSize = s;
  UINT type = SIZE_RESTORED;
  if (rec->zoomed) type = SIZE_MAXIMIZED;
  if (w->isMinimized()) type = SIZE_MINIMIZED;
  SendMessageA(h, WM_SIZE, type, MAKELPARAM(static_cast<WORD>(s.width()), static_cast<WORD>(s.height())));
}

void SetMessageBoxHook(MessageBoxHook hook) { g_msgBoxHook = std::move(hook); }
void SetScreenDepthForTests(int bpp) { g_depthOverride = bpp; }
void SetDesktopRectForTests(const RECT* r) {
  g_hasDesktopOverride = r != nullptr;
  if (r) g_desktopOverride = *r;
}
const MessageBoxHook& CurrentMessageBoxHook() { return g_msgBoxHook; }
int ScreenDepthOverride() { return g_depthOverride; }
QWidget* WidgetForHandle(HWND h) { return WidgetOf(h); }

}  // namespace orv::ui

using namespace orv::ui;

// ---- Class registration -------------------------------------------------------------------------

LPCSTR AfxRegisterWndClass(UINT nClassStyle, int cursor, int background, UINT iconId) {
  char name[64];
  std::snprintf(name, sizeof name, "Afx:%x:%x:%x:%x", nClassStyle, cursor, background, iconId);
  auto [it, _] = Classes().emplace(name, ClassInfo{nClassStyle, cursor, background, iconId});
  return it->first.c_str();
}


// ---- CWnd ---------------------------------------------------------------------------------------

CWnd::CWnd() = default;

CWnd::~CWnd() {
  if (m_hWnd) DestroyWindow();
}

CWnd* CWnd::FromHandle(HWND hWnd) {
  WndRecord* r = FindRecord(hWnd);
  return r ? r->wnd : nullptr;
}

BOOL CWnd::CreateEx(DWORD dwExStyle, LPCSTR lpszClassName, LPCSTR lpszWindowName, DWORD dwStyle, int x, int y,
                    int nWidth, int nHeight, HWND hWndParent, UINT nID, LPVOID lpParam) {
  if (m_hWnd) return FALSE;
  const std::string className = lpszClassName ? lpszClassName : "";
  const auto cls = Classes().find(className);
  const HWND h = AddWindow(this);
  m_hWnd = h;
  WndRecord* rec = FindRecord(h);
  rec->style = dwStyle;
  rec->exStyle = dwExStyle;
  rec->classStyle = cls == Classes().end() ? 0 : cls->second.style;
  rec->background = cls == Classes().end() ? 0 : cls->second.background;
  rec->title = lpszWindowName ? lpszWindowName : "";
  rec->id = static_cast<int>(nID);
  rec->parent = hWndParent;

  QWidget* parentWidget = (dwStyle & WS_CHILD) ? WidgetOf(hWndParent) : nullptr;
  Qt::WindowFlags flags = Qt::Widget;
  if (!parentWidget) {
    flags = Qt::Window;
    if (!(dwStyle & WS_CAPTION)) flags |= Qt::FramelessWindowHint;
    if (dwExStyle & WS_EX_TOPMOST) flags |= Qt::WindowStaysOnTopHint;
  }
  auto* w = new WndWidget(h, parentWidget, flags);
  rec->widget = w;
  w->setWindowTitle(QString::fromUtf8(rec->title.c_str()));
  if (!parentWidget) RegisterTitle(rec);

  MINMAXINFO mmi{};
  const QRect desk = DesktopQRect();
  mmi.ptMaxSize = {desk.width(), desk.height()};
  mmi.ptMaxTrackSize = {desk.width() + 2 * SM_CXFRAME_VALUE, desk.height() + 2 * SM_CXFRAME_VALUE};
  SendMessageA(h, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&mmi));
  if (mmi.ptMinTrackSize.x > 0 || mmi.ptMinTrackSize.y > 0)
    w->setMinimumSize(std::max(0, static_cast<int>(mmi.ptMinTrackSize.x)), std::max(0, static_cast<int>(mmi.ptMinTrackSize.y)));
  w->setGeometry(x, y, std::max(nWidth, 0), std::max(nHeight, 0));
  if (parentWidget && !(dwStyle & WS_VISIBLE)) w->hide();

  CREATESTRUCTA cs{lpParam, nullptr, nullptr, hWndParent, nHeight, nWidth, y, x, static_cast<LONG>(dwStyle),
                   lpszWindowName, lpszClassName, dwExStyle};
  if (SendMessageA(h, WM_CREATE, 0, reinterpret_cast<LPARAM>(&cs)) == -1) {
    DestroyWindow();
    return FALSE;
  }
  if (!IsWindow(h)) return FALSE;
  NotifySizeIfChanged(h);
  if (dwStyle & WS_VISIBLE) ShowWindow(SW_SHOW);
  return TRUE;
}

BOOL CWnd::CreateEx(DWORD dwExStyle, LPCSTR lpszClassName, LPCSTR lpszWindowName, DWORD dwStyle, const RECT& rect,
                    CWnd* pParentWnd, UINT nID, LPVOID lpParam) {
  return CreateEx(dwExStyle, lpszClassName, lpszWindowName, dwStyle, rect.left, rect.top, rect.right - rect.left,
                  rect.bottom - rect.top, pParentWnd ? pParentWnd->m_hWnd : nullptr, nID, lpParam);
}

BOOL CWnd::DestroyWindow() {
  const HWND h = m_hWnd;
  WndRecord* rec = FindRecord(h);
  if (!rec || rec->destroying) return FALSE;
  rec->destroying = true;
  SendMessageA(h, WM_DESTROY, 0, 0);
  // Children go after their parent has been told.
  for (HWND c : ChildrenOf(h)) ::DestroyWindow(c);
  SendMessageA(h, WM_NCDESTROY, 0, 0);
  rec = FindRecord(h);
  if (rec) {
    if (rec->titleServer) {
      rec->titleServer->close();
      delete rec->titleServer;
      rec->titleServer = nullptr;
    }
    if (WndWidget* w = rec->widget) {
      w->Detach();
      w->hide();
      w->deleteLater();
    }
  }
  RemoveWindow(h);
  if (m_hWnd == h) m_hWnd = nullptr;
  PostNcDestroy();
  return TRUE;
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  current_.push_back({message, wParam, lParam});
  LRESULT r = 0;
  if (!OnWndMsg(message, wParam, lParam, &r)) r = DefWindowProc(message, wParam, lParam);
  current_.pop_back();
  return r;
}

bool CWnd::OnWndMsg(UINT, WPARAM, LPARAM, LRESULT*) { return false; }

LRESULT CWnd::Default() {
  if (current_.empty()) return 0;
  const CurrentMsg m = current_.back();
  return DefWindowProc(m.message, m.wParam, m.lParam);
}

LRESULT CWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  return ::DefWindowProcA(m_hWnd, message, wParam, lParam);
}

BOOL CWnd::PreTranslateMessage(MSG*) { return FALSE; }

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) { return ::SendMessageA(m_hWnd, message, wParam, lParam); }
BOOL CWnd::PostMessage(UINT message, WPARAM wParam, LPARAM lParam) { return ::PostMessageA(m_hWnd, message, wParam, lParam); }
BOOL CWnd::ShowWindow(int nCmdShow) { return ::ShowWindow(m_hWnd, nCmdShow); }
BOOL CWnd::SetWindowPos(const CWnd* after, int x, int y, int cx, int cy, UINT flags) {
  HWND insertAfter = HWND_TOP;
  if (after) insertAfter = after->m_hWnd;
  return ::SetWindowPos(m_hWnd, insertAfter, x, y, cx, cy, flags);
}
void CWnd::MoveWindow(int x, int y, int w, int h, BOOL repaint) { ::MoveWindow(m_hWnd, x, y, w, h, repaint); }
void CWnd::GetWindowRect(RECT* r) const { ::GetWindowRect(m_hWnd, r); }
void CWnd::GetClientRect(RECT* r) const { ::GetClientRect(m_hWnd, r); }
BOOL CWnd::IsZoomed() const { return ::IsZoomed(m_hWnd); }
BOOL CWnd::IsIconic() const { return ::IsIconic(m_hWnd); }
BOOL CWnd::IsWindowVisible() const { return ::IsWindowVisible(m_hWnd); }
BOOL CWnd::GetWindowPlacement(WINDOWPLACEMENT* wp) const { return ::GetWindowPlacement(m_hWnd, wp); }
BOOL CWnd::SetWindowPlacement(const WINDOWPLACEMENT* wp) { return ::SetWindowPlacement(m_hWnd, wp); }
CWnd* CWnd::SetActiveWindow() { return FromHandle(::SetActiveWindow(m_hWnd)); }
CWnd* CWnd::SetFocus() { return FromHandle(::SetFocus(m_hWnd)); }
void CWnd::Invalidate(BOOL bErase) { ::InvalidateRect(m_hWnd, nullptr, bErase); }
void CWnd::InvalidateRect(const RECT* rect, BOOL bErase) { ::InvalidateRect(m_hWnd, rect, bErase); }
void CWnd::UpdateWindow() { ::UpdateWindow(m_hWnd); }
int CWnd::SetWindowRgn(HRGN hRgn, BOOL bRedraw) { return ::SetWindowRgn(m_hWnd, hRgn, bRedraw); }
UINT_PTR CWnd::SetTimer(UINT_PTR id, UINT ms, void* fn) { return ::SetTimer(m_hWnd, id, ms, fn); }
BOOL CWnd::KillTimer(UINT_PTR id) { return ::KillTimer(m_hWnd, id); }
void CWnd::SetWindowText(LPCSTR text) { ::SetWindowTextA(m_hWnd, text); }
void CWnd::GetWindowText(CString& text) const {
  WndRecord* r = FindRecord(m_hWnd);
  text = CString(r ? r->title : std::string());
}
CWnd* CWnd::GetParent() const { return FromHandle(::GetParent(m_hWnd)); }
int CWnd::GetDlgCtrlID() const {
  WndRecord* r = FindRecord(m_hWnd);
  return r ? r->id : 0;
}
DWORD CWnd::GetStyle() const {
  WndRecord* r = FindRecord(m_hWnd);
  return r ? r->style : 0;
}
void CWnd::ScreenToClient(POINT* p) const { ::ScreenToClient(m_hWnd, p); }
void CWnd::ClientToScreen(POINT* p) const { ::ClientToScreen(m_hWnd, p); }
int CWnd::MessageBox(LPCSTR text, LPCSTR caption, UINT type) { return ::MessageBoxA(m_hWnd, text, caption, type); }

// ---- The pump -----------------------------------------------------------------------------------

void AfxPumpMessage(MSG* msg) {
  if (!msg->hwnd || !IsWindow(msg->hwnd)) return;
  // The window, then its parents, may consume the message before it is dispatched.
  for (HWND h = msg->hwnd; h; h = ::GetParent(h)) {
    CWnd* w = CWnd::FromHandle(h);
    if (w && w->PreTranslateMessage(msg)) return;
    WndRecord* r = FindRecord(h);
    if (!r || !(r->style & WS_CHILD)) break;
  }
  if (CWinApp* app = AfxGetApp(); app && app->PreTranslateMessage(msg)) return;
  if (IsWindow(msg->hwnd)) SendMessageA(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

// ---- Plain functions ----------------------------------------------------------------------------

LRESULT DefWindowProcA(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  WndRecord* rec = FindRecord(hWnd);
  if (!rec) return 0;
  switch (msg) {
    case WM_NCHITTEST: {
      if (!(rec->style & WS_THICKFRAME) || rec->zoomed || !rec->widget) return HTCLIENT;
      RECT wr;
      ::GetWindowRect(hWnd, &wr);
      const int x = GET_X_LPARAM(lParam), y = GET_Y_LPARAM(lParam);
      const int b = SM_CXFRAME_VALUE, c = 4 * SM_CXFRAME_VALUE;
      if (x < wr.left || x >= wr.right || y < wr.top || y >= wr.bottom) return HTNOWHERE;
      const bool l = x < wr.left + b, r = x >= wr.right - b, t = y < wr.top + b, bo = y >= wr.bottom - b;
      const bool lc = x < wr.left + c, rc = x >= wr.right - c, tc = y < wr.top + c, bc = y >= wr.bottom - c;
      if ((t && lc) || (l && tc)) return HTTOPLEFT;
      if ((t && rc) || (r && tc)) return HTTOPRIGHT;
      if ((bo && lc) || (l && bc)) return HTBOTTOMLEFT;
      if ((bo && rc) || (r && bc)) return HTBOTTOMRIGHT;
      if (l) return HTLEFT;
      if (r) return HTRIGHT;
      if (t) return HTTOP;
      if (bo) return HTBOTTOM;
      return HTCLIENT;
    }
    case WM_NCLBUTTONDOWN: {
      if (!rec->widget || rec->zoomed) return 0;
      // A child that answers HTCAPTION moves its top-level window.
      WndWidget* target = rec->widget;
      while (target->parentWidget() && dynamic_cast<WndWidget*>(target->window())) target = static_cast<WndWidget*>(target->window());
      // The platform's move loop follows the pointer from where the button went down.
      const QPoint global = LastPressPosition();
      if (wParam == HTCAPTION)
        target->BeginDrag(WndWidget::Drag::Move, HTCAPTION, global);
      else if (wParam >= HTLEFT && wParam <= HTBOTTOMRIGHT && (rec->style & WS_THICKFRAME))
        target->BeginDrag(WndWidget::Drag::Resize, static_cast<LRESULT>(wParam), global);
      return 0;
    }
    case WM_SYSCOMMAND:
      if ((wParam & 0xFFF0) == SC_CLOSE) {
        // A window without a system menu, or of a class without close, has no close command.
        if ((rec->classStyle & CS_NOCLOSE) || !(rec->style & WS_SYSMENU)) return 0;
        return SendMessageA(hWnd, WM_CLOSE, 0, 0);
      }
      return 0;
    case WM_SYSKEYDOWN:
      if (wParam == VK_F4) {
        HWND top = hWnd;
        while (WndRecord* r = FindRecord(top)) {
          if (!(r->style & WS_CHILD) || !r->parent) break;
          top = r->parent;
        }
        SendMessageA(top, WM_SYSCOMMAND, SC_CLOSE, 0);
      }
      return 0;
    case WM_CLOSE:
      if (CWnd* w = CWnd::FromHandle(hWnd)) w->DestroyWindow();
      return 0;
    case WM_ERASEBKGND: {
      auto* dc = reinterpret_cast<CDC*>(wParam);
      if (!dc || !rec->widget || rec->background <= 0) return 0;
      dc->FillSolidRect(0, 0, rec->widget->width(), rec->widget->height(), BrushColour(rec->background));
      return 1;
    }
    default:
      return 0;
  }
}

std::vector<HWND> orv::ui::ChildrenOf(HWND parent) {
  std::vector<HWND> out;
  WndRecord* pr = FindRecord(parent);
  if (!pr || !pr->widget) return out;
  for (QObject* o : pr->widget->children())
    if (auto* w = dynamic_cast<WndWidget*>(o); w && w->hwnd()) out.push_back(w->hwnd());
  return out;
}

BOOL DestroyWindow(HWND hWnd) {
  CWnd* w = CWnd::FromHandle(hWnd);
  return w ? w->DestroyWindow() : FALSE;
}

HWND FindWindowA(LPCSTR, LPCSTR lpWindowName) {
  if (!lpWindowName) return nullptr;
  const std::string title = lpWindowName;
  if (HWND h = FindLocalTopLevel(title)) return h;
  const QString path = TitleSocketPath(title);
  if (path.isEmpty() || !OwnSocket(path)) return nullptr;
  QLocalSocket s;
  s.connectToServer(path);
  if (s.waitForConnected(500)) {
    s.abort();
    return kForeignWindow;
  }
  return nullptr;
}

HWND GetDesktopWindow() { return kDesktop; }

BOOL GetWindowRect(HWND hWnd, RECT* r) {
  if (!r) return FALSE;
  if (hWnd == kDesktop) {
    *r = ToRect(DesktopQRect());
    return TRUE;
  }
  WndWidget* w = WidgetOf(hWnd);
  if (!w) return FALSE;
  if (w->isWindow()) {
    *r = ToRect(w->geometry());
  } else {
    const QPoint g = w->mapToGlobal(QPoint(0, 0));
    *r = RECT{g.x(), g.y(), g.x() + w->width(), g.y() + w->height()};
  }
  return TRUE;
}

BOOL GetClientRect(HWND hWnd, RECT* r) {
  if (!r) return FALSE;
  if (hWnd == kDesktop) {
    const QRect d = DesktopQRect();
    *r = RECT{0, 0, d.width(), d.height()};
    return TRUE;
  }
  WndWidget* w = WidgetOf(hWnd);
  if (!w) return FALSE;
  *r = RECT{0, 0, w->width(), w->height()};
  return TRUE;
}

BOOL ShowWindow(HWND hWnd, int cmd) {
  WndRecord* rec = FindRecord(hWnd);
  if (!rec || !rec->widget) return FALSE;
  WndWidget* w = rec->widget;
  const BOOL wasVisible = w->isVisible() ? TRUE : FALSE;
  switch (cmd) {
    case SW_HIDE:
      w->hide();
      break;
    case SW_MAXIMIZE:
      if (!rec->zoomed) {
        rec->normalGeometry = w->geometry();
        rec->zoomed = true;
        if (w->isMinimized()) w->showNormal();
        w->setGeometry(ZoomArea(w));
      }
      w->show();
      w->raise();
      break;
    case SW_SHOWMINIMIZED:
    case SW_MINIMIZE:
      w->showMinimized();
      break;
    case SW_RESTORE:
    case SW_SHOWNORMAL:
      if (w->isMinimized()) {
        w->showNormal();
      } else if (rec->zoomed) {
        rec->zoomed = false;
        w->setGeometry(rec->normalGeometry);
      }
      w->show();
      break;
    default:
      w->show();
      break;
  }
  NotifySizeIfChanged(hWnd);
  return wasVisible;
}

static void SetTopMost(WndRecord* rec, bool on) {
  WndWidget* w = rec->widget;
  if (on)
    rec->exStyle |= WS_EX_TOPMOST;
  else
    rec->exStyle &= ~WS_EX_TOPMOST;
  if (!w->isWindow()) return;
  if (QWindow* win = w->windowHandle()) {
    win->setFlag(Qt::WindowStaysOnTopHint, on);
  } else {
    const bool vis = w->isVisible();
    w->setWindowFlag(Qt::WindowStaysOnTopHint, on);
    if (vis) w->show();
  }
  if (on) w->raise();
}

BOOL SetWindowPos(HWND hWnd, HWND after, int x, int y, int cx, int cy, UINT flags) {
  WndRecord* rec = FindRecord(hWnd);
  if (!rec || !rec->widget) return FALSE;
  WndWidget* w = rec->widget;
  if (!(flags & SWP_NOZORDER)) {
    if (after == HWND_TOPMOST)
      SetTopMost(rec, true);
    else if (after == HWND_NOTOPMOST)
      SetTopMost(rec, false);
    else if (after == HWND_TOP)
      w->raise();
    else if (after == HWND_BOTTOM)
      w->lower();
  }
  if (!(flags & SWP_NOMOVE)) w->move(x, y);
  if (!(flags & SWP_NOSIZE)) w->resize(std::max(cx, 0), std::max(cy, 0));
  if (flags & SWP_SHOWWINDOW) w->show();
  if (flags & SWP_HIDEWINDOW) w->hide();
  NotifySizeIfChanged(hWnd);
  return TRUE;
}

BOOL MoveWindow(HWND hWnd, int x, int y, int cx, int cy, BOOL) {
  return SetWindowPos(hWnd, nullptr, x, y, cx, cy, SWP_NOZORDER | SWP_NOACTIVATE);
}

BOOL IsZoomed(HWND hWnd) {
  WndRecord* r = FindRecord(hWnd);
  return r && r->zoomed ? TRUE : FALSE;
}

BOOL IsIconic(HWND hWnd) {
  WndWidget* w = WidgetOf(hWnd);
  return w && w->isMinimized() ? TRUE : FALSE;
}

BOOL IsWindowVisible(HWND hWnd) {
  WndWidget* w = WidgetOf(hWnd);
  return w && w->isVisible() ? TRUE : FALSE;
}

HWND SetActiveWindow(HWND hWnd) {
  HWND prev = GetActiveWindow();
  if (WndWidget* w = WidgetOf(hWnd)) {
    w->window()->raise();
    w->window()->activateWindow();
  }
  return prev;
}

HWND GetActiveWindow() {
  auto* w = dynamic_cast<WndWidget*>(QApplication::activeWindow());
  return w ? w->hwnd() : nullptr;
}

HWND SetFocus(HWND hWnd) {
  HWND prev = GetFocus();
  // A control takes the keyboard in its own widget (the button, the edit), as a Tab to it would.
  if (WndWidget* w = WidgetOf(hWnd)) (w->inner ? w->inner : w)->setFocus(Qt::OtherFocusReason);
  return prev;
}

HWND GetFocus() {
  for (QWidget* f = QApplication::focusWidget(); f; f = f->parentWidget())
    if (auto* w = dynamic_cast<WndWidget*>(f); w && w->hwnd()) return w->hwnd();
  return nullptr;
}

HWND GetParent(HWND hWnd) {
  WndRecord* r = FindRecord(hWnd);
  return r ? r->parent : nullptr;
}

BOOL GetWindowPlacement(HWND hWnd, WINDOWPLACEMENT* wp) {
  WndRecord* rec = FindRecord(hWnd);
  if (!rec || !rec->widget || !wp) return FALSE;
  WndWidget* w = rec->widget;
  wp->length = sizeof(WINDOWPLACEMENT);
  wp->flags = 0;
  wp->showCmd = w->isMinimized() ? SW_SHOWMINIMIZED : rec->zoomed ? SW_SHOWMAXIMIZED : SW_SHOWNORMAL;
  wp->ptMinPosition = {-1, -1};
  wp->ptMaxPosition = {-1, -1};
  const QRect g = rec->zoomed ? rec->normalGeometry : w->geometry();
  wp->rcNormalPosition = ToRect(g);
  return TRUE;
}

BOOL SetWindowPlacement(HWND hWnd, const WINDOWPLACEMENT* wp) {
  WndRecord* rec = FindRecord(hWnd);
  if (!rec || !rec->widget || !wp) return FALSE;
  const RECT& r = wp->rcNormalPosition;
  const QRect g(r.left, r.top, r.right - r.left, r.bottom - r.top);
  if (rec->zoomed)
    rec->normalGeometry = g;
  else
    rec->widget->setGeometry(g);
  NotifySizeIfChanged(hWnd);
  if (wp->showCmd != SW_HIDE || rec->widget->isVisible()) ShowWindow(hWnd, static_cast<int>(wp->showCmd));
  return TRUE;
}

BOOL InvalidateRect(HWND hWnd, const RECT* r, BOOL bErase) {
  WndWidget* w = WidgetOf(hWnd);
  if (!w) return FALSE;
  w->invalid = true;
  if (bErase) w->eraseNext = true;
  if (r)
    w->update(QRect(r->left, r->top, r->right - r->left, r->bottom - r->top));
  else
    w->update();
  return TRUE;
}

BOOL UpdateWindow(HWND hWnd) {
  WndWidget* w = WidgetOf(hWnd);
  if (!w) return FALSE;
  // Only a window with something invalid gets its paint now, as on the platform.
  if (w->isVisible() && w->invalid) w->repaint();
  return TRUE;
}

int GetWindowTextA(HWND hWnd, LPSTR buf, int max) {
  WndRecord* r = FindRecord(hWnd);
  if (!r || !buf || max <= 0) return 0;
  lstrcpynA(buf, r->title.c_str(), max);
  return lstrlenA(buf);
}

BOOL SetWindowTextA(HWND hWnd, LPCSTR text) {
  WndRecord* r = FindRecord(hWnd);
  if (!r) return FALSE;
  r->title = text ? text : "";
  if (r->widget) r->widget->setWindowTitle(QString::fromUtf8(r->title.c_str()));
  if (!(r->style & WS_CHILD)) RegisterTitle(r);
  return TRUE;
}

BOOL EnableWindow(HWND hWnd, BOOL enable) {
  WndWidget* w = WidgetOf(hWnd);
  if (!w) return FALSE;
  const BOOL wasDisabled = !w->isEnabled();
  w->setEnabled(enable != FALSE);
  return wasDisabled;
}

BOOL IsWindowEnabled(HWND hWnd) {
  WndWidget* w = WidgetOf(hWnd);
  return w && w->isEnabled() ? TRUE : FALSE;
}

BOOL ScreenToClient(HWND hWnd, POINT* p) {
  WndWidget* w = WidgetOf(hWnd);
  if (!w || !p) return FALSE;
  const QPoint q = w->mapFromGlobal(QPoint(p->x, p->y));
  *p = POINT{q.x(), q.y()};
  return TRUE;
}

BOOL ClientToScreen(HWND hWnd, POINT* p) {
  WndWidget* w = WidgetOf(hWnd);
  if (!w || !p) return FALSE;
  const QPoint q = w->mapToGlobal(QPoint(p->x, p->y));
  *p = POINT{q.x(), q.y()};
  return TRUE;
}

BOOL GetCursorPos(POINT* p) {
  if (!p) return FALSE;
  const QPoint q = QCursor::pos();
  *p = POINT{q.x(), q.y()};
  return TRUE;
}

HWND orv::ui::FindLocalTopLevel(const std::string& title) {
  for (QWidget* tl : QApplication::topLevelWidgets()) {
    auto* w = dynamic_cast<WndWidget*>(tl);
    if (!w || !w->hwnd()) continue;
    WndRecord* r = FindRecord(w->hwnd());
    if (r && !r->destroying && r->title == title) return w->hwnd();
  }
  return nullptr;
}

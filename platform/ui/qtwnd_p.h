// Private to platform/ui: the window table and the Qt widget behind each window.
#pragma once

#include "platform/ui/afxwin.h"

#include <QImage>
#include <QPointer>
#include <QRect>
#include <QWidget>
#include <functional>
#include <map>
#include <string>
#include <vector>

class QLocalServer;

namespace orv::ui {

class WndWidget;

struct WndRecord {
  CWnd* wnd = nullptr;
  QPointer<WndWidget> widget;
  HWND parent = nullptr;
  DWORD style = 0;
  DWORD exStyle = 0;
  UINT classStyle = 0;
  int background = 0;  // class brush: a system colour index + 1, 0 for none
  std::string title;
  int id = 0;
  bool destroying = false;
  bool zoomed = false;      // maximised by us: the window manager may not exist (Xvfb, offscreen)
  QRect normalGeometry;     // the placement to restore to while zoomed
  QSize reportedSize{-1, -1};
  QLocalServer* titleServer = nullptr;  // makes the title findable by other copies of the program
};

// Every nested loop the framework runs (message box, dialog, property sheet, file chooser) lives
// in one of these, with the way to close it as if cancelled (see RunOutsideModalLoops).
class ModalLoopScope {
 public:
  explicit ModalLoopScope(std::function<void()> close);
  ~ModalLoopScope();
  ModalLoopScope(const ModalLoopScope&) = delete;
  ModalLoopScope& operator=(const ModalLoopScope&) = delete;
  // False while the program is on its way out: the caller gives its cancelling answer at once.
  bool MayRun() const;

 private:
  std::function<void()> close_;
};

// Window table. Handles are never reused within a run, so a stale handle names nothing.
HWND AddWindow(CWnd* wnd);
WndRecord* FindRecord(HWND h);  // UI thread only
void RemoveWindow(HWND h);
bool HasWindow(HWND h);          // any thread

// The widget of a window.
class WndWidget : public QWidget {
 public:
  WndWidget(HWND h, QWidget* parent, Qt::WindowFlags flags);
  HWND hwnd() const { return hwnd_; }
  void Detach() { hwnd_ = nullptr; }

  QImage surface;          // what the window shows; drawing goes here
  QWidget* inner = nullptr;  // a control's Qt widget, filling the window; it paints itself
  void SetInner(QWidget* w);
  bool eraseNext = true;   // the next paint erases to the class background first
  bool invalid = true;     // the window asked to be painted (WM_PAINT); otherwise a paint only shows the surface
  bool flushOnly = false;  // showing a client DC's drawing: never a WM_PAINT meanwhile
  // Its last paint went straight into the top-level's buffer, leaving the surface behind: every
  // paint asks it again.
  bool paintsDirect = false;

  // Moving and sizing a window whose frame we draw ourselves. Nothing happens until the pointer
  // really moves with the button held: then the window manager is asked, or, without one, the
  // window follows the pointer until the button is released.
  enum class Drag { None, Move, Resize };
  void BeginDrag(Drag kind, LRESULT edge, QPoint globalPos);

 protected:
  void paintEvent(QPaintEvent*) override;
  void resizeEvent(QResizeEvent*) override;
  void moveEvent(QMoveEvent*) override;
  void mousePressEvent(QMouseEvent*) override;
  void mouseReleaseEvent(QMouseEvent*) override;
  void mouseDoubleClickEvent(QMouseEvent*) override;
  void mouseMoveEvent(QMouseEvent*) override;
  void keyPressEvent(QKeyEvent*) override;
  void keyReleaseEvent(QKeyEvent*) override;
  void closeEvent(QCloseEvent*) override;
  void changeEvent(QEvent*) override;

 private:
  void MouseButton(QMouseEvent* e, bool down, bool dbl);
  QImage* DirectTarget(QRect* place);
  HWND hwnd_;
};

// During the paint of window h: the top-level's buffer and the window's place in it, when the
// window's pixels can be written there straight (a caller that takes it draws all of them).
QImage* DirectPaintTarget(HWND h, QRect* place);

// Test seam: stands in for the window manager's move and resize (Qt::Edges empty for a move);
// returns whether it took the drag. nullptr: ask the real one.
void SetSystemDragHookForTests(std::function<bool(QWidget*, Qt::Edges)> hook);

// Screen position of the last mouse button press.
QPoint LastPressPosition();

// Sends WM_SIZE when the widget's size differs from the size last reported.
void NotifySizeIfChanged(HWND h);

// Colour of a class background brush value (COLOR_x + 1).
COLORREF BrushColour(int brush);
std::vector<HWND> ChildrenOf(HWND parent);
HWND FindLocalTopLevel(const std::string& title);
// Test and framework hooks kept in wnd.cpp.
const MessageBoxHook& CurrentMessageBoxHook();
int ScreenDepthOverride();
QWidget* WidgetForHandle(HWND h);
// Whether a client point lies inside the window's region (the whole window when none is set).
bool WindowRegionContains(HWND hWnd, int x, int y);

QImage* ImageOf(CBitmap* bitmap);
QColor ToQColor(COLORREF c);
COLORREF FromQColor(const QColor& c);

// The virtual-key code and lParam of a Qt key event; false for keys with no code.
bool TranslateKey(const class QKeyEvent* e, UINT* vk, LPARAM* lParam, bool keyUp);

}  // namespace orv::ui

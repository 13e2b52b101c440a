// The window framework: messages across threads, the pump, input translation, placement, drawing.
#include "platform/ui/afxwin.h"
#include "platform/ui/qtwnd_p.h"
#include "tests/support/uitest.h"
#include "platform/ui/testing.h"

#include <QApplication>
#include <QCursor>
#include <QKeyEvent>
#include <QLocalServer>
#include <QMouseEvent>
#include <QTest>
#include <QWindow>
#include <atomic>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

using orv::test::MessageBoxAnswerer;
using orv::test::Pump;
using orv::test::PumpUntil;
using orv::test::RecordingWnd;
using orv::test::Widget;

namespace {

TEST(Windows, CreationSendsMinMaxCreateAndSizeInOrder) {
  RecordingWnd w;
  ASSERT_TRUE(IsWindow(w.m_hWnd));
  std::vector<UINT> order;
  for (auto& r : w.log)
    if (r.message == WM_GETMINMAXINFO || r.message == WM_CREATE || r.message == WM_SIZE) order.push_back(r.message);
  ASSERT_GE(order.size(), 3u);
  EXPECT_EQ(WM_GETMINMAXINFO, order[0]);
  EXPECT_EQ(WM_CREATE, order[1]);
  EXPECT_EQ(WM_SIZE, order[2]);
  const auto size = w.Of(WM_SIZE).front();
  EXPECT_EQ(400, LOWORD(size.lParam));
  EXPECT_EQ(300, HIWORD(size.lParam));
  RECT rc;
  w.GetWindowRect(&rc);
  EXPECT_EQ((RECT{100, 100, 500, 400}).left, rc.left);
  EXPECT_EQ(400, rc.bottom);
}

TEST(Windows, CreateRefusedByHandlerLeavesNoWindow) {
  class Refusing : public CWnd {
   protected:
    bool OnWndMsg(UINT m, WPARAM, LPARAM, LRESULT* r) override {
      if (m != WM_CREATE) return false;
      *r = -1;
      return true;
    }
  } w;
  EXPECT_FALSE(w.CreateEx(0, AfxRegisterWndClass(0), "x", WS_POPUP, 0, 0, 10, 10, nullptr, 0));
  EXPECT_EQ(nullptr, w.m_hWnd);
}

TEST(Windows, HandleOfDestroyedWindowIsHarmless) {
  HWND h;
  {
    RecordingWnd w;
    h = w.m_hWnd;
    EXPECT_TRUE(w.DestroyWindow());
    EXPECT_EQ(1, w.Count(WM_DESTROY));
    EXPECT_EQ(1, w.Count(WM_NCDESTROY));
    EXPECT_FALSE(w.DestroyWindow());  // a second destroy does nothing
    EXPECT_EQ(1, w.Count(WM_DESTROY));
  }
  EXPECT_FALSE(IsWindow(h));
  EXPECT_EQ(0, SendMessageA(h, WM_USER, 1, 2));
  EXPECT_FALSE(PostMessageA(h, WM_USER, 1, 2));
  RECT rc{};
  EXPECT_FALSE(GetWindowRect(h, &rc));
  EXPECT_FALSE(ShowWindow(h, SW_SHOW));
  Pump();
}

TEST(Windows, ParentIsToldBeforeItsChildrenAndChildrenGoWithIt) {
  auto* parent = new RecordingWnd;
  RecordingWnd child(0, WS_CHILD | WS_VISIBLE, RECT{1, 1, 20, 20}, parent->m_hWnd);
  std::vector<HWND> destroyed;
  parent->handler = [&](UINT m, WPARAM, LPARAM, bool*) {
    if (m == WM_DESTROY) destroyed.push_back(parent->m_hWnd);
    return LRESULT{0};
  };
  child.handler = [&](UINT m, WPARAM, LPARAM, bool*) {
    if (m == WM_DESTROY) destroyed.push_back(child.m_hWnd);
    return LRESULT{0};
  };
  const HWND ph = parent->m_hWnd, ch = child.m_hWnd;
  EXPECT_EQ(ph, GetParent(ch));
  parent->DestroyWindow();  // while the object is whole, so its own handler runs
  delete parent;
  ASSERT_EQ(2u, destroyed.size());
  EXPECT_EQ(ph, destroyed[0]);
  EXPECT_EQ(ch, destroyed[1]);
  EXPECT_FALSE(IsWindow(ch));
  EXPECT_EQ(nullptr, child.m_hWnd);
}

TEST(Messages, SendFromWorkerReturnsOnlyAfterTheUiThreadHandledIt) {
  RecordingWnd w;
  std::atomic<bool> handled{false};
  std::thread::id handlerThread;
  w.handler = [&](UINT m, WPARAM wp, LPARAM, bool* h) {
    if (m != WM_USER + 10) return LRESULT{0};
    handlerThread = std::this_thread::get_id();
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    handled = true;
    *h = true;
    return static_cast<LRESULT>(wp * 2);
  };
  std::atomic<bool> sawHandled{false};
  LRESULT result = 0;
  std::atomic<bool> done{false};
  std::thread worker([&] {
    result = SendMessageA(w.m_hWnd, WM_USER + 10, 21, 0);
    sawHandled = handled.load();
    done = true;
  });
  // The UI thread waits for the worker while still serving its sends: no deadlock.
  orv::ui::WaitPumpingSentMessages([&] { return done.load(); });
  worker.join();
  EXPECT_TRUE(sawHandled);
  EXPECT_EQ(42, result);
  EXPECT_EQ(std::this_thread::get_id(), handlerThread);
}

TEST(Messages, SendFromWorkerToDestroyedWindowReturnsAtOnce) {
  HWND h;
  {
    RecordingWnd w;
    h = w.m_hWnd;
  }
  LRESULT r = 5;
  std::thread worker([&] { r = SendMessageA(h, WM_USER, 0, 0); });
  worker.join();  // would hang if it waited for the UI thread
  EXPECT_EQ(0, r);
}

TEST(Messages, PostedMessagesPassPreTranslateFirst) {
  RecordingWnd w;
  w.preTranslate = [](MSG* m) { return m->message == WM_USER + 2 ? TRUE : FALSE; };
  EXPECT_TRUE(PostMessageA(w.m_hWnd, WM_USER + 1, 3, 4));
  EXPECT_TRUE(PostMessageA(w.m_hWnd, WM_USER + 2, 0, 0));
  EXPECT_EQ(0, w.Count(WM_USER + 1));  // queued, not run yet
  Pump();
  ASSERT_EQ(1, w.Count(WM_USER + 1));
  EXPECT_EQ(3u, w.Of(WM_USER + 1)[0].wParam);
  EXPECT_EQ(0, w.Count(WM_USER + 2));
}

TEST(Messages, TimersTickUntilKilled) {
  RecordingWnd w;
  EXPECT_EQ(100u, w.SetTimer(100, 20, nullptr));
  ASSERT_TRUE(PumpUntil([&] { return w.Count(WM_TIMER) >= 2; }));
  EXPECT_EQ(100u, w.Of(WM_TIMER)[0].wParam);
  EXPECT_TRUE(w.KillTimer(100));
  EXPECT_FALSE(w.KillTimer(100));
  const int ticks = w.Count(WM_TIMER);
  PumpUntil([] { return false; }, 80);
  EXPECT_EQ(ticks, w.Count(WM_TIMER));
}

TEST(Messages, TimerOfDestroyedWindowStops) {
  auto* w = new RecordingWnd;
  w->SetTimer(1, 10, nullptr);
  delete w;
  PumpUntil([] { return false; }, 50);  // must not deliver to a dead window
  SUCCEED();
}

TEST(Messages, PostedAndTimerMessagesCarryTheCursorPosition) {
  // As the platform's message retrieval does: a tooltip relay reads the pointer from them.
  QCursor::setPos(321, 123);
  RecordingWnd w;
  std::map<UINT, POINT> seen;
  w.preTranslate = [&](MSG* m) {
    seen[m->message] = m->pt;
    return FALSE;
  };
  PostMessageA(w.m_hWnd, WM_USER + 5, 0, 0);
  w.SetTimer(9, 10, nullptr);
  ASSERT_TRUE(PumpUntil([&] { return seen.count(WM_USER + 5) && seen.count(WM_TIMER); }));
  w.KillTimer(9);
  for (UINT m : {WM_USER + 5, WM_TIMER}) {
    EXPECT_EQ(321, seen[m].x) << m;
    EXPECT_EQ(123, seen[m].y) << m;
  }
}

TEST(Messages, PostQuitMessageIsRecorded) {
  orv::ui::ClearQuitForTests();
  PostQuitMessage(3);
  int code = 0;
  EXPECT_TRUE(orv::ui::QuitRequested(&code));
  EXPECT_EQ(3, code);
  orv::ui::ClearQuitForTests();
}

TEST(Input, KeypadKeysAreDistinctFromTheMainRow) {
  // With NumLock on the keypad gives digits and its decimal point; with NumLock off its keys are
  // the navigation keys, which differ from the separate block only by the extended-key bit.
  struct Case {
    Qt::Key key;
    bool keypad;
    UINT vk;
    bool extended;
  };
  const Case cases[] = {
      {Qt::Key_8, true, VK_NUMPAD8, false},     {Qt::Key_8, false, 0x38, false},
      {Qt::Key_0, true, VK_NUMPAD0, false},     {Qt::Key_Period, true, VK_DECIMAL, false},
      {Qt::Key_Asterisk, true, VK_MULTIPLY, false}, {Qt::Key_Slash, true, VK_DIVIDE, true},
      {Qt::Key_Delete, true, VK_DELETE, false}, {Qt::Key_Delete, false, VK_DELETE, true},
      {Qt::Key_Insert, true, VK_INSERT, false}, {Qt::Key_Insert, false, VK_INSERT, true},
      {Qt::Key_Up, true, VK_UP, false},         {Qt::Key_Up, false, VK_UP, true},
      {Qt::Key_Down, true, VK_DOWN, false},     {Qt::Key_Left, true, VK_LEFT, false},
      {Qt::Key_Right, true, VK_RIGHT, false},   {Qt::Key_Home, true, VK_HOME, false},
      {Qt::Key_End, true, VK_END, false},       {Qt::Key_PageUp, true, VK_PRIOR, false},
      {Qt::Key_PageDown, true, VK_NEXT, false},
  };
  for (const Case& c : cases) {
    RecordingWnd w;
    QTest::keyClick(Widget(w.m_hWnd), c.key, c.keypad ? Qt::KeypadModifier : Qt::NoModifier);
    const auto downs = w.Of(WM_KEYDOWN);
    ASSERT_EQ(1u, downs.size()) << c.key;
    EXPECT_EQ(c.vk, downs[0].wParam) << c.key << (c.keypad ? " on the keypad" : "");
    EXPECT_EQ(c.extended, (downs[0].lParam & KF_EXTENDED_BIT) != 0) << c.key << (c.keypad ? " on the keypad" : "");
    EXPECT_EQ(1, LOWORD(downs[0].lParam));  // repeat count
    EXPECT_EQ(1, w.Count(WM_KEYUP));
  }
}

TEST(Input, AltKeysAreSystemKeysWithTheContextBit) {
  RecordingWnd w;
  QTest::keyClick(Widget(w.m_hWnd), Qt::Key_Plus, Qt::KeypadModifier | Qt::AltModifier);
  std::vector<orv::test::Recorded> sys;
  for (auto& r : w.Of(WM_SYSKEYDOWN))
    if (r.wParam != VK_MENU) sys.push_back(r);  // the Alt key itself comes first, as a system key
  ASSERT_EQ(1u, sys.size());
  EXPECT_EQ(VK_ADD, sys[0].wParam);
  EXPECT_NE(0, sys[0].lParam & KF_ALTDOWN_BIT);
  EXPECT_EQ(0, w.Count(WM_KEYDOWN));
}

TEST(Input, AutoRepeatSetsThePreviousStateBit) {
  RecordingWnd w;
  QKeyEvent e(QEvent::KeyPress, Qt::Key_Right, Qt::NoModifier, QString(), true);
  QApplication::sendEvent(Widget(w.m_hWnd), &e);
  ASSERT_EQ(1, w.Count(WM_KEYDOWN));
  EXPECT_NE(0, w.Of(WM_KEYDOWN)[0].lParam & KF_REPEAT_BIT);
}

void Click(QWidget* w, QPoint p, QEvent::Type t, Qt::MouseButton b = Qt::LeftButton) {
  const Qt::MouseButtons state = t == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(b);
  QMouseEvent e(t, QPointF(p), QPointF(w->mapToGlobal(p)), b, state, Qt::NoModifier);
  QApplication::sendEvent(w, &e);
}

TEST(Input, DoubleClicksOnlyForClassesThatAskForThem) {
  RecordingWnd plain(0);
  RecordingWnd dbl(CS_DBLCLKS);
  for (RecordingWnd* w : {&plain, &dbl}) {
    QWidget* q = Widget(w->m_hWnd);
    Click(q, {5, 6}, QEvent::MouseButtonPress);
    Click(q, {5, 6}, QEvent::MouseButtonRelease);
    Click(q, {5, 6}, QEvent::MouseButtonDblClick);
    Click(q, {5, 6}, QEvent::MouseButtonRelease);
  }
  EXPECT_EQ(2, plain.Count(WM_LBUTTONDOWN));
  EXPECT_EQ(0, plain.Count(WM_LBUTTONDBLCLK));
  EXPECT_EQ(1, dbl.Count(WM_LBUTTONDOWN));
  ASSERT_EQ(1, dbl.Count(WM_LBUTTONDBLCLK));
  const auto d = dbl.Of(WM_LBUTTONDBLCLK)[0];
  EXPECT_EQ(5, GET_X_LPARAM(d.lParam));
  EXPECT_EQ(6, GET_Y_LPARAM(d.lParam));
  EXPECT_EQ(MK_LBUTTON, d.wParam & MK_LBUTTON);
}

TEST(Input, CaptionHitTestMovesTheWindow) {
  RecordingWnd w;
  w.handler = [](UINT m, WPARAM, LPARAM, bool* h) {
    if (m != WM_NCHITTEST) return LRESULT{0};
    *h = true;
    return HTCAPTION;
  };
  w.ShowWindow(SW_SHOW);
  QWidget* q = Widget(w.m_hWnd);
  Click(q, {10, 10}, QEvent::MouseButtonPress);
  QMouseEvent move(QEvent::MouseMove, QPointF(60, 40), QPointF(q->mapToGlobal(QPoint(60, 40))), Qt::NoButton,
                   Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(q, &move);
  Click(q, {60, 40}, QEvent::MouseButtonRelease);
  RECT rc;
  w.GetWindowRect(&rc);
  EXPECT_EQ(150, rc.left);
  EXPECT_EQ(130, rc.top);
  EXPECT_EQ(0, w.Count(WM_LBUTTONDOWN));  // a caption press is not a client press
  EXPECT_EQ(1, w.Count(WM_NCLBUTTONDOWN));
}

TEST(Input, SizingBorderResizesButNotBelowTheMinimum) {
  RecordingWnd w(0, WS_POPUP | WS_THICKFRAME);
  w.handler = [](UINT m, WPARAM, LPARAM l, bool* h) {
    if (m == WM_GETMINMAXINFO) {
      reinterpret_cast<MINMAXINFO*>(l)->ptMinTrackSize = {128, 100};
      *h = true;
    }
    return LRESULT{0};
  };
  // The minimum applies from the next size query on: create again with the handler in place.
  w.DestroyWindow();
  w.CreateEx(0, AfxRegisterWndClass(0), "sized", WS_POPUP | WS_THICKFRAME, 100, 100, 400, 300, nullptr, 0);
  EXPECT_EQ(HTBOTTOMRIGHT, SendMessageA(w.m_hWnd, WM_NCHITTEST, 0, MAKELPARAM(498, 398)));
  EXPECT_EQ(HTLEFT, SendMessageA(w.m_hWnd, WM_NCHITTEST, 0, MAKELPARAM(101, 250)));
  EXPECT_EQ(HTCLIENT, SendMessageA(w.m_hWnd, WM_NCHITTEST, 0, MAKELPARAM(300, 250)));
  QWidget* q = Widget(w.m_hWnd);
  Click(q, {398, 298}, QEvent::MouseButtonPress);
  QMouseEvent move(QEvent::MouseMove, QPointF(0, 0), QPointF(q->mapToGlobal(QPoint(0, 0))), Qt::NoButton,
                   Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(q, &move);
  Click(q, {0, 0}, QEvent::MouseButtonRelease);
  RECT rc;
  w.GetWindowRect(&rc);
  EXPECT_EQ(128, rc.right - rc.left);
  EXPECT_EQ(100, rc.bottom - rc.top);
  w.SetWindowPos(nullptr, 0, 0, 10, 10, SWP_NOMOVE | SWP_NOZORDER);
  w.GetWindowRect(&rc);
  EXPECT_EQ(128, rc.right - rc.left);
}

TEST(Placement, ZoomFillsTheDesktopAndRestoreReturns) {
  const RECT desk{0, 0, 1024, 768};
  orv::ui::SetDesktopRectForTests(&desk);
  RecordingWnd w(0, WS_POPUP | WS_THICKFRAME);
  w.ShowWindow(SW_SHOW);
  w.ShowWindow(SW_MAXIMIZE);
  EXPECT_TRUE(w.IsZoomed());
  RECT rc;
  w.GetClientRect(&rc);
  EXPECT_EQ(1024, rc.right);
  EXPECT_EQ(768, rc.bottom);
  EXPECT_EQ(SIZE_MAXIMIZED, w.Of(WM_SIZE).back().wParam);
  EXPECT_EQ(HTCLIENT, SendMessageA(w.m_hWnd, WM_NCHITTEST, 0, MAKELPARAM(1, 1)));  // no sizing border when zoomed
  WINDOWPLACEMENT wp{};
  w.GetWindowPlacement(&wp);
  EXPECT_EQ(static_cast<UINT>(SW_SHOWMAXIMIZED), wp.showCmd);
  EXPECT_EQ(100, wp.rcNormalPosition.left);
  EXPECT_EQ(400, wp.rcNormalPosition.bottom);
  w.ShowWindow(SW_RESTORE);
  EXPECT_FALSE(w.IsZoomed());
  w.GetWindowRect(&rc);
  EXPECT_EQ(100, rc.left);
  EXPECT_EQ(500, rc.right);
  EXPECT_EQ(SIZE_RESTORED, w.Of(WM_SIZE).back().wParam);
  orv::ui::SetDesktopRectForTests(nullptr);
}

TEST(Placement, TopMostKeepsPositionAndSize) {
  RecordingWnd w;
  w.ShowWindow(SW_SHOW);
  ::SetWindowPos(w.m_hWnd, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  RECT rc;
  w.GetWindowRect(&rc);
  EXPECT_EQ(100, rc.left);
  EXPECT_EQ(500, rc.right);
  auto onTop = [&] { return bool(Widget(w.m_hWnd)->windowHandle()->flags() & Qt::WindowStaysOnTopHint); };
  EXPECT_TRUE(onTop());
  ::SetWindowPos(w.m_hWnd, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  EXPECT_FALSE(onTop());
  w.GetWindowRect(&rc);
  EXPECT_EQ(300, rc.bottom - rc.top);
}

TEST(Placement, WindowManagerCloseIsRefusedWithoutASystemMenu) {
  RecordingWnd w(CS_NOCLOSE);
  w.ShowWindow(SW_SHOW);
  Widget(w.m_hWnd)->close();
  EXPECT_TRUE(IsWindow(w.m_hWnd));
  EXPECT_EQ(1, w.Count(WM_SYSCOMMAND));
  RecordingWnd closable(0, WS_POPUP | WS_SYSMENU);
  Widget(closable.m_hWnd)->close();
  EXPECT_FALSE(IsWindow(closable.m_hWnd));
}

TEST(Drawing, BlitsCopyPixelsAndStretchScales) {
  CBitmap bmp;
  ASSERT_TRUE(bmp.CreateCompatibleBitmap(nullptr, 4, 2));
  CDC mem;
  mem.CreateCompatibleDC(nullptr);
  CBitmap* old = mem.SelectObject(&bmp);
  EXPECT_EQ(nullptr, old);
  mem.FillSolidRect(0, 0, 2, 2, RGB(255, 0, 0));
  mem.FillSolidRect(2, 0, 2, 2, RGB(0, 0, 255));
  EXPECT_EQ(RGB(255, 0, 0), bmp.GetPixel(1, 1));

  RecordingWnd w;
  {
    CClientDC dc(&w);
    dc.FillSolidRect(0, 0, 400, 300, RGB(135, 161, 110));
    dc.BitBlt(10, 10, 4, 2, &mem, 0, 0, SRCCOPY);
    dc.StretchBlt(100, 100, 40, 20, &mem, 0, 0, 4, 2, SRCCOPY);
    EXPECT_EQ(RGB(255, 0, 0), dc.GetPixel(11, 11));
    EXPECT_EQ(RGB(0, 0, 255), dc.GetPixel(12, 10));
    EXPECT_EQ(RGB(135, 161, 110), dc.GetPixel(14, 10));
    EXPECT_EQ(RGB(255, 0, 0), dc.GetPixel(119, 119));
    EXPECT_EQ(RGB(0, 0, 255), dc.GetPixel(120, 100));
    EXPECT_EQ(RGB(0, 0, 255), dc.GetPixel(139, 119));
    EXPECT_EQ(RGB(135, 161, 110), dc.GetPixel(140, 100));
    EXPECT_EQ(CLR_INVALID, dc.GetPixel(400, 0));
  }
  // An empty memory DC draws nothing and does not crash.
  CDC empty;
  empty.CreateCompatibleDC(nullptr);
  CClientDC dc(&w);
  EXPECT_FALSE(dc.BitBlt(0, 0, 10, 10, &empty, 0, 0, SRCCOPY));
}

TEST(Drawing, PaintWithoutEraseKeepsEarlierPixelsAndEraseFillsTheClassBrush) {
  class Painter : public CWnd {
   public:
    int paints = 0;
    bool OnWndMsg(UINT m, WPARAM, LPARAM, LRESULT*) override {
      if (m != WM_PAINT) return false;
      CPaintDC dc(this);
      dc.FillSolidRect(0, 0, 10, 10, RGB(1, 2, 3));
      ++paints;
      return true;
    }
  } p;
  p.CreateEx(0, AfxRegisterWndClass(0, 0, COLOR_BTNFACE + 1), "paint", WS_POPUP, 0, 0, 50, 50, nullptr, 0);
  p.ShowWindow(SW_SHOW);
  Pump();
  CClientDC dc(&p);
  EXPECT_EQ(RGB(1, 2, 3), dc.GetPixel(5, 5));
  EXPECT_EQ(GetSysColor(COLOR_BTNFACE), dc.GetPixel(20, 20));
  dc.FillSolidRect(20, 20, 5, 5, RGB(9, 9, 9));
  p.InvalidateRect(nullptr, FALSE);
  Pump();
  EXPECT_EQ(RGB(9, 9, 9), dc.GetPixel(21, 21));
  p.InvalidateRect(nullptr, TRUE);
  Pump();
  EXPECT_EQ(GetSysColor(COLOR_BTNFACE), dc.GetPixel(21, 21));
  EXPECT_GE(p.paints, 3);
}

TEST(Drawing, RoundRegionCutsTheCornersOnly) {
  RecordingWnd w(0, WS_POPUP, RECT{0, 0, 550, 150});
  EXPECT_EQ(1, w.SetWindowRgn(CreateRoundRectRgn(0, 0, 520, 150, 40, 40), TRUE));
  EXPECT_FALSE(orv::ui::WindowRegionContains(w.m_hWnd, 0, 0));
  EXPECT_TRUE(orv::ui::WindowRegionContains(w.m_hWnd, 260, 75));
  EXPECT_TRUE(orv::ui::WindowRegionContains(w.m_hWnd, 260, 1));
  EXPECT_FALSE(orv::ui::WindowRegionContains(w.m_hWnd, 530, 75));  // beyond the 520-wide face
}

TEST(FindWindow, FindsOwnWindowsByTitleOnly) {
  {
    RecordingWnd w;
    w.SetWindowText("Find me please");
    EXPECT_EQ(w.m_hWnd, FindWindowA(nullptr, "Find me please"));
    EXPECT_EQ(nullptr, FindWindowA(nullptr, "Find me"));
  }
  EXPECT_EQ(nullptr, FindWindowA(nullptr, "Find me please"));
}

TEST(FindWindow, SocketLeftByACrashedCopyDoesNotCount) {
  const std::string title = "Crashed copy title";
  // Make the socket a crashed copy would leave behind: bound, then closed without unlinking.
  RecordingWnd w;
  w.SetWindowText(title.c_str());
  std::string path;
  {
    auto* rec = orv::ui::FindRecord(w.m_hWnd);
    ASSERT_NE(nullptr, rec->titleServer);
    path = rec->titleServer->fullServerName().toStdString();
  }
  w.DestroyWindow();
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
  ASSERT_EQ(0, ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr));
  ::close(fd);
  EXPECT_EQ(nullptr, FindWindowA(nullptr, title.c_str()));
  RecordingWnd again;
  again.SetWindowText(title.c_str());
  EXPECT_NE(nullptr, orv::ui::FindRecord(again.m_hWnd)->titleServer);
}

// Without XDG_RUNTIME_DIR the title sockets live in a folder of the user's own, never straight in
// the shared temporary folder, and only sockets of the user's own name a running copy.
TEST(FindWindow, OnlyTheUsersOwnFolderAndSocketsCount) {
  const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR"), tmpdir = qgetenv("TMPDIR");
  char tmpl[] = "/tmp/orvane-shared-XXXXXX";
  const std::string shared = ::mkdtemp(tmpl);
  ::chmod(shared.c_str(), 01777);  // as /tmp is
  qunsetenv("XDG_RUNTIME_DIR");
  qputenv("TMPDIR", shared.c_str());
  auto socketPath = [](const RecordingWnd& w) {
    auto* rec = orv::ui::FindRecord(w.m_hWnd);
    return rec && rec->titleServer ? rec->titleServer->fullServerName().toStdString() : std::string();
  };
  auto statOf = [](const std::string& path) {
    struct stat st {};
    EXPECT_EQ(0, ::lstat(path.c_str(), &st)) << path;
    return st;
  };
  const std::string title = "Only mine";
  std::string path;
  {
    RecordingWnd w;
    w.SetWindowText(title.c_str());
    path = socketPath(w);
    ASSERT_FALSE(path.empty());
    const std::string folder = path.substr(0, path.rfind('/'));
    EXPECT_NE(shared, folder);
    const struct stat st = statOf(folder);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(::getuid(), st.st_uid);
    EXPECT_EQ(0700u, st.st_mode & 07777);
    EXPECT_EQ(w.m_hWnd, FindWindowA(nullptr, title.c_str()));
  }
  if (::geteuid() == 0) {
    // Someone else listening at the place: no running copy of ours.
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
    ASSERT_EQ(0, ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr));
    ASSERT_EQ(0, ::listen(fd, 4));
    ASSERT_EQ(0, ::chown(path.c_str(), 65534, 65534));
    EXPECT_EQ(nullptr, FindWindowA(nullptr, title.c_str()));
    ::close(fd);
    ::unlink(path.c_str());
  }
  // A folder under the program's name that is not private to the user is not used.
  const std::string folder = path.substr(0, path.rfind('/'));
  std::filesystem::remove_all(folder);
  ASSERT_EQ(0, ::mkdir(folder.c_str(), 0777));
  ::chmod(folder.c_str(), 0777);
  {
    RecordingWnd w;
    w.SetWindowText(title.c_str());
    EXPECT_EQ(std::string::npos, socketPath(w).find(folder + "/"));
  }
  std::filesystem::remove_all(shared);
  qputenv("XDG_RUNTIME_DIR", runtime);
  if (tmpdir.isNull())
    qunsetenv("TMPDIR");
  else
    qputenv("TMPDIR", tmpdir);
}

TEST(MessageBoxes, HookAnswersAndDefaultCaptionApplies) {
  MessageBoxAnswerer answer(IDNO);
  EXPECT_EQ(IDNO, MessageBoxA(nullptr, "text", nullptr, MB_YESNO | MB_ICONWARNING));
  ASSERT_EQ(1u, answer.calls.size());
  EXPECT_EQ("오류", answer.calls[0].caption);
  EXPECT_EQ(MB_YESNO | MB_ICONWARNING, answer.calls[0].type);
}

TEST(Resources, StringsByIdWithTruncationLikeThePlatform) {
  char buf[64];
  EXPECT_EQ(23, LoadStringA(102, buf, sizeof buf));
  EXPECT_STREQ("Orvane Tuner( WIN2000 )", buf);
  EXPECT_EQ(6, LoadStringA(102, buf, 7));
  EXPECT_STREQ("Orvane", buf);
  EXPECT_EQ(0, LoadStringA(9999, buf, sizeof buf));
  EXPECT_STREQ("", buf);
  CString s;
  EXPECT_TRUE(s.LoadString(103));
  EXPECT_EQ(s, "판넬 윈도");
}

TEST(Resources, LanguageModuleReplacesStringsAndFallsBackForMissingOnes) {
  const std::string dir = orv::ui::ExecutableDir() + "/langdll";
  const ResourceModule* m = AfxLoadLangDll(dir);
  ASSERT_NE(nullptr, m) << "test language module missing in " << dir;
  AfxSetResourceModule(m);
  CString s;
  s.LoadString(103);
  EXPECT_EQ(s, "Panel window");
  s.LoadString(147);  // not in the test module: our own text rather than nothing
  EXPECT_EQ(s, "Orvane Tuner Already Run.");
  AfxSetResourceModule(AfxGetOwnResourceModule());
  EXPECT_EQ(nullptr, AfxLoadLangDll(orv::ui::ExecutableDir() + "/nowhere"));
}

TEST(System, LanguageFromTheLocale) {
  const char* saved = std::getenv("LANG");
  std::string keep = saved ? saved : "";
  unsetenv("LC_ALL");
  unsetenv("LC_MESSAGES");
  setenv("LANG", "ko_KR.UTF-8", 1);
  EXPECT_EQ(1042, GetSystemDefaultLangID());
  setenv("LANG", "en_GB.UTF-8", 1);
  EXPECT_NE(1042, GetSystemDefaultLangID());
  setenv("LC_ALL", "ko_KR.UTF-8", 1);
  EXPECT_EQ(1042, GetSystemDefaultLangID());
  unsetenv("LC_ALL");
  setenv("LANG", keep.c_str(), 1);
}

TEST(System, MulDivRoundsToNearest) {
  EXPECT_EQ(65535, MulDiv(20, 65535, 20));
  EXPECT_EQ(32768, MulDiv(10, 65535, 20));
  EXPECT_EQ(3277, MulDiv(1, 65535, 20));
  EXPECT_EQ(-1, MulDiv(1, 1, 0));
}

}  // namespace

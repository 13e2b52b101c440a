// The window framework: messages across threads, the pump, timers, input translation, the running
// copy's sockets, resources and the language.
#include "platform/ui/afxwin.h"
#include "platform/ui/qtwnd_p.h"
#include "platform/ui/surface.h"
#include "tests/support/uitest.h"
#include "platform/ui/testing.h"

#include <QCursor>
#include <QGuiApplication>
#include <QScreen>
#include <QLocalServer>
#include <QTest>
#include <atomic>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

using orv::test::Pump;
using orv::test::PumpUntil;
using orv::test::RecordingWnd;
using orv::test::Widget;

namespace {

TEST(Windows, AHandleOfADestroyedWindowIsHarmless) {
  HWND h;
  {
    RecordingWnd w;
    h = w.m_hWnd;
    EXPECT_TRUE(w.DestroyWindow());
    EXPECT_FALSE(w.DestroyWindow());  // a second destroy does nothing
    EXPECT_EQ(1, w.Count(WM_DESTROY));
  }
  EXPECT_FALSE(IsWindow(h));
  EXPECT_EQ(0, SendMessageA(h, WM_USER, 1, 2));
  EXPECT_FALSE(PostMessageA(h, WM_USER, 1, 2));
  LRESULT r = 5;
  std::thread worker([&] { r = SendMessageA(h, WM_USER, 0, 0); });
  worker.join();  // would hang if it waited for the UI thread
  EXPECT_EQ(0, r);
}

TEST(Messages, SendFromWorkerReturnsOnlyAfterTheUiThreadHandledIt) {
  RecordingWnd w;
  std::atomic<bool> handled{false}, sawHandled{false}, done{false};
  std::thread::id handlerThread;
  w.handler = [&](UINT m, WPARAM wp, LPARAM, bool* h) {
    if (m != WM_USER + 10) return LRESULT{0};
    handlerThread = std::this_thread::get_id();
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    handled = true;
    *h = true;
    return static_cast<LRESULT>(wp * 2);
  };
  LRESULT result = 0;
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

// Posted and timer messages pass PreTranslateMessage first and carry the pointer's position, as the
// platform's message retrieval does: a tooltip relay reads the pointer from them.
TEST(Messages, PostedAndTimerMessagesPassPreTranslateWithTheCursorPosition) {
  QCursor::setPos(321, 123);
  RecordingWnd w;
  std::map<UINT, POINT> seen;
  w.preTranslate = [&](MSG* m) {
    seen[m->message] = m->pt;
    return m->message == WM_USER + 2 ? TRUE : FALSE;
  };
  EXPECT_TRUE(PostMessageA(w.m_hWnd, WM_USER + 1, 3, 4));
  EXPECT_TRUE(PostMessageA(w.m_hWnd, WM_USER + 2, 0, 0));
  EXPECT_EQ(0, w.Count(WM_USER + 1));  // queued, not run yet
  EXPECT_EQ(100u, w.SetTimer(100, 10, nullptr));
  ASSERT_TRUE(PumpUntil([&] { return w.Count(WM_TIMER) >= 2; }));
  ASSERT_EQ(1, w.Count(WM_USER + 1));
  EXPECT_EQ(3u, w.Of(WM_USER + 1)[0].wParam);
  EXPECT_EQ(0, w.Count(WM_USER + 2));
  for (UINT m : {WM_USER + 1, WM_TIMER}) {
    EXPECT_EQ(321, seen[m].x) << m;
    EXPECT_EQ(123, seen[m].y) << m;
  }
  // Timers tick under their own id until killed, and stop with their window.
  EXPECT_EQ(100u, w.Of(WM_TIMER)[0].wParam);
  EXPECT_TRUE(w.KillTimer(100));
  EXPECT_FALSE(w.KillTimer(100));
  const int ticks = w.Count(WM_TIMER);
  auto* other = new RecordingWnd;
  other->SetTimer(1, 10, nullptr);
  delete other;
  PumpUntil([] { return false; }, 80);
  EXPECT_EQ(ticks, w.Count(WM_TIMER));
}

// A window that makes its own pixels (the live picture) writes them straight into its top-level's
// buffer, at its place there and nowhere else; part of it covered, it draws into its own surface,
// which shows only where nothing covers it.
TEST(Painting, OwnPixelsReachTheScreenAtTheWindowsPlaceAndNeverOverACoveringWindow) {
  RecordingWnd top(0, WS_POPUP, {0, 0, 200, 150});
  RecordingWnd picture(0, WS_CHILD | WS_VISIBLE, {20, 30, 120, 80}, top.m_hWnd);
  auto pattern = [](int x, int y) { return 0xFF800000u | static_cast<unsigned>(x) << 8 | static_cast<unsigned>(y); };
  int painted = 0;
  picture.handler = [&](UINT m, WPARAM, LPARAM, bool* handled) -> LRESULT {
    if (m != WM_PAINT) return 0;
    *handled = true;
    CPaintDC dc(&picture);
    orv::ui::SurfaceBits bits;
    if (!orv::ui::PaintSurface(dc, &bits)) return 0;
    for (int y = 0; y < bits.height; ++y)
      for (int x = 0; x < bits.width; ++x) reinterpret_cast<std::uint32_t*>(bits.bits + y * bits.stride)[x] = pattern(x, y);
    ++painted;
    return 0;
  };
  top.ShowWindow(SW_SHOW);
  QWidget* topWidget = Widget(top.m_hWnd);
  auto screen = [&] { return QGuiApplication::primaryScreen()->grabWindow(topWidget->winId()).toImage(); };
  auto shows = [&](const QImage& img, int x, int y) { return img.pixel(20 + x, 30 + y) == pattern(x, y); };
  ASSERT_TRUE(PumpUntil([&] { return painted > 0 && shows(screen(), 99, 49); }));
  QImage img = screen();
  for (const auto& [x, y] : {std::pair{0, 0}, {99, 0}, {0, 49}, {57, 23}}) EXPECT_TRUE(shows(img, x, y)) << x << "," << y;
  EXPECT_NE(pattern(0, 0), img.pixel(19, 30)) << "left of the window";
  EXPECT_NE(pattern(0, 49), img.pixel(20, 80)) << "below it";
  auto* own = static_cast<orv::ui::WndWidget*>(Widget(picture.m_hWnd));
  EXPECT_NE(pattern(0, 0), own->surface.pixel(0, 0)) << "drawn into the window's own surface and copied";
  // Painted again while nothing asks for a repaint (an expose): still the window's own pixels.
  topWidget->repaint();
  EXPECT_TRUE(shows(screen(), 57, 23));

  RecordingWnd cover(0, WS_CHILD | WS_VISIBLE, {70, 30, 120, 80}, top.m_hWnd);  // the right half
  cover.handler = [&](UINT m, WPARAM, LPARAM, bool* handled) -> LRESULT {
    if (m != WM_PAINT) return 0;
    *handled = true;
    CPaintDC dc(&cover);
    dc.FillSolidRect(0, 0, 50, 50, RGB(0, 0, 255));
    return 0;
  };
  const int before = painted;
  picture.InvalidateRect(nullptr, FALSE);
  ASSERT_TRUE(PumpUntil([&] { return painted > before && screen().pixel(70 + 20, 40) == 0xFF0000FFu; }));
  img = screen();
  EXPECT_TRUE(shows(img, 10, 10));
  EXPECT_EQ(0xFF0000FFu, img.pixel(20 + 60, 30 + 10)) << "under the covering window";
}

TEST(Input, KeypadKeysAreDistinctFromTheMainRow) {
  // With NumLock on the keypad gives digits and its decimal point; with NumLock off its keys are
  // the navigation keys, which differ from the separate block only by the extended-key bit.
  const struct { Qt::Key key; bool keypad; UINT vk; bool extended; } cases[] = {
      {Qt::Key_8, true, VK_NUMPAD8, false},         {Qt::Key_8, false, 0x38, false},
      {Qt::Key_0, true, VK_NUMPAD0, false},         {Qt::Key_Period, true, VK_DECIMAL, false},
      {Qt::Key_Asterisk, true, VK_MULTIPLY, false}, {Qt::Key_Slash, true, VK_DIVIDE, true},
      {Qt::Key_Delete, true, VK_DELETE, false},     {Qt::Key_Delete, false, VK_DELETE, true},
      {Qt::Key_Insert, true, VK_INSERT, false},     {Qt::Key_Insert, false, VK_INSERT, true},
      {Qt::Key_Up, true, VK_UP, false},             {Qt::Key_Up, false, VK_UP, true},
      {Qt::Key_Left, true, VK_LEFT, false},         {Qt::Key_Home, true, VK_HOME, false},
      {Qt::Key_End, true, VK_END, false},           {Qt::Key_PageUp, true, VK_PRIOR, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.key << (c.keypad ? " on the keypad" : ""));
    RecordingWnd w;
    QTest::keyClick(Widget(w.m_hWnd), c.key, c.keypad ? Qt::KeypadModifier : Qt::NoModifier);
    const auto downs = w.Of(WM_KEYDOWN);
    ASSERT_EQ(1u, downs.size());
    EXPECT_EQ(c.vk, downs[0].wParam);
    EXPECT_EQ(c.extended, (downs[0].lParam & KF_EXTENDED_BIT) != 0);
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

std::string SocketPath(const RecordingWnd& w) {
  auto* rec = orv::ui::FindRecord(w.m_hWnd);
  return rec && rec->titleServer ? rec->titleServer->fullServerName().toStdString() : std::string();
}

// Binds a unix socket at path (and listens, if asked); returns its descriptor.
int BindAt(const std::string& path, bool listen) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
  EXPECT_EQ(0, ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr));
  EXPECT_TRUE(!listen || ::listen(fd, 4) == 0);
  return fd;
}

TEST(FindWindow, SocketLeftByACrashedCopyDoesNotCount) {
  const std::string title = "Crashed copy title";
  std::string path;
  {
    RecordingWnd w;
    w.SetWindowText(title.c_str());
    EXPECT_EQ(w.m_hWnd, FindWindowA(nullptr, title.c_str()));
    EXPECT_EQ(nullptr, FindWindowA(nullptr, "Crashed copy"));
    path = SocketPath(w);
    ASSERT_FALSE(path.empty());
  }
  // The socket a crashed copy leaves behind: bound, then closed without unlinking.
  ::close(BindAt(path, false));
  EXPECT_EQ(nullptr, FindWindowA(nullptr, title.c_str()));
  RecordingWnd again;
  again.SetWindowText(title.c_str());
  EXPECT_FALSE(SocketPath(again).empty());
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
  const std::string title = "Only mine";
  std::string path;
  {
    RecordingWnd w;
    w.SetWindowText(title.c_str());
    path = SocketPath(w);
    ASSERT_FALSE(path.empty());
    const std::string folder = path.substr(0, path.rfind('/'));
    EXPECT_NE(shared, folder);
    struct stat st {};
    ASSERT_EQ(0, ::lstat(folder.c_str(), &st));
    EXPECT_EQ(::getuid(), st.st_uid);
    EXPECT_EQ(0700u, st.st_mode & 07777);
  }
  if (::geteuid() == 0) {
    // Someone else listening at the place: no running copy of ours.
    const int fd = BindAt(path, true);
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
    EXPECT_EQ(std::string::npos, SocketPath(w).find(folder + "/"));
  }
  std::filesystem::remove_all(shared);
  qputenv("XDG_RUNTIME_DIR", runtime);
  if (tmpdir.isNull())
    qunsetenv("TMPDIR");
  else
    qputenv("TMPDIR", tmpdir);
}

TEST(Resources, StringsByIdAndALanguageModuleWithFallBack) {
  char buf[64];
  EXPECT_EQ(23, LoadStringA(102, buf, sizeof buf));
  EXPECT_STREQ("Orvane Tuner( WIN2000 )", buf);
  EXPECT_EQ(6, LoadStringA(102, buf, 7));  // truncated like the platform
  EXPECT_EQ(0, LoadStringA(9999, buf, sizeof buf));
  const ResourceModule* m = AfxLoadLangDll(orv::ui::ExecutableDir() + "/langdll");
  ASSERT_NE(nullptr, m) << "test language module missing";
  AfxSetResourceModule(m);
  CString s;
  s.LoadString(103);
  EXPECT_EQ(s, "Panel window");
  s.LoadString(147);  // not in the test module: our own text rather than nothing
  EXPECT_EQ(s, "Orvane Tuner Already Run.");
  AfxSetResourceModule(AfxGetOwnResourceModule());
  s.LoadString(103);
  EXPECT_EQ(s, "판넬 윈도");
}

}  // namespace

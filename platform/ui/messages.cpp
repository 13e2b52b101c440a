// Window table, SendMessage/PostMessage across threads, the pump, timers and quitting.
#include "platform/ui/qtwnd_p.h"
#include "platform/ui/testing.h"

#include <QApplication>
#include <QCoreApplication>
#include <QCursor>
#include <QEvent>
#include <QTimer>
#include <QThread>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <unordered_map>

namespace orv::ui {
namespace {

std::mutex g_tableMu;
std::unordered_map<std::uintptr_t, WndRecord> g_table;
std::uintptr_t g_nextHandle = 0x10010;

// A send from another thread waits here until the UI thread has run it.
struct PendingSend {
  HWND hwnd;
  UINT msg;
  WPARAM w;
  LPARAM l;
  LRESULT result = 0;
  bool done = false;
};
std::mutex g_sendMu;
std::condition_variable g_sendCv;
std::deque<PendingSend*> g_sends;

const QEvent::Type kSendEvent = static_cast<QEvent::Type>(QEvent::User + 101);
const QEvent::Type kPostEvent = static_cast<QEvent::Type>(QEvent::User + 102);

struct PostedMsgEvent : QEvent {
  PostedMsgEvent(const MSG& m) : QEvent(kPostEvent), msg(m) {}
  MSG msg;
};

void RunPendingSends();

// Where the pointer is as a message is taken from the queue, as GetMessagePos gives it: handlers
// that look at the point (a tooltip relay) see the pointer, not the screen's corner.
POINT CursorPoint() {
  const QPoint p = QCursor::pos();
  return POINT{p.x(), p.y()};
}

// Receives the wake-ups for cross-thread sends and the posted messages, on the UI thread.
class Dispatcher : public QObject {
 public:
  bool event(QEvent* e) override {
    if (e->type() == kSendEvent) {
      RunPendingSends();
      return true;
    }
    if (e->type() == kPostEvent) {
      MSG m = static_cast<PostedMsgEvent*>(e)->msg;
      m.pt = CursorPoint();
      if (m.hwnd && HasWindow(m.hwnd)) AfxPumpMessage(&m);
      return true;
    }
    return QObject::event(e);
  }
};

Dispatcher* TheDispatcher() {
  static Dispatcher* d = [] {
    auto* x = new Dispatcher;
    if (QCoreApplication::instance()) x->moveToThread(QCoreApplication::instance()->thread());
    return x;
  }();
  return d;
}

void RunPendingSends() {
  for (;;) {
    PendingSend* p = nullptr;
    {
      std::lock_guard lock(g_sendMu);
      if (g_sends.empty()) return;
      p = g_sends.front();
      g_sends.pop_front();
    }
    const LRESULT r = SendMessageA(p->hwnd, p->msg, p->w, p->l);
    {
      std::lock_guard lock(g_sendMu);
      p->result = r;
      p->done = true;
    }
    g_sendCv.notify_all();
  }
}

struct TimerKey {
  std::uintptr_t hwnd;
  UINT_PTR id;
  bool operator<(const TimerKey& o) const { return hwnd != o.hwnd ? hwnd < o.hwnd : id < o.id; }
};
std::map<TimerKey, QTimer*> g_timers;

bool g_quitRequested = false;
int g_quitCode = 0;

}  // namespace

HWND AddWindow(CWnd* wnd) {
  std::lock_guard lock(g_tableMu);
  const auto h = g_nextHandle;
  g_nextHandle += 4;
  g_table[h].wnd = wnd;
  return reinterpret_cast<HWND>(h);
}

WndRecord* FindRecord(HWND h) {
  std::lock_guard lock(g_tableMu);
  auto it = g_table.find(reinterpret_cast<std::uintptr_t>(h));
  return it == g_table.end() ? nullptr : &it->second;
}

void RemoveWindow(HWND h) {
  const auto key = reinterpret_cast<std::uintptr_t>(h);
  for (auto it = g_timers.begin(); it != g_timers.end();) {
    if (it->first.hwnd == key) {
      it->second->stop();
      it->second->deleteLater();
      it = g_timers.erase(it);
    } else {
      ++it;
    }
  }
  std::lock_guard lock(g_tableMu);
  g_table.erase(key);
}

bool HasWindow(HWND h) {
  std::lock_guard lock(g_tableMu);
  return g_table.count(reinterpret_cast<std::uintptr_t>(h)) != 0;
}

bool IsUiThread() {
  auto* app = QCoreApplication::instance();
  return app && QThread::currentThread() == app->thread();
}

void WaitPumpingSentMessages(const std::function<bool()>& done) {
  while (!done()) {
    RunPendingSends();
    std::unique_lock lock(g_sendMu);
    g_sendCv.wait_for(lock, std::chrono::milliseconds(5), [] { return !g_sends.empty(); });
  }
  RunPendingSends();
}

void WaitPumpingMessages(const std::function<bool()>& done) {
  while (!done()) {
    RunPendingSends();
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents | QEventLoop::ExcludeSocketNotifiers);
    std::unique_lock lock(g_sendMu);
    g_sendCv.wait_for(lock, std::chrono::milliseconds(5), [] { return !g_sends.empty(); });
  }
  RunPendingSends();
}

void ProcessPendingEvents() {
  RunPendingSends();
  QCoreApplication::sendPostedEvents();
  QCoreApplication::processEvents(QEventLoop::AllEvents);
}

bool QuitRequested(int* code) {
  if (code) *code = g_quitCode;
  return g_quitRequested;
}

void ClearQuitForTests() { g_quitRequested = false; }

}  // namespace orv::ui

using namespace orv::ui;

LRESULT SendMessageA(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (!hWnd || !HasWindow(hWnd)) return 0;
  if (!IsUiThread()) {
    PendingSend p{hWnd, msg, wParam, lParam};
    {
      std::lock_guard lock(g_sendMu);
      g_sends.push_back(&p);
    }
    QCoreApplication::postEvent(TheDispatcher(), new QEvent(kSendEvent));
    std::unique_lock lock(g_sendMu);
    g_sendCv.wait(lock, [&] { return p.done; });
    return p.result;
  }
  WndRecord* rec = FindRecord(hWnd);
  if (!rec || !rec->wnd) return 0;
  return rec->wnd->WindowProc(msg, wParam, lParam);
}

BOOL PostMessageA(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (!hWnd || !HasWindow(hWnd)) return FALSE;
  MSG m{hWnd, msg, wParam, lParam, GetTickCount(), {}};
  QCoreApplication::postEvent(TheDispatcher(), new PostedMsgEvent(m));
  return TRUE;
}

void PostQuitMessage(int nExitCode) {
  g_quitRequested = true;
  g_quitCode = nExitCode;
  QCoreApplication::exit(nExitCode);
}

BOOL IsWindow(HWND hWnd) { return hWnd && HasWindow(hWnd) ? TRUE : FALSE; }

UINT_PTR SetTimer(HWND hWnd, UINT_PTR nIDEvent, UINT uElapse, void*) {
  if (!IsWindow(hWnd)) return 0;
  const TimerKey key{reinterpret_cast<std::uintptr_t>(hWnd), nIDEvent};
  QTimer*& t = g_timers[key];
  if (!t) {
    t = new QTimer(TheDispatcher());
    QObject::connect(t, &QTimer::timeout, TheDispatcher(), [hWnd, nIDEvent] {
      if (!HasWindow(hWnd)) return;
      MSG m{hWnd, WM_TIMER, nIDEvent, 0, GetTickCount(), CursorPoint()};
      AfxPumpMessage(&m);
    });
  }
  t->start(static_cast<int>(std::max<UINT>(uElapse, 10)));
  return nIDEvent;
}

BOOL KillTimer(HWND hWnd, UINT_PTR uIDEvent) {
  auto it = g_timers.find(TimerKey{reinterpret_cast<std::uintptr_t>(hWnd), uIDEvent});
  if (it == g_timers.end()) return FALSE;
  it->second->stop();
  it->second->deleteLater();
  g_timers.erase(it);
  return TRUE;
}

void Sleep(DWORD ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

DWORD GetTickCount() {
  using namespace std::chrono;
  return static_cast<DWORD>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

DWORD timeGetTime() { return GetTickCount(); }

// The nested loops of message boxes, dialogs, property sheets and the file chooser, and running
// something (the program's ending) only once none of them is open.
#include "platform/ui/qtwnd_p.h"

#include <QCoreApplication>
#include <vector>

namespace orv::ui {
namespace {

std::vector<const std::function<void()>*> g_open;  // how to close each open loop, innermost last
std::function<void()> g_pending;                  // waits until every loop has returned

void RunPendingLater() {
  auto* app = QCoreApplication::instance();
  if (!app) return;
  QMetaObject::invokeMethod(
      app,
      [] {
        // A loop may have been opened since; its end schedules this again.
        if (!g_open.empty() || !g_pending) return;
        auto fn = std::move(g_pending);
        g_pending = nullptr;
        fn();
      },
      Qt::QueuedConnection);
}

}  // namespace

ModalLoopScope::ModalLoopScope(std::function<void()> close) : close_(std::move(close)) { g_open.push_back(&close_); }

ModalLoopScope::~ModalLoopScope() {
  std::erase(g_open, &close_);
  if (g_open.empty() && g_pending) RunPendingLater();
}

bool ModalLoopScope::MayRun() const { return !g_pending; }

void RunOutsideModalLoops(std::function<void()> fn) {
  if (g_open.empty() && !g_pending) {
    fn();
    return;
  }
  if (g_pending) return;  // already on its way out: asked twice, done once
  g_pending = std::move(fn);
  // Innermost first; each returns to its caller as if cancelled once the stack unwinds to it.
  const auto open = g_open;
  for (auto it = open.rbegin(); it != open.rend(); ++it) (**it)();
}

}  // namespace orv::ui

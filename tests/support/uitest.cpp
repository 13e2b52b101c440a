#include "tests/support/uitest.h"

#include "platform/ui/qtwnd_p.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <gtest/gtest.h>

namespace orv::test {

RecordingWnd::RecordingWnd(UINT classStyle, DWORD style, RECT r, HWND parent) {
  CreateEx(0, AfxRegisterWndClass(classStyle), "recording", style, r.left, r.top, r.right - r.left, r.bottom - r.top,
           parent, 7);
}

std::vector<Recorded> RecordingWnd::Of(UINT message) const {
  std::vector<Recorded> out;
  for (auto& r : log)
    if (r.message == message) out.push_back(r);
  return out;
}

BOOL RecordingWnd::PreTranslateMessage(MSG* msg) {
  return preTranslate ? preTranslate(msg) : CWnd::PreTranslateMessage(msg);
}

bool RecordingWnd::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  log.push_back({message, wParam, lParam});
  if (handler) {
    bool handled = false;
    const LRESULT r = handler(message, wParam, lParam, &handled);
    if (handled) {
      *result = r;
      return true;
    }
  }
  return false;
}

MessageBoxAnswerer::MessageBoxAnswerer(int a) : answer(a) {
  orv::ui::SetMessageBoxHook([this](const orv::ui::MessageBoxCall& c) {
    calls.push_back(c);
    return answer;
  });
}

MessageBoxAnswerer::~MessageBoxAnswerer() { FailOnUnexpectedMessageBoxes(); }

void FailOnUnexpectedMessageBoxes() {
  orv::ui::SetMessageBoxHook([](const orv::ui::MessageBoxCall& c) {
    ADD_FAILURE() << "unexpected message box: " << c.caption << ": " << c.text;
    return (c.type & 0x0F) == MB_YESNO ? IDNO : IDCANCEL;
  });
}

QWidget* Widget(HWND h) { return orv::ui::WidgetForHandle(h); }

void Pump(int rounds) {
  for (int i = 0; i < rounds; ++i) orv::ui::ProcessPendingEvents();
}

bool PumpUntil(const std::function<bool()>& cond, int ms) {
  QElapsedTimer t;
  t.start();
  while (!cond() && t.elapsed() < ms) {
    orv::ui::ProcessPendingEvents();
    QThread::msleep(2);
  }
  return cond();
}

}  // namespace orv::test

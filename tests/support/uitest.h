// Helpers for tests of windows: a recording window, answered message boxes, synthetic input.
#pragma once

#include "platform/ui/afxwin.h"
#include "platform/ui/controls_p.h"

#include <functional>
#include <string>
#include <vector>

class QWidget;

namespace orv::test {

struct Recorded {
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
};

// A popup window that records every message it receives (and lets default processing run).
class RecordingWnd : public CWnd {
 public:
  explicit RecordingWnd(UINT classStyle = 0, DWORD style = WS_POPUP, RECT rect = {100, 100, 500, 400},
                        HWND parent = nullptr);
  std::vector<Recorded> log;
  std::vector<Recorded> Of(UINT message) const;
  int Count(UINT message) const { return static_cast<int>(Of(message).size()); }
  std::function<LRESULT(UINT, WPARAM, LPARAM, bool*)> handler;  // optional: answer a message
  std::function<BOOL(MSG*)> preTranslate;

  BOOL PreTranslateMessage(MSG* msg) override;

 protected:
  bool OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;
};

// Answers every message box with `answer` and keeps what each one showed.
class MessageBoxAnswerer {
 public:
  explicit MessageBoxAnswerer(int answer = IDOK);
  ~MessageBoxAnswerer();
  std::vector<orv::ui::MessageBoxCall> calls;
  int answer;
};

// A message box no test answers fails the test instead of waiting for a click forever.
void FailOnUnexpectedMessageBoxes();

QWidget* Widget(HWND h);
// The Qt widget of a dialog's control, if it is a W.
template <class W>
W* Inner(HWND dlg, int id) {
  auto* d = orv::ui::ControlData(GetDlgItem(dlg, id));
  return d ? qobject_cast<W*>(d->inner) : nullptr;
}
void Pump(int rounds = 3);
// Runs events until cond() holds or ms milliseconds pass; returns cond().
bool PumpUntil(const std::function<bool()>& cond, int ms = 2000);

}  // namespace orv::test

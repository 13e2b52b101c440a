// Shared by the dialog tests: stored values, controls reached as a user reaches them, and a
// settings sheet of the three pages run with a recording main window and a fresh store and mixer.
#pragma once

#include "common/Commands.h"
#include "common/Settings.h"
#include "dialogs/AudioSetup.h"
#include "dialogs/ChannelSetup.h"
#include "dialogs/ConfigSheet.h"
#include "dialogs/VideoSetup.h"
#include "platform/mixer/testing.h"
#include "platform/ui/controls_p.h"
#include "tests/support/testenv.h"
#include "tests/support/uitest.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QSlider>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>
#include <vector>

namespace dlgtest {

using Cmds = std::vector<std::pair<WPARAM, LPARAM>>;

// A settings key, open for the life of the object.
struct Key {
  explicit Key(const char* path) : h(OpenSettingsKey(path)) {}
  ~Key() { CloseSettingsKey(h); }
  operator HKEY() const { return h; }
  HKEY h;
};
inline void StoreDword(const char* key, const char* name, DWORD v) { WriteSettingDword(Key(key), name, v); }
inline void StoreString(const char* key, const char* name, const std::string& v) {
  WriteSettingString(Key(key), name, v.c_str());
}
inline int StoredWord(const char* key, const char* name) { return ReadSettingWord(Key(key), name, -1); }
inline std::string StoredString(const char* key, const char* name) {
  char buf[512];
  ReadSettingString(Key(key), name, buf, sizeof buf, "<missing>");
  return buf;
}

template <class W>
W* Inner(HWND dlg, int id) {
  auto* d = orv::ui::ControlData(GetDlgItem(dlg, id));
  return d ? qobject_cast<W*>(d->inner) : nullptr;
}

inline void Click(HWND dlg, int id) {
  auto* b = Inner<QAbstractButton>(dlg, id);
  ASSERT_NE(nullptr, b) << "no button " << id;
  b->click();
}

// The text of an edit box or a label.
inline std::string Text(HWND dlg, int id) {
  if (auto* e = Inner<QLineEdit>(dlg, id)) return e->text().toStdString();
  if (auto* l = Inner<QLabel>(dlg, id)) return l->text().toStdString();
  return "?";
}

inline int SliderPos(HWND dlg, int id) { return Inner<QSlider>(dlg, id)->value(); }
inline void Slide(HWND dlg, int id, int value) { Inner<QSlider>(dlg, id)->setValue(value); }

// Runs a modal dialog or sheet; `body` acts inside its loop. A body that did not close it has it
// cancelled, so a failed check never hangs the test.
template <class D>
int RunModal(D& dlg, const std::function<void()>& body) {
  QTimer::singleShot(0, [&] {
    body();
    if (IsWindowVisible(dlg.m_hWnd)) SendMessageA(dlg.m_hWnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
  });
  return dlg.DoModal();
}

class SheetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    orv::test::FreshConfigDir();
    orv::mixer::ResetVirtualMixerForTests();
    app.m_pMainWnd = &main;
  }
  void TearDown() override {
    app.m_pMainWnd = nullptr;
    orv::mixer::ResetVirtualMixerForTests();
  }

  // A sheet of the three pages, opened at `startPage`, with `body` run inside its loop.
  int RunSheet(const std::function<void()>& body, UINT startPage = 0) {
    CConfigSheet sheet("환경설정", nullptr, startPage);
    for (CPropertyPage* p : std::initializer_list<CPropertyPage*>{&channel, &video, &audio}) sheet.AddPage(p);
    sheet.m_psh.dwFlags |= PSH_NOAPPLYNOW;
    return RunModal(sheet, [&] {
      hSheet = sheet.m_hWnd;
      body();
    });
  }
  void Ok() { Click(hSheet, IDOK); }
  void Cancel() { Click(hSheet, IDCANCEL); }
  // WM_TUNER_NOTIFY commands the main window received, in order.
  Cmds Sent() const {
    Cmds out;
    for (const auto& r : main.Of(WM_TUNER_NOTIFY)) out.emplace_back(r.wParam, r.lParam);
    return out;
  }

  CWinApp app;
  orv::test::RecordingWnd main;
  CChannelSetup channel;
  CVideoSetup video;
  CAudioSetup audio;
  HWND hSheet = nullptr;
};

}  // namespace dlgtest

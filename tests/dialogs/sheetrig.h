// A settings sheet with its three pages, a recording main window for the video page's commands, a
// fresh store and mixer per test, and user-like actions on the pages' controls.
#pragma once

#include "common/Commands.h"
#include "common/Settings.h"
#include "dialogs/AudioSetup.h"
#include "dialogs/ChannelSetup.h"
#include "dialogs/ConfigSheet.h"
#include "dialogs/VideoSetup.h"
#include "platform/mixer/device.h"
#include "platform/ui/controls_p.h"
#include "tests/support/testenv.h"
#include "tests/support/uitest.h"
#include "platform/mixer/testing.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QSlider>
#include <QTabBar>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <utility>
#include <vector>

namespace sheettest {

using Cmd = std::pair<WPARAM, LPARAM>;
using Cmds = std::vector<Cmd>;

inline void StoreDword(const char* key, const char* name, DWORD value) {
  HKEY k = OpenSettingsKey(key);
  WriteSettingDword(k, name, value);
  CloseSettingsKey(k);
}

inline void StoreString(const char* key, const char* name, const char* value) {
  HKEY k = OpenSettingsKey(key);
  WriteSettingString(k, name, value);
  CloseSettingsKey(k);
}

inline int StoredWord(const char* key, const char* name) {
  HKEY k = OpenSettingsKey(key);
  const int v = ReadSettingWord(k, name, -1);
  CloseSettingsKey(k);
  return v;
}

inline std::string StoredString(const char* key, const char* name) {
  char buf[512];
  HKEY k = OpenSettingsKey(key);
  ReadSettingString(k, name, buf, sizeof buf, "<missing>");
  CloseSettingsKey(k);
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

inline std::vector<int> Items(const CListBox& list) {
  std::vector<int> out;
  for (int i = 0; i < list.GetCount(); ++i) {
    CString t;
    list.GetText(i, t);
    out.push_back(std::stoi(t.str()));
  }
  return out;
}

// Selects items of a multiple-selection list the way clicks do.
inline void Select(const CListBox& list, std::initializer_list<const char*> texts) {
  auto* l = qobject_cast<QListWidget*>(orv::ui::ControlData(list.m_hWnd)->inner);
  for (const char* t : texts) {
    const auto found = l->findItems(QString::fromUtf8(t), Qt::MatchExactly);
    ASSERT_EQ(1, found.size()) << t;
    found[0]->setSelected(true);
  }
}

// A user's move of a slider to one position.
inline void Slide(HWND dlg, int id, int value) { Inner<QSlider>(dlg, id)->setValue(value); }

// A drag of a slider's thumb through positions, then its release.
inline void Drag(HWND dlg, int id, std::initializer_list<int> positions) {
  auto* s = Inner<QSlider>(dlg, id);
  s->setSliderDown(true);
  for (int v : positions) s->setValue(v);
  s->setSliderDown(false);
}

inline int SliderPos(HWND dlg, int id) { return Inner<QSlider>(dlg, id)->value(); }
inline std::string Label(HWND dlg, int id) { return Inner<QLabel>(dlg, id)->text().toStdString(); }

// A user's choice in a combo box's list.
inline void Choose(HWND dlg, int id, int index) {
  auto* c = Inner<QComboBox>(dlg, id);
  c->setCurrentIndex(index);
  emit c->activated(index);
}

// The tab strip of a sheet.
inline QTabBar* Tabs(HWND sheet) {
  for (HWND c : orv::ui::ChildrenOf(sheet))
    if (auto* d = orv::ui::ControlData(c); d && d->kind == CtlKind::Tabs) return qobject_cast<QTabBar*>(d->inner);
  return nullptr;
}

inline void ShowPage(HWND sheet, int index) { Tabs(sheet)->setCurrentIndex(index); }

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

  // Runs a settings sheet holding the three pages; `body` runs inside its modal loop. A body that
  // did not close the sheet has it cancelled, so a failed check never hangs the test.
  int RunSheet(const std::function<void()>& body, UINT startPage = 0) {
    CConfigSheet sheet("환경설정", nullptr, startPage);
    sheet.AddPage(&channel);
    sheet.AddPage(&video);
    sheet.AddPage(&audio);
    sheet.m_psh.dwFlags |= PSH_NOAPPLYNOW;
    QTimer::singleShot(0, [&] {
      hSheet = sheet.m_hWnd;
      body();
      if (IsWindowVisible(sheet.m_hWnd)) sheet.EndDialog(IDCANCEL);
    });
    return sheet.DoModal();
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

}  // namespace sheettest

// Shared by the dialog tests: controls reached as a user reaches them, and a settings sheet of the
// three pages run with a recording main window and a fresh store and mixer.
#pragma once

#include "common/Commands.h"
#include "dialogs/AudioSetup.h"
#include "dialogs/ChannelSetup.h"
#include "dialogs/ConfigSheet.h"
#include "dialogs/VideoSetup.h"
#include "platform/mixer/testing.h"
#include "tests/support/testenv.h"
#include "tests/support/uitest.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QSlider>
#include <QTabBar>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>
#include <vector>

namespace dlgtest {

using Cmds = std::vector<std::pair<WPARAM, LPARAM>>;

using orv::test::StoreDword, orv::test::StoreString, orv::test::StoredWord, orv::test::StoredString;

using orv::test::Inner;

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

// A user's choice in a drop-down list.
inline void Choose(HWND dlg, int id, int index) {
  auto* c = Inner<QComboBox>(dlg, id);
  c->setCurrentIndex(index);
  emit c->activated(index);
}

// Items of a multiple-selection list selected the way clicks select them.
inline void Select(const CListBox& list, std::initializer_list<const char*> texts) {
  auto* l = qobject_cast<QListWidget*>(orv::ui::ControlData(list.m_hWnd)->inner);
  for (const char* t : texts) {
    const auto found = l->findItems(QString::fromUtf8(t), Qt::MatchExactly);
    ASSERT_EQ(1, found.size()) << t;
    found[0]->setSelected(true);
  }
}

// The tab strip of a sheet, and a page shown as a click on its tab shows it.
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

// The settings flow as the video window runs it, with tab `tab` shown; `body` gets that page and the
// sheet. The counts are of the device and recording pages' applications.
class FlowTest : public SheetTest {
 protected:
  int RunFlow(int tab, const char* caption, CaptureDevices devices, const std::function<void(HWND page, HWND sheet)>& body) {
    QTimer::singleShot(0, [&] {
      const HWND sheet = orv::ui::FindLocalTopLevel("환경설정");
      ASSERT_NE(nullptr, sheet);
      ASSERT_EQ(caption, Tabs(sheet)->tabText(tab).toStdString());
      ShowPage(sheet, tab);
      HWND page = nullptr;
      for (HWND c : orv::ui::ChildrenOf(sheet))
        if (IsWindowVisible(c) && orv::ui::ControlData(c) == nullptr && !orv::ui::ChildrenOf(c).empty()) page = c;
      ASSERT_NE(nullptr, page);
      body(page, sheet);
      if (IsWindowVisible(sheet)) SendMessageA(sheet, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    });
    return RunConfigSheet(&main, panel.m_hWnd, {}, {}, std::move(devices), [&] { ++applied; }, [&] { ++recordingApplied; });
  }

  orv::test::RecordingWnd panel;
  int applied = 0, recordingApplied = 0;
};

}  // namespace dlgtest

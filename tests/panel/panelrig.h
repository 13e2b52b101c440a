// A panel wired to a recording stand-in for the video window, with a fresh store and mixer.
#pragma once

#include "common/Commands.h"
#include "common/Settings.h"
#include "panel/PanelWnd.h"
#include "platform/mixer/device.h"
#include "tests/support/testenv.h"
#include "tests/support/uitest.h"
#include "platform/ui/testing.h"
#include "platform/mixer/testing.h"

#include <gtest/gtest.h>
#include <utility>
#include <vector>

namespace paneltest {

using Cmd = std::pair<WPARAM, LPARAM>;
using Cmds = std::vector<Cmd>;

using orv::test::StoreDword, orv::test::StoreString, orv::test::StoredWord, orv::test::StoredString;

// A key-down as the keyboard delivers it: repeat count 1 and a scan code, through the pump.
inline void Key(HWND to, UINT vk, UINT message = WM_KEYDOWN) {
  LPARAM l = 1 | (static_cast<LPARAM>(0x30) << 16);
  if (message == WM_SYSKEYDOWN) l |= KF_ALTDOWN_BIT;
  MSG m{to, message, vk, l, 0, {0, 0}};
  AfxPumpMessage(&m);
}

class PanelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    orv::test::FreshConfigDir();
    orv::mixer::ResetVirtualMixerForTests();
    orv::ui::ClearQuitForTests();
  }
  void TearDown() override { orv::ui::ClearQuitForTests(); }

  // Creates and shows the panel; what it sent while starting is forgotten.
  void Open() {
    ASSERT_TRUE(panel.Create("판넬 윈도", CRect(10, 10, 0, 0)));
    panel.m_hwndVideo = video.m_hWnd;
    panel.ShowWindow(SW_SHOW);
    orv::test::Pump();
    video.log.clear();
  }

  // WM_TUNER_NOTIFY commands the video window received, in order.
  Cmds Sent() const {
    Cmds out;
    for (const auto& r : video.Of(WM_TUNER_NOTIFY)) out.emplace_back(r.wParam, r.lParam);
    return out;
  }

  void Press(int button) {
    panel.m_nButton = button;
    panel.RunButton(button);
  }

  orv::test::RecordingWnd video;
  CPanelWnd panel;
};

// The same, with the panel opened before each test.
class OpenPanelTest : public PanelTest {
 protected:
  void SetUp() override {
    PanelTest::SetUp();
    Open();
  }
};

}  // namespace paneltest

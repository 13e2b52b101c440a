// Code 24 in the video window: the settings sheet around the live picture.
#include "common/Commands.h"
#include "common/Settings.h"
#include "platform/media/devices/testing.h"
#include "platform/ui/afxdlgs.h"
#include "tests/media/mediarig.h"
#include "tests/support/testenv.h"
#include "tests/support/uitest.h"
#include "video/VideoWnd.h"

#include <QTimer>
#include <gtest/gtest.h>

namespace {

class SettingsFlow : public ::testing::Test {
 protected:
  void SetUp() override {
    orv::test::FreshConfigDir();
    orv::test::UseCard("");
    wnd.Create("Orvane Tuner( WIN2000 )", RECT{0, 0, 640, 480});
    wnd.m_hwndPanel = panel.m_hWnd;
  }
  // Sends code 24; `inside` runs while the sheet is up and must close it.
  void OpenSheet(std::function<void(HWND sheet)> inside) {
    QTimer::singleShot(0, [inside] {
      HWND sheet = FindWindowA(nullptr, "환경설정");
      ASSERT_NE(nullptr, sheet);
      inside(sheet);
    });
    ::SendMessageA(wnd.m_hWnd, WM_TUNER_NOTIFY, VideoCmd::OpenSettings, 0);
  }
  int Stored(const char* name) {
    HKEY k = OpenSettingsKey(kKeyVideo);
    const int v = ReadSettingWord(k, name, -1);
    CloseSettingsKey(k);
    return v;
  }
  LONG Brightness() {
    orv::media::VirtualCardState s;
    orv::media::GetVirtualCardState(0, &s);
    return s.procAmp[0];
  }
  orv::test::RecordingWnd panel;
  orv::test::MessageBoxAnswerer boxes{IDOK};
  CVideoWnd wnd;
};

TEST_F(SettingsFlow, CancelTellsThePanelNothingButTheScreenValuesAreStored) {
  ::SendMessageA(wnd.m_hWnd, WM_TUNER_NOTIFY, VideoCmd::SetBrightness, 200);
  OpenSheet([](HWND sheet) { ::SendMessageA(sheet, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0); });
  EXPECT_EQ(0, panel.Count(WM_TUNER_NOTIFY));
  EXPECT_EQ(200, Stored("Bright"));
}

TEST_F(SettingsFlow, OkTellsThePanelAndAppliesTheStoredPictureValues) {
  const LONG before = Brightness();
  OpenSheet([](HWND sheet) {
    // What the video page would have stored on OK.
    HKEY k = OpenSettingsKey(kKeyVideo);
    WriteSettingDword(k, "Bright", 0);
    CloseSettingsKey(k);
    ::SendMessageA(sheet, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  });
  ASSERT_EQ(1, panel.Count(WM_TUNER_NOTIFY));
  EXPECT_EQ(24u, panel.Of(WM_TUNER_NOTIFY)[0].wParam);
  EXPECT_NE(before, Brightness());
  EXPECT_EQ(0, Brightness());
}

TEST_F(SettingsFlow, VideoPageCommandsReachTheEngine) {
  ::SendMessageA(wnd.m_hWnd, WM_TUNER_NOTIFY, VideoCmd::SetBrightness, 0);
  EXPECT_EQ(0, Brightness());
  ::SendMessageA(wnd.m_hWnd, WM_TUNER_NOTIFY, VideoCmd::SetBrightness, 255);
  EXPECT_GT(Brightness(), 9000);
}

}  // namespace

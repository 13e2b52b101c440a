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

LONG Brightness() {
  orv::media::VirtualCardState s;
  orv::media::GetVirtualCardState(0, &s);
  return s.procAmp[0];
}

// The sheet is opened with the screen's picture values stored; on OK the panel hears of it and the
// values the pages stored are applied, on Cancel nothing more happens.
TEST(SettingsFlow, OkTellsThePanelAndAppliesTheStoredValuesCancelDoesNeither) {
  for (int button : {IDCANCEL, IDOK}) {
    orv::test::FreshConfigDir();
    orv::test::UseCard("");
    orv::test::RecordingWnd panel;
    orv::test::MessageBoxAnswerer boxes{IDOK};
    CVideoWnd wnd;
    wnd.Create("Orvane Tuner( WIN2000 )", RECT{0, 0, 640, 480});
    wnd.m_hwndPanel = panel.m_hWnd;
    ::SendMessageA(wnd.m_hWnd, WM_TUNER_NOTIFY, VideoCmd::SetBrightness, 200);
    const LONG before = Brightness();
    int storedWhileOpen = -1;
    QTimer::singleShot(0, [&] {
      HWND sheet = FindWindowA(nullptr, "환경설정");
      ASSERT_NE(nullptr, sheet);
      HKEY k = OpenSettingsKey(kKeyVideo);
      storedWhileOpen = ReadSettingWord(k, "Bright", -1);
      WriteSettingDword(k, "Bright", 0);  // what the video page stores on OK
      CloseSettingsKey(k);
      ::SendMessageA(sheet, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
    });
    ::SendMessageA(wnd.m_hWnd, WM_TUNER_NOTIFY, VideoCmd::OpenSettings, 0);
    EXPECT_EQ(200, storedWhileOpen);
    EXPECT_EQ(button == IDOK ? 1 : 0, panel.Count(WM_TUNER_NOTIFY));
    if (button == IDOK) EXPECT_EQ(PanelCmd::SettingsAccepted, panel.Of(WM_TUNER_NOTIFY)[0].wParam);
    EXPECT_EQ(button == IDOK ? 0 : before, Brightness());
  }
}

}  // namespace

// Start-up checks, window placement from the saved values, and what shutdown saves.
#include "common/Commands.h"
#include "common/Settings.h"
#include "app/TunerApp.h"
#include "capture/CaptureGraph.h"
#include "panel/PanelWnd.h"
#include "platform/media/avi/testing.h"
#include "tests/media/mediarig.h"
#include "tests/support/testenv.h"
#include "tests/support/uitest.h"
#include "video/VideoWnd.h"
#include "platform/ui/testing.h"

#include <gtest/gtest.h>

using orv::test::FreshConfigDir;
using orv::test::MessageBoxAnswerer;
using orv::test::RecordingWnd;

namespace {

const RECT kDesk{0, 0, 1024, 768};

void Store(const char* name, DWORD value) {
  HKEY k = OpenSettingsKey(kKeyPosition);
  WriteSettingDword(k, name, value);
  CloseSettingsKey(k);
}

WindowPlacement Read() {
  HKEY k = OpenSettingsKey(kKeyPosition);
  const WindowPlacement p = ReadWindowPlacement(k, kDesk);
  CloseSettingsKey(k);
  return p;
}

class Placement : public ::testing::Test {
 protected:
  void SetUp() override { FreshConfigDir(); }
};

TEST_F(Placement, NothingSavedCentresBothWindows) {
  const WindowPlacement p = Read();
  EXPECT_EQ(237, p.panelLeft);
  EXPECT_EQ(309, p.panelTop);
  EXPECT_EQ(192, p.videoLeft);
  EXPECT_EQ(144, p.videoTop);
  EXPECT_EQ(640, p.videoWidth);
  EXPECT_EQ(480, p.videoHeight);
  // No key at all behaves the same.
  const WindowPlacement q = ReadWindowPlacement(nullptr, kDesk);
  EXPECT_EQ(237, q.panelLeft);
  EXPECT_EQ(832, q.videoLeft + q.videoWidth);
}

TEST_F(Placement, SizeLimitsAreInclusiveAndHaveNoLowerBound) {
  Store("Video_width", 1601);
  Store("Video_height", 1200);
  WindowPlacement p = Read();
  EXPECT_EQ(640, p.videoWidth);
  EXPECT_EQ(1200, p.videoHeight);
  Store("Video_Width", 1600);
  Store("Video_Height", 1201);
  p = Read();
  EXPECT_EQ(1600, p.videoWidth);
  EXPECT_EQ(480, p.videoHeight);
  EXPECT_EQ((1024 - 1600) / 2, p.videoLeft);  // centred by the corrected width, truncating toward zero
  Store("Video_width", 0);
  EXPECT_EQ(0, Read().videoWidth);
}

TEST_F(Placement, NegativeSavedEdgesComeBackCentred) {
  Store("Video_left", static_cast<DWORD>(-4));
  Store("Panel_left", static_cast<DWORD>(-10));
  const WindowPlacement p = Read();
  EXPECT_EQ(192, p.videoLeft);
  EXPECT_EQ(237, p.panelLeft);
}

TEST_F(Placement, EdgesOfTheDesktopAreAccepted) {
  Store("Panel_left", 1024);
  Store("Panel_top", 0);
  Store("Video_top", 768);
  const WindowPlacement p = Read();
  EXPECT_EQ(1024, p.panelLeft);
  EXPECT_EQ(0, p.panelTop);
  EXPECT_EQ(768, p.videoTop);
  Store("Panel_left", 1025);
  EXPECT_EQ(237, Read().panelLeft);
}

TEST_F(Placement, HugeAndMistypedValuesTakeTheirLow16BitsOrTheDefault) {
  Store("Video_width", 0x10000 + 800);  // low 16 bits: 800
  HKEY k = OpenSettingsKey(kKeyPosition);
  const char text[] = "not a number";
  RegSetValueExA(k, "Video_height", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), sizeof text);  // too long for 4 bytes
  CloseSettingsKey(k);
  const WindowPlacement p = Read();
  EXPECT_EQ(800, p.videoWidth);
  EXPECT_EQ(480, p.videoHeight);
}

class StartupChecks : public ::testing::Test {
 protected:
  void TearDown() override { orv::ui::SetScreenDepthForTests(0); }
  CTunerApp app;
};

TEST_F(StartupChecks, ColourDepthRules) {
  struct Case {
    int depth;
    int answer;
    bool pass;
    size_t boxes;
    UINT text;
  };
  const Case cases[] = {{4, IDOK, false, 1, 149}, {8, IDYES, true, 1, 151}, {8, IDNO, false, 1, 151},
                        {15, IDYES, true, 1, 151}, {16, IDOK, true, 0, 0},   {32, IDOK, true, 0, 0}};
  for (const Case& c : cases) {
    orv::ui::SetScreenDepthForTests(c.depth);
    MessageBoxAnswerer boxes(c.answer);
    EXPECT_EQ(c.pass, app.StartupChecks()) << "depth " << c.depth;
    ASSERT_EQ(c.boxes, boxes.calls.size()) << "depth " << c.depth;
    if (!c.boxes) continue;
    char text[512];
    LoadStringA(c.text, text, sizeof text);
    EXPECT_EQ(text, boxes.calls[0].text);
    EXPECT_EQ("시스템 색상 설정 ", boxes.calls[0].caption);
    EXPECT_EQ(nullptr, boxes.calls[0].owner);
    const UINT expected = c.depth < 8 ? (MB_ICONERROR | MB_OK) : (MB_ICONWARNING | MB_YESNO);
    EXPECT_EQ(expected, boxes.calls[0].type);
  }
}

TEST_F(StartupChecks, RunningCopyIsRefusedBeforeTheDepthIsAsked) {
  orv::ui::SetScreenDepthForTests(4);
  RecordingWnd running;
  running.SetWindowText("Orvane Tuner( WIN2000 )");
  MessageBoxAnswerer boxes(IDOK);
  EXPECT_FALSE(app.StartupChecks());
  ASSERT_EQ(1u, boxes.calls.size());
  EXPECT_EQ("Orvane Tuner Already Run.", boxes.calls[0].text);
  EXPECT_EQ("Orvane Tuner Execute", boxes.calls[0].caption);
  EXPECT_EQ(MB_ICONERROR | MB_OK, boxes.calls[0].type);
}

TEST_F(StartupChecks, OnlyTheProgramsOwnTitleCounts) {
  RecordingWnd other;
  other.SetWindowText("Orvane Tuner (English)");  // a copy titled by a language module is not found
  MessageBoxAnswerer boxes(IDOK);
  EXPECT_TRUE(app.StartupChecks());
  EXPECT_TRUE(boxes.calls.empty());
}

// The whole start and end of the application, with the desktop of a 1024 by 768 screen.
class AppRun : public ::testing::Test {
 protected:
  void SetUp() override {
    FreshConfigDir();
    orv::ui::SetDesktopRectForTests(&kDesk);
    orv::ui::ClearQuitForTests();
  }
  void TearDown() override {
    orv::ui::SetDesktopRectForTests(nullptr);
    orv::ui::ClearQuitForTests();
  }
  int Saved(const char* name) {
    HKEY k = OpenSettingsKey(kKeyPosition);
    const int v = ReadSettingWord(k, name, -1);
    CloseSettingsKey(k);
    return v;
  }
};

TEST_F(AppRun, WindowsOpenAtTheirPlacesWithTheirTitlesAndLinks) {
  CTunerApp app;
  ASSERT_TRUE(app.InitInstance());
  ASSERT_TRUE(IsWindow(app.m_pVideoWnd->m_hWnd));
  ASSERT_TRUE(IsWindow(app.m_pPanelWnd->m_hWnd));
  EXPECT_EQ(app.m_pVideoWnd, AfxGetMainWnd());
  EXPECT_EQ(app.m_pPanelWnd->m_hWnd, app.m_pVideoWnd->m_hwndPanel);
  EXPECT_EQ(app.m_pVideoWnd->m_hWnd, app.m_pPanelWnd->m_hwndVideo);
  RECT v, p;
  app.m_pVideoWnd->GetWindowRect(&v);
  app.m_pPanelWnd->GetWindowRect(&p);
  EXPECT_EQ(192, v.left);
  EXPECT_EQ(144, v.top);
  EXPECT_EQ(832, v.right);
  EXPECT_EQ(624, v.bottom);
  EXPECT_EQ(237, p.left);
  EXPECT_EQ(309, p.top);
  EXPECT_EQ(550, p.right - p.left);
  EXPECT_EQ(150, p.bottom - p.top);
  EXPECT_TRUE(app.m_pVideoWnd->IsWindowVisible());
  EXPECT_TRUE(app.m_pPanelWnd->IsWindowVisible());
  EXPECT_EQ(app.m_pVideoWnd->m_hWnd, FindWindowA(nullptr, "Orvane Tuner( WIN2000 )"));
  EXPECT_EQ(app.m_pPanelWnd->m_hWnd, FindWindowA(nullptr, "판넬 윈도"));

  // The exit path a user takes (and SIGTERM): the video window tears down once, the loop ends.
  app.OnTerminateSignal();
  EXPECT_TRUE(app.m_pVideoWnd->TornDown());
  EXPECT_TRUE(orv::ui::QuitRequested());
  app.m_pVideoWnd->MoveWindow(10, 20, 300, 200);
  app.m_pPanelWnd->MoveWindow(40, 50, 550, 150);
  app.ExitInstance();
  EXPECT_EQ(nullptr, app.m_pVideoWnd);
  EXPECT_EQ(10, Saved("Video_left"));
  EXPECT_EQ(20, Saved("Video_top"));
  EXPECT_EQ(300, Saved("Video_Width"));
  EXPECT_EQ(200, Saved("Video_Height"));
  EXPECT_EQ(40, Saved("Panel_left"));
  EXPECT_EQ(50, Saved("Panel_top"));
  EXPECT_EQ(nullptr, FindWindowA(nullptr, "Orvane Tuner( WIN2000 )"));
}

TEST_F(AppRun, ThePanelShowsWhatTheVideoWindowTunes) {
  struct Case {
    DWORD source, tv, catv;
    int shownSource, shownChannel;
  };
  const Case cases[] = {
      {0, 1, 5, 0, 1},          // typed as 0 1
      {1, 5, 0, 1, 0},          // typed as 0 0 0
      {0, 300, 5, 0, 11},       // beyond the list, whatever its low 8 bits
      {1, 5, 126, 1, 11},       // beyond the list
      {9, 30, 5, 0, 30},        // an input that does not exist
      {0x10001, 5, 99, 1, 99},  // the low 16 bits count
  };
  for (const Case& c : cases) {
    FreshConfigDir();
    HKEY k = OpenSettingsKey(kKeyChannel);
    WriteSettingDword(k, "Source", c.source);
    WriteSettingDword(k, "TVChannel", c.tv);
    WriteSettingDword(k, "CATVChannel", c.catv);
    CloseSettingsKey(k);
    orv::media::ClearJournal();
    CTunerApp app;
    ASSERT_TRUE(app.InitInstance());
    const CPanelWnd& panel = *app.m_pPanelWnd;
    EXPECT_EQ(c.shownSource, panel.m_nSource) << c.source;
    EXPECT_EQ(c.shownSource, app.m_pVideoWnd->m_pGraph->m_nSource) << c.source;
    EXPECT_EQ(c.shownChannel, c.shownSource == SOURCE_TV ? panel.m_nTVChannel : panel.m_nCATVChannel) << c.source;
    const auto tuned = orv::test::Calls("Tuner.put_Channel(");
    ASSERT_EQ(1u, tuned.size()) << c.source;
    EXPECT_EQ(0u, tuned[0].find("Tuner.put_Channel(" + std::to_string(c.shownChannel) + ",")) << tuned[0];
    app.ExitInstance();
  }
}

TEST_F(AppRun, MinimisedPanelAndZoomedVideoKeepTheirEarlierValues) {
  Store("Panel_left", 11);
  Store("Panel_top", 12);
  Store("Video_left", 13);
  Store("Video_top", 14);
  Store("Video_width", 500);
  Store("Video_height", 400);
  CTunerApp app;
  ASSERT_TRUE(app.InitInstance());
  app.m_pPanelWnd->ShowWindow(SW_MINIMIZE);
  app.m_pVideoWnd->ShowWindow(SW_MAXIMIZE);
  ASSERT_TRUE(app.m_pVideoWnd->IsZoomed());
  // Minimising is up to the platform; only test the panel rule where it took effect.
  const bool panelMinimised = app.m_pPanelWnd->IsIconic();
  app.ExitInstance();
  EXPECT_EQ(13, Saved("Video_left"));
  EXPECT_EQ(14, Saved("Video_top"));
  EXPECT_EQ(500, Saved("Video_width"));
  EXPECT_EQ(400, Saved("Video_height"));
  if (panelMinimised) {
    EXPECT_EQ(11, Saved("Panel_left"));
    EXPECT_EQ(12, Saved("Panel_top"));
  }
}

TEST_F(AppRun, WindowLeftOffTheLeftEdgeIsSavedNegativeAndComesBackCentred) {
  {
    CTunerApp app;
    ASSERT_TRUE(app.InitInstance());
    app.m_pVideoWnd->MoveWindow(-4, 100, 640, 480);
    app.ExitInstance();
  }
  HKEY k = OpenSettingsKey(kKeyPosition);
  DWORD raw = 0, size = 4;
  RegQueryValueExA(k, "Video_left", nullptr, nullptr, reinterpret_cast<BYTE*>(&raw), &size);
  CloseSettingsKey(k);
  EXPECT_EQ(static_cast<DWORD>(-4), raw);
  CTunerApp again;
  ASSERT_TRUE(again.InitInstance());
  RECT v;
  again.m_pVideoWnd->GetWindowRect(&v);
  EXPECT_EQ(192, v.left);
  EXPECT_EQ(100, v.top);
  again.ExitInstance();
}

TEST_F(AppRun, VideoWindowIgnoresCodesItDoesNotKnowAndKeepsItsMinimumSize) {
  CTunerApp app;
  ASSERT_TRUE(app.InitInstance());
  CVideoWnd* v = app.m_pVideoWnd;
  ::SendMessageA(v->m_hWnd, WM_TUNER_NOTIFY, VideoCmd::AdjustTarget, 2);
  for (WPARAM code : {6u, 7u, 8u, 10u, 19u, 25u, 28u, 49u, 57u, 1000u})
    EXPECT_EQ(0, ::SendMessageA(v->m_hWnd, WM_TUNER_NOTIFY, code, 3)) << code;
  EXPECT_EQ(2, v->m_nPictureTarget);
  v->MoveWindow(0, 0, 20, 20);
  RECT r;
  v->GetWindowRect(&r);
  EXPECT_EQ(128, r.right - r.left);
  EXPECT_EQ(100, r.bottom - r.top);
  app.ExitInstance();
}

TEST_F(AppRun, KeysOnTheVideoWindowReachThePanel) {
  CTunerApp app;
  ASSERT_TRUE(app.InitInstance());
  orv::ui::ClearQuitForTests();
  // Alt with keypad + pressed on the video window ends the program through the panel.
  ::SendMessageA(app.m_pVideoWnd->m_hWnd, WM_SYSKEYDOWN, VK_ADD, 1 | KF_ALTDOWN_BIT);
  EXPECT_TRUE(orv::ui::QuitRequested());
  EXPECT_TRUE(app.m_pVideoWnd->TornDown());
  app.ExitInstance();
}

// SIGTERM (or the exit key) while the disk-full box of a timed capture is open: the box returns
// into a whole engine, the result box that would follow is not shown, and then the program ends
// as always, with everything saved.
TEST_F(AppRun, EndingWhileABoxIsOpenWaitsUntilItHasReturned) {
  CTunerApp app;
  ASSERT_TRUE(app.InitInstance());
  CVideoWnd* video = app.m_pVideoWnd;
  orv::media::SetAviDiskLimitForTests(12u << 20);  // room for a few frames beyond the reserve
  const std::string file = orv::test::ConfigDir() + "/full.avi";
  ASSERT_EQ(1, video->m_pGraph->StartFileCapture(file.c_str(), TRUE, 60));
  std::vector<std::string> shown;
  bool engineKept = true;
  orv::ui::SetMessageBoxHook([&](const orv::ui::MessageBoxCall& c) {
    shown.push_back(c.text);
    app.OnTerminateSignal();
    engineKept = engineKept && video->m_pGraph && !orv::ui::QuitRequested();
    return IDOK;
  });
  const bool ended = orv::test::PumpUntil([] { return orv::ui::QuitRequested(); }, 20000);
  orv::test::FailOnUnexpectedMessageBoxes();
  orv::media::SetAviDiskLimitForTests(0);
  ASSERT_TRUE(ended);
  EXPECT_TRUE(engineKept);
  ASSERT_EQ(1u, shown.size());
  EXPECT_NE(std::string::npos, shown[0].find("디스크 공간이 부족하여"));
  EXPECT_TRUE(video->TornDown());
  HKEY k = OpenSettingsKey(kKeyChannel);
  EXPECT_EQ(11, ReadSettingWord(k, "TVChannel", -1)) << "the panel saved its channels";
  CloseSettingsKey(k);
  k = OpenSettingsKey(kKeyVideo);
  EXPECT_EQ(127, ReadSettingWord(k, "Bright", -1)) << "the video window saved the picture";
  CloseSettingsKey(k);
  EXPECT_NE(std::string::npos, orv::test::ReadConfigFile("win.ini").find("CaptureFile=" + file));
  app.ExitInstance();
  EXPECT_EQ(237, Saved("Panel_left"));
}

}  // namespace

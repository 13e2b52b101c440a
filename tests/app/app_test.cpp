// Start-up checks, window placement from the saved values, and what shutdown saves.
#include "app/TunerApp.h"
#include "capture/CaptureGraph.h"
#include "common/Commands.h"
#include "common/Settings.h"
#include "panel/PanelWnd.h"
#include "platform/media/writer/testing.h"
#include "platform/ui/testing.h"
#include "tests/media/mediarig.h"
#include "tests/support/testenv.h"
#include "tests/support/uitest.h"
#include "video/VideoWnd.h"

#include <gtest/gtest.h>
#include <map>

using orv::test::MessageBoxAnswerer, orv::test::StoreDword, orv::test::StoredWord;

namespace {

const RECT kDesk{0, 0, 1024, 768};

// Panel left and top, then video left, top, width and height.
std::vector<int> Placed(const WindowPlacement& p) {
  return {p.panelLeft, p.panelTop, p.videoLeft, p.videoTop, p.videoWidth, p.videoHeight};
}

TEST(Placement, SavedValuesOutsideTheirLimitsAreCentredOrDefaulted) {
  struct Case { std::map<std::string, DWORD> saved; std::vector<int> placed; };
  const Case cases[] = {
      {{}, {237, 309, 192, 144, 640, 480}},
      // Size limits are inclusive and have no lower bound; the video is centred by the corrected size.
      {{{"Video_width", 1601}, {"Video_height", 1200}}, {237, 309, 192, -216, 640, 1200}},
      {{{"Video_Width", 1600}, {"Video_Height", 1201}}, {237, 309, -288, 144, 1600, 480}},
      {{{"Video_width", 0}, {"Video_height", 0x10000 + 100}}, {237, 309, 512, 334, 0, 100}},  // low 16 bits
      // Negative edges come back centred; the desktop's own edges are accepted.
      {{{"Video_left", static_cast<DWORD>(-4)}, {"Panel_left", static_cast<DWORD>(-10)}},
       {237, 309, 192, 144, 640, 480}},
      {{{"Panel_left", 1024}, {"Panel_top", 0}, {"Video_top", 768}}, {1024, 0, 192, 768, 640, 480}},
      {{{"Panel_left", 1025}, {"Video_top", 769}}, {237, 309, 192, 144, 640, 480}},
  };
  for (const Case& c : cases) {
    orv::test::FreshConfigDir();
    for (auto& [name, value] : c.saved) StoreDword(kKeyPosition, name.c_str(), value);
    EXPECT_EQ(c.placed, Placed(ReadWindowPlacement(orv::test::Key(kKeyPosition), kDesk))) << testing::PrintToString(c.saved);
  }
}

class StartupChecks : public ::testing::Test {
 protected:
  void TearDown() override { orv::ui::SetScreenDepthForTests(0); }
  CTunerApp app;
};

TEST_F(StartupChecks, ColourDepthRules) {
  struct Case { int depth, answer; bool pass; UINT text; };  // text: of the one box shown, or 0 for none
  const Case cases[] = {{4, IDOK, false, 149}, {8, IDYES, true, 151}, {8, IDNO, false, 151},
                        {15, IDYES, true, 151}, {16, IDOK, true, 0},   {32, IDOK, true, 0}};
  for (const Case& c : cases) {
    orv::ui::SetScreenDepthForTests(c.depth);
    MessageBoxAnswerer boxes(c.answer);
    EXPECT_EQ(c.pass, app.StartupChecks()) << "depth " << c.depth;
    ASSERT_EQ(c.text ? 1u : 0u, boxes.calls.size()) << "depth " << c.depth;
    if (!c.text) continue;
    char text[512];
    LoadStringA(c.text, text, sizeof text);
    EXPECT_EQ(std::string("시스템 색상 설정 : ") + text, boxes.calls[0].caption + ": " + boxes.calls[0].text);
    EXPECT_EQ(nullptr, boxes.calls[0].owner);
    EXPECT_EQ(static_cast<UINT>(c.depth < 8 ? MB_ICONERROR | MB_OK : MB_ICONWARNING | MB_YESNO), boxes.calls[0].type);
  }
}

// Only a window titled with the program's own title is a running copy (not one a language module
// renamed), and it is refused before the depth is asked.
TEST_F(StartupChecks, RunningCopyIsRefusedBeforeTheDepthIsAsked) {
  orv::test::RecordingWnd other;
  other.SetWindowText("Orvane Tuner (English)");
  EXPECT_TRUE(app.StartupChecks());
  orv::ui::SetScreenDepthForTests(4);
  other.SetWindowText("Orvane Tuner( WIN2000 )");
  MessageBoxAnswerer boxes(IDOK);
  EXPECT_FALSE(app.StartupChecks());
  ASSERT_EQ(1u, boxes.calls.size());
  EXPECT_EQ("Orvane Tuner Execute: Orvane Tuner Already Run.", boxes.calls[0].caption + ": " + boxes.calls[0].text);
}

// The whole start and end of the application, with the desktop of a 1024 by 768 screen.
class AppRun : public ::testing::Test {
 protected:
  void SetUp() override {
    orv::test::FreshConfigDir();
    orv::ui::SetDesktopRectForTests(&kDesk);
    orv::ui::ClearQuitForTests();
  }
  void TearDown() override {
    if (app.m_pVideoWnd) app.ExitInstance();
    orv::ui::SetDesktopRectForTests(nullptr);
    orv::ui::ClearQuitForTests();
  }
  std::vector<LONG> Rect(CWnd* w) {
    CRect r;
    w->GetWindowRect(&r);
    return {r.left, r.top, r.right, r.bottom};
  }
  CTunerApp app;
};

TEST_F(AppRun, WindowsOpenAtTheirPlacesAndTheirPlacesAreSavedAtTheEnd) {
  ASSERT_TRUE(app.InitInstance());
  EXPECT_EQ(app.m_pVideoWnd, AfxGetMainWnd());
  EXPECT_EQ(app.m_pPanelWnd->m_hWnd, app.m_pVideoWnd->m_hwndPanel);
  EXPECT_EQ(app.m_pVideoWnd->m_hWnd, app.m_pPanelWnd->m_hwndVideo);
  EXPECT_EQ((std::vector<LONG>{192, 144, 832, 624}), Rect(app.m_pVideoWnd));
  EXPECT_EQ((std::vector<LONG>{237, 309, 787, 459}), Rect(app.m_pPanelWnd));
  EXPECT_TRUE(app.m_pVideoWnd->IsWindowVisible() && app.m_pPanelWnd->IsWindowVisible());
  // The exit path a user takes (and SIGTERM): the video window tears down once, the loop ends.
  app.OnTerminateSignal();
  EXPECT_TRUE(app.m_pVideoWnd->TornDown());
  EXPECT_TRUE(orv::ui::QuitRequested());
  app.m_pVideoWnd->MoveWindow(-4, 20, 300, 200);  // off the left edge: saved negative
  app.m_pPanelWnd->MoveWindow(40, 50, 550, 150);
  app.ExitInstance();
  EXPECT_EQ(nullptr, FindWindowA(nullptr, "Orvane Tuner( WIN2000 )"));
  std::vector<int> saved;
  for (const char* n : {"Panel_left", "Panel_top", "Video_left", "Video_top", "Video_Width", "Video_Height"})
    saved.push_back(StoredWord(kKeyPosition, n));
  EXPECT_EQ((std::vector<int>{40, 50, 0xFFFC, 20, 300, 200}), saved);
}

TEST_F(AppRun, MinimisedPanelAndZoomedVideoKeepTheirEarlierValues) {
  for (auto [name, value] : {std::pair{"Panel_left", 11}, {"Panel_top", 12}, {"Video_left", 13}, {"Video_top", 14},
                             {"Video_width", 500}, {"Video_height", 400}})
    StoreDword(kKeyPosition, name, value);
  ASSERT_TRUE(app.InitInstance());
  app.m_pPanelWnd->ShowWindow(SW_MINIMIZE);
  app.m_pVideoWnd->ShowWindow(SW_MAXIMIZE);
  ASSERT_TRUE(app.m_pVideoWnd->IsZoomed());
  const bool panelMinimised = app.m_pPanelWnd->IsIconic();  // up to the platform
  app.ExitInstance();
  std::vector<int> saved;
  for (const char* n : {"Panel_left", "Video_left", "Video_top", "Video_width", "Video_height"})
    saved.push_back(StoredWord(kKeyPosition, n));
  EXPECT_EQ((std::vector<int>{panelMinimised ? 11 : saved[0], 13, 14, 500, 400}), saved);
}

// Both windows take the stored source and channels alike: the panel shows what is tuned.
TEST_F(AppRun, ThePanelShowsWhatTheVideoWindowTunes) {
  StoreDword(kKeyChannel, "Source", 0x10001);  // the low 16 bits count: cable
  StoreDword(kKeyChannel, "CATVChannel", 99);
  orv::media::ClearJournal();
  ASSERT_TRUE(app.InitInstance());
  EXPECT_EQ(SOURCE_CATV, app.m_pPanelWnd->m_nSource);
  EXPECT_EQ(SOURCE_CATV, app.m_pVideoWnd->m_pGraph->m_nSource);
  EXPECT_EQ(99, app.m_pPanelWnd->m_nCATVChannel);
  const auto tuned = orv::test::Calls("Tuner.put_Channel(");
  ASSERT_EQ(1u, tuned.size());
  EXPECT_EQ(0u, tuned[0].find("Tuner.put_Channel(99,")) << tuned[0];
}

// Alt with keypad + pressed on the video window ends the program through the panel.
TEST_F(AppRun, VideoWindowKeepsItsMinimumSizeAndPassesKeysToThePanel) {
  ASSERT_TRUE(app.InitInstance());
  CVideoWnd* v = app.m_pVideoWnd;
  v->MoveWindow(0, 0, 20, 20);
  EXPECT_EQ((std::vector<LONG>{0, 0, 128, 100}), Rect(v));
  ::SendMessageA(v->m_hWnd, WM_SYSKEYDOWN, VK_ADD, 1 | KF_ALTDOWN_BIT);
  EXPECT_TRUE(orv::ui::QuitRequested());
  EXPECT_TRUE(v->TornDown());
}

// SIGTERM (or the exit key) while a timed capture's disk-full box is open: the box returns into a
// whole engine, the result box that would follow is not shown, and the program ends with all saved.
TEST_F(AppRun, EndingWhileABoxIsOpenWaitsUntilItHasReturned) {
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
  EXPECT_EQ(11, StoredWord(kKeyChannel, "TVChannel")) << "the panel saved its channels";
  EXPECT_EQ(127, StoredWord(kKeyVideo, "Bright")) << "the video window saved the picture";
  EXPECT_NE(std::string::npos, orv::test::ReadConfigFile("win.ini").find("CaptureFile=" + file));
  app.ExitInstance();
  EXPECT_EQ(237, StoredWord(kKeyPosition, "Panel_left"));
}

}  // namespace

// The video window: picture placement, frame, settings at start and exit, the settings sheet,
// the right button, dragging, commands.
#include "common/Commands.h"
#include "common/Settings.h"
#include "platform/media/devices/testing.h"
#include "platform/mixer/testing.h"
#include "platform/ui/afxdlgs.h"
#include "platform/ui/qtwnd_p.h"
#include "res/resource.h"
#include "tests/capture/enginerig.h"
#include "tests/dialogs/rig.h"
#include "tests/support/testenv.h"
#include "tests/support/uitest.h"
#include "video/VideoWnd.h"

#include <QApplication>
#include <QMouseEvent>
#include <QTimer>
#include <QWidget>
#include <gtest/gtest.h>

namespace {

using orv::test::CardState;
using orv::test::StoreDword;
using orv::test::StoredWord;

// A video window on the virtual card, with a recording window standing in for the panel.
class VideoWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    orv::test::FreshConfigDir();
    orv::test::UseCard("");
  }
  CVideoWnd& Open() {
    wnd = std::make_unique<CVideoWnd>();
    EXPECT_TRUE(wnd->Create("Orvane Tuner( WIN2000 )", RECT{100, 100, 740, 580}));
    wnd->m_hwndPanel = panel.m_hWnd;
    wnd->ShowWindow(SW_SHOW);
    return *wnd;
  }
  LRESULT Command(WPARAM code, LPARAM arg) { return ::SendMessageA(wnd->m_hWnd, WM_TUNER_NOTIFY, code, arg); }

  orv::test::RecordingWnd panel;
  orv::test::MessageBoxAnswerer boxes{IDNO};
  std::unique_ptr<CVideoWnd> wnd;
};

TEST_F(VideoWindow, PictureSitsInsideThePaintedFrameAndFillsTheZoomedWindow) {
  CVideoWnd& v = Open();
  v.MoveWindow(100, 100, 400, 300);
  RECT r = v.PictureRect();
  EXPECT_EQ((std::vector<LONG>{9, 18, 382, 266}), (std::vector<LONG>{r.left, r.top, r.right, r.bottom}));
  v.SendMessage(WM_PAINT);
  CBitmap frame;
  ASSERT_TRUE(frame.LoadBitmap(IDB_FRAME));
  CClientDC dc(&v);
  EXPECT_EQ(frame.GetPixel(76, 70), dc.GetPixel(399, 299));  // the bottom-right corner piece

  v.ShowWindow(SW_MAXIMIZE);  // zoomed: the picture fills the window and no frame is painted
  RECT client;
  v.GetClientRect(&client);
  r = v.PictureRect();
  EXPECT_EQ((std::vector<LONG>{0, 0, client.right, client.bottom}), (std::vector<LONG>{r.left, r.top, r.right, r.bottom}));
  dc.FillSolidRect(0, 0, 5, 5, RGB(1, 2, 3));
  v.SendMessage(WM_PAINT);
  EXPECT_EQ(RGB(1, 2, 3), dc.GetPixel(0, 0));
}

TEST_F(VideoWindow, PictureValuesKeepTheirLevelsOverTenStartsAndExits) {
  // A card with 256 driver values per control, as most V4L2 cards have.
  orv::test::UseCard(R"({"procamp": {
    "brightness": {"min": 0, "max": 255, "default": 128}, "contrast": {"min": 0, "max": 255, "default": 128},
    "hue": {"min": 0, "max": 255, "default": 128}, "saturation": {"min": 0, "max": 255, "default": 128}}})");
  const std::pair<const char*, int> stored[] = {{"Bright", 100}, {"Contrast", 1}, {"Hue", 255}, {"Saturation", 127}};
  for (const auto& [name, level] : stored) StoreDword(kKeyVideo, name, static_cast<DWORD>(level));
  for (int run = 0; run < 10; ++run) {
    Open();
    wnd.reset();  // saves what the card reads back
  }
  for (const auto& [name, level] : stored) EXPECT_EQ(level, StoredWord(kKeyVideo, name)) << name;
}

TEST_F(VideoWindow, CommandsTuneRouteAndSetThePictureByTarget) {
  Open();
  Command(VideoCmd::TuneChannel, 300);  // the low 8 bits
  EXPECT_EQ(44, CardState().tunerChannel);
  Command(VideoCmd::ChannelDown, 5);
  EXPECT_EQ(5, CardState().tunerChannel);
  Command(VideoCmd::SelectSource, 3);
  EXPECT_EQ(0, CardState().routes[0][0]);  // S-Video is the crossbar's input 0
  Command(VideoCmd::SelectSource, 2);
  EXPECT_EQ(2, CardState().routes[0][0]);

  Command(VideoCmd::AdjustTarget, 2);  // hue
  Command(VideoCmd::AdjustValue, 0);
  EXPECT_EQ(0, CardState().procAmp[2]);
  Command(VideoCmd::AdjustStep, 255);
  EXPECT_EQ(9961, CardState().procAmp[2]);
  const auto before = CardState();
  Command(VideoCmd::AdjustTarget, 7);  // no control
  Command(VideoCmd::AdjustValue, 10);
  Command(VideoCmd::AdjustStep, 10);
  EXPECT_EQ(0, std::memcmp(before.procAmp, CardState().procAmp, sizeof before.procAmp));
  Command(VideoCmd::SetContrast, 0);  // names its control itself, target untouched
  EXPECT_EQ(0, CardState().procAmp[1]);
  EXPECT_EQ(7, wnd->m_nPictureTarget);
}

TEST_F(VideoWindow, TeardownSavesOnceEvenWhenDestroyedTwice) {
  CVideoWnd& v = Open();
  Command(VideoCmd::SetBrightness, 200);
  ::SendMessageA(v.m_hWnd, WM_DESTROY, 0, 0);  // the panel's exit command
  EXPECT_TRUE(v.TornDown());
  EXPECT_EQ(nullptr, v.m_pGraph);
  EXPECT_EQ(200, StoredWord(kKeyVideo, "Bright"));
  EXPECT_NE(std::string::npos, orv::test::ReadConfigFile("win.ini").find("VideoDevice=0"));
  StoreDword(kKeyVideo, "Bright", 5);
  Command(VideoCmd::TuneChannel, 9);  // no engine: nothing, no crash
  wnd.reset();                        // the final destruction
  EXPECT_EQ(5, StoredWord(kKeyVideo, "Bright"));
}

// Code 24: the sheet opens with the screen's picture values stored; on OK the panel hears of it and
// the values the pages stored are applied, on Cancel nothing more happens.
TEST_F(VideoWindow, SettingsSheetOkTellsThePanelAndAppliesTheStoredValuesCancelDoesNeither) {
  for (int button : {IDCANCEL, IDOK}) {
    Open();
    panel.log.clear();
    Command(VideoCmd::SetBrightness, 200);
    const LONG before = CardState().procAmp[0];
    int storedWhileOpen = -1;
    QTimer::singleShot(0, [&] {
      HWND sheet = FindWindowA(nullptr, "환경설정");
      ASSERT_NE(nullptr, sheet);
      storedWhileOpen = StoredWord(kKeyVideo, "Bright");
      StoreDword(kKeyVideo, "Bright", 0);  // what the video page stores on OK
      ::SendMessageA(sheet, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
    });
    Command(VideoCmd::OpenSettings, 0);
    EXPECT_EQ(200, storedWhileOpen);
    const auto told = panel.Of(WM_TUNER_NOTIFY);
    EXPECT_EQ(button == IDOK ? 1u : 0u, told.size());
    EXPECT_TRUE(told.empty() || told[0].wParam == PanelCmd::SettingsAccepted);
    EXPECT_EQ(button == IDOK ? 0 : before, CardState().procAmp[0]);
  }
}

TEST_F(VideoWindow, RightClickAsksOnlyWhenOnTopAndYesTellsThePanel) {
  CVideoWnd& v = Open();
  ::SendMessageA(v.m_hWnd, WM_RBUTTONDOWN, MK_RBUTTON, 0);
  EXPECT_TRUE(boxes.calls.empty());
  Command(VideoCmd::TopMost, 1);
  for (int answer : {IDNO, IDYES}) {
    boxes.answer = answer;
    ::SendMessageA(v.m_hWnd, WM_RBUTTONDOWN, MK_RBUTTON, 0);
    EXPECT_EQ(answer == IDNO, static_cast<bool>(v.m_bTopMost));
  }
  ASSERT_EQ(2u, boxes.calls.size());
  EXPECT_EQ("항상위 기능이 실행중입니다.\n해제하시겠습니까?", boxes.calls[0].text);
  EXPECT_EQ("항상위 해제", boxes.calls[0].caption);
  EXPECT_EQ(MB_YESNO | MB_ICONQUESTION, boxes.calls[0].type);
  ASSERT_EQ(1, panel.Count(WM_TUNER_NOTIFY));  // after the yes only
  EXPECT_EQ(PanelCmd::TopMostOff, panel.Of(WM_TUNER_NOTIFY)[0].wParam);
}

// Pressing on the frame or the picture and dragging moves the window while the button is held, by
// the drag; a click moves nothing, and the pointer moving afterwards neither. A window manager is
// asked to move it only once the pointer has really moved (asked at the press, it keeps the window
// on the pointer after the release). The border sizes; a zoomed window does not move.
TEST_F(VideoWindow, DragMovesTheWindowAClickDoesNot) {
  CVideoWnd& v = Open();
  QWidget* frame = orv::test::Widget(v.m_hWnd);
  const std::vector<HWND> children = orv::ui::ChildrenOf(v.m_hWnd);
  ASSERT_FALSE(children.empty()) << "the picture";
  QWidget* picture = orv::test::Widget(children[0]);
  std::vector<Qt::Edges> asked;
  bool windowManager = false;
  orv::ui::SetSystemDragHookForTests([&](QWidget*, Qt::Edges e) { return asked.push_back(e), windowManager; });
  // As the display server reports them: the pointer on the screen, and its place in the widget now.
  auto send = [](QWidget* q, QEvent::Type type, QPoint global, Qt::MouseButtons held) {
    QMouseEvent e(type, QPointF(q->mapFromGlobal(global)), QPointF(global),
                  type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, held, Qt::NoModifier);
    QApplication::sendEvent(q, &e);
  };
  struct Case { const char* what; QWidget* on; QPoint press; QSize drag; bool wm, zoomed; RECT after; std::size_t asked; };
  const Case cases[] = {
      {"click on the frame", frame, {4 + 50, 50}, {0, 0}, false, false, {100, 100, 740, 580}, 0},
      {"click on the picture", picture, {50, 50}, {0, 0}, false, false, {100, 100, 740, 580}, 0},
      {"drag the frame", frame, {50, 50}, {20, 10}, false, false, {120, 110, 760, 590}, 1},
      {"drag the picture", picture, {50, 50}, {-30, 25}, false, false, {70, 125, 710, 605}, 1},
      {"drag the lower right corner", frame, {638, 478}, {16, 12}, false, false, {100, 100, 756, 592}, 1},
      {"window manager: click", picture, {50, 50}, {0, 0}, true, false, {100, 100, 740, 580}, 0},
      {"window manager: drag", picture, {50, 50}, {20, 10}, true, false, {100, 100, 740, 580}, 1},
      {"zoomed", picture, {50, 50}, {20, 10}, false, true, {}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    v.MoveWindow(100, 100, 640, 480);
    if (c.zoomed) v.ShowWindow(SW_MAXIMIZE);
    RECT before;
    v.GetWindowRect(&before);
    asked.clear();
    windowManager = c.wm;
    const QPoint from = c.on->mapToGlobal(c.press), to = from + QPoint(c.drag.width(), c.drag.height());
    send(c.on, QEvent::MouseButtonPress, from, Qt::LeftButton);
    send(c.on, QEvent::MouseMove, (from + to) / 2, Qt::LeftButton);
    send(c.on, QEvent::MouseMove, to, Qt::LeftButton);
    send(c.on, QEvent::MouseButtonRelease, to, Qt::NoButton);
    send(c.on, QEvent::MouseMove, to + QPoint(40, 40), Qt::NoButton);  // the button is up: nothing follows
    RECT r;
    v.GetWindowRect(&r);
    const RECT expected = c.zoomed ? before : c.after;
    EXPECT_EQ((std::vector<LONG>{expected.left, expected.top, expected.right, expected.bottom}),
              (std::vector<LONG>{r.left, r.top, r.right, r.bottom}));
    EXPECT_EQ(c.asked, asked.size());
    if (c.zoomed) v.ShowWindow(SW_RESTORE);
  }
  orv::ui::SetSystemDragHookForTests(nullptr);
}

}  // namespace

// Code 60 from the video page's button: the levels window opens beside the video window and stays
// when the sheet closes; it shows the card's luma range, and moving the brightness moves it.
TEST_F(VideoWindow, LevelsWindowFromTheVideoPageOutlivesTheSheetAndFollowsThePicture) {
  orv::test::UseCard(R"({"luma_range": [10, 240]})");
  CVideoWnd& v = Open();
  CWinApp app;  // the pages command the main window
  app.m_pMainWnd = &v;
  v.MoveWindow(0, 0, 160, 120);  // room on its right on the test's small screen
  QTimer::singleShot(0, [&] {
    const HWND sheet = orv::ui::FindLocalTopLevel("환경설정");
    ASSERT_NE(nullptr, sheet);
    dlgtest::ShowPage(sheet, 1);
    HWND page = nullptr;
    for (HWND c : orv::ui::ChildrenOf(sheet))
      if (::IsWindowVisible(c) && ::GetDlgItem(c, IDC_VIDEO_LEVELS)) page = c;
    ASSERT_NE(nullptr, page) << "the video page";
    dlgtest::Click(page, IDC_VIDEO_LEVELS);
    ::SendMessageA(sheet, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
  });
  Command(VideoCmd::OpenSettings, 0);
  const HWND levels = orv::ui::FindLocalTopLevel("신호 레벨");
  ASSERT_NE(nullptr, levels);
  EXPECT_TRUE(::IsWindowVisible(levels));
  RECT video{}, beside{};
  v.GetWindowRect(&video);
  ::GetWindowRect(levels, &beside);
  EXPECT_TRUE(beside.left >= video.right || beside.right <= video.left) << beside.left << " against " << video.right;

  // YMIN and YMAX as the window shows them, once they are what `wanted` asks.
  auto shows = [&](const std::function<bool(int, int)>& wanted) {
    return orv::test::PumpUntil([&] {
      int ymin = -1, ymax = -1;
      return std::sscanf(dlgtest::Text(levels, IDC_LEVELS_PICTURE).c_str(), "YMIN %d YMAX %d", &ymin, &ymax) == 2 &&
             wanted(ymin, ymax);
    }, 5000);
  };
  // Level 128 leaves the card's picture as its decoder gives it.
  Command(VideoCmd::SetContrast, 128);
  Command(VideoCmd::SetBrightness, 128);
  EXPECT_TRUE(shows([](int ymin, int ymax) { return ymin == 10 && ymax == 240; }))
      << dlgtest::Text(levels, IDC_LEVELS_PICTURE);
  Command(VideoCmd::SetBrightness, 255);  // the card's decoder lifts every level by about 100
  EXPECT_TRUE(shows([](int ymin, int ymax) { return ymin > 100 && ymax == 255; }))
      << dlgtest::Text(levels, IDC_LEVELS_PICTURE);
  Command(VideoCmd::OpenLevels, 0);  // an open window only comes to the front
  EXPECT_EQ(levels, orv::ui::FindLocalTopLevel("신호 레벨"));
  app.m_pMainWnd = nullptr;
}

namespace {

// The virtual mixer drives no speakers: its master volume and mute, as the panel sets them, act on
// the sound played through itself.
TEST_F(VideoWindow, TheVirtualMixersVolumeAndMuteActOnTheSoundPlayedThrough) {
  orv::mixer::ResetVirtualMixerForTests();
  orv::test::UseCard(R"({"tone_dbfs": [-6, -6]})");
  orv::test::FakeOutput out;
  Open();
  Command(VideoCmd::SelectSource, SOURCE_VIDEO);  // an input with the card's tone
  CMixer panelMixer;
  panelMixer.m_nMaxLevel = kVolumeMax;
  struct Step { int volume, mute, peak; } steps[] = {{20, 0, 16422}, {10, 0, 16422 * (10 * 0xFFFF / 20) / 0xFFFF}, {10, 1, 0}};
  for (const Step& s : steps) {
    SCOPED_TRACE(std::to_string(s.volume) + (s.mute ? " muted" : ""));
    panelMixer.SetVolume(MIXLINE_MASTER, s.volume);
    panelMixer.SetMute(MIXLINE_MASTER, s.mute);
    orv::test::PumpUntil([] { return false; }, 300);  // the mixer's notice reaches the window
    out.Clear();
    ASSERT_TRUE(orv::test::PumpUntil([&] { return out.Played() >= 2 * 4410 * 2; }, 5000));
    EXPECT_NEAR(s.peak, out.Peak(), 2);
  }
  wnd.reset();  // its output goes before the fake one
  orv::mixer::ResetVirtualMixerForTests();
}

}  // namespace

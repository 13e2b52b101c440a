// The panel's face, display, mouse buttons, commands, keys and the notices it follows.
#include "platform/ui/qtwnd_p.h"
#include "res/layout.h"
#include "tests/panel/panelrig.h"

#include <QApplication>
#include <QTest>

using namespace paneltest;
using orv::test::Pump;
using orv::test::PumpUntil;

namespace {

TEST_F(PanelTest, OpensRoundedWithTheLidClosedAndTheStoredState) {
  StoreDword(kKeyVideo, "Bright", 5);
  StoreDword(kKeyVideo, "Saturation", 0x10000 + 200);  // low 16 bits count
  StoreDword(kKeyAudio, "Selection", 1);
  CMixer other;
  other.m_nMaxLevel = 20;
  other.SetMute(MIXLINE_LINEIN, TRUE);
  other.SetVolume(MIXLINE_MASTER, 10);
  other.SetVolume(MIXLINE_LINEIN, 4);
  Open();
  // Only the rounded 520 by 150 face is part of the window.
  for (auto [x, y, in] : {std::tuple{260, 75, true}, {515, 75, true}, {525, 75, false}, {0, 0, false}, {519, 149, false}})
    EXPECT_EQ(in, orv::ui::WindowRegionContains(panel.m_hWnd, x, y)) << x << "," << y;
  EXPECT_EQ(0, other.GetMute(MIXLINE_LINEIN)) << "line-in is unmuted at every start";
  EXPECT_EQ(1, panel.m_nAudioSelect);
  EXPECT_EQ(10, panel.m_nVolume) << "the master line is shown at start whatever the selection";
  EXPECT_EQ(5, panel.m_nBright);
  EXPECT_EQ(127, panel.m_nContrast);
  EXPECT_EQ(200, panel.m_nSaturation);
  EXPECT_TRUE(Sent().empty()) << "loading sends nothing to the video window";
}

// The face as OnPaint draws it, into a bitmap of the window's size.
class Face {
 public:
  explicit Face(CPanelWnd& p) {
    bmp_.CreateCompatibleBitmap(nullptr, 550, 150);
    dc_.CreateCompatibleDC(nullptr);
    dc_.SelectObject(&bmp_);
    dc_.BitBlt(0, 0, 550, 150, &p.m_dcSkin, 0, 0, SRCCOPY);
    p.DrawLcd(&dc_);
  }
  // Whether w by h pixels at (x, y) equal those of `src` at (xs, ys).
  bool Shows(int x, int y, int w, int h, CDC& src, int xs, int ys) const {
    for (int j = 0; j < h; ++j)
      for (int i = 0; i < w; ++i)
        if (dc_.GetPixel(x + i, y + j) != src.GetPixel(xs + i, ys + j)) return false;
    return true;
  }

 private:
  CBitmap bmp_;
  CDC dc_;
};

class Display : public OpenPanelTest {
 protected:
  // Whether the lit bar shows exactly its w leftmost columns, the skin's unlit bar the rest.
  bool BarIs(int w) {
    Face f(panel);
    return f.Shows(353, 84, w, 7, panel.m_dcLcd, 0, 105) && f.Shows(353 + w, 84, 60 - w, 7, panel.m_dcSkin, 353 + w, 84);
  }
};

TEST_F(Display, ChannelDigitsLeaveLeadingZerosUnlitAndExternalInputsShowNone) {
  const int unlit = 10, skin = -1;
  const struct { int source, channel, glyphs[3]; } cases[] = {{SOURCE_TV, 7, {unlit, unlit, 7}},   {SOURCE_TV, 11, {unlit, 1, 1}}, {SOURCE_TV, 0, {unlit, unlit, 0}},
               {SOURCE_TV, 60, {unlit, 6, 0}},      {SOURCE_CATV, 105, {1, 0, 5}},  {SOURCE_CATV, 120, {1, 2, 0}},
               {SOURCE_VIDEO, 88, {skin, skin, skin}}, {SOURCE_SVIDEO, 88, {skin, skin, skin}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.source << "/" << c.channel);
    panel.m_nSource = c.source;
    panel.m_nTVChannel = panel.m_nCATVChannel = c.channel;
    Face f(panel);
    for (int k = 0; k < 3; ++k) {
      const int x = 345 + 20 * k;
      EXPECT_TRUE(c.glyphs[k] == skin ? f.Shows(x, 51, 16, 28, panel.m_dcSkin, x, 51)
                                      : f.Shows(x, 51, 16, 28, panel.m_dcLcd, 17 * c.glyphs[k], 0)) << "cell " << k;
    }
    // The source's label is lit, the others stay the skin's; "CH" only for the tuner bands.
    for (int label = 0; label < 4; ++label) {
      const int y = 30 + 12 * label;
      EXPECT_TRUE(label == c.source ? f.Shows(269, y, 50, 11, panel.m_dcLcd, 0, 43 + 12 * label)
                                    : f.Shows(269, y, 50, 11, panel.m_dcSkin, 269, y)) << "label " << label;
    }
    EXPECT_TRUE(f.Shows(320, 30, 23, 11, panel.m_dcLcd, c.glyphs[0] == skin ? 24 : 0, 125));
  }
}

TEST_F(Display, VolumeBarSpeakerIndicatorsAndAdjustLabel) {
  for (auto [level, width] : {std::pair{0, 0}, {1, 0}, {7, 18}, {8, 24}, {19, 54}, {20, 60}})
    EXPECT_TRUE((panel.m_nVolume = level, BarIs(width))) << "level " << level;
  panel.m_bMute = FALSE;
  EXPECT_TRUE(Face(panel).Shows(320, 79, 24, 11, panel.m_dcLcd, 0, 113));
  panel.m_bMute = TRUE;
  EXPECT_TRUE(Face(panel).Shows(320, 79, 24, 11, panel.m_dcSkin, 320, 79)) << "muted: the skin's unlit speaker";
  panel.m_bCapture = TRUE;
  EXPECT_TRUE(Face(panel).Shows(344, 30, 23, 11, panel.m_dcLcd, 0, 137));
  for (int a = 0; a < 4; ++a) {
    panel.m_nAdjustTarget = a;
    EXPECT_TRUE(Face(panel).Shows(392, 30, 23, 11, panel.m_dcLcd, 24 * a, 161)) << "target " << a;
  }
}

class Mouse : public OpenPanelTest {
 protected:
  void Send(UINT msg, int x, int y, UINT flags) { ::SendMessageA(panel.m_hWnd, msg, flags, MAKELPARAM(x, y)); }
  // Whether the window shows channel up (475..510 by 30..48) from the pressed skin.
  bool ShowsChannelUpPressed() {
    CClientDC window(&panel);
    for (int y = 30; y < 48; ++y)
      for (int x = 475; x < 510; ++x)
        if (panel.m_dcSkin.GetPixel(x, y) != panel.m_dcSkinPressed.GetPixel(x, y))
          return window.GetPixel(x, y) == panel.m_dcSkinPressed.GetPixel(x, y);
    ADD_FAILURE() << "the skins do not differ there";
    return false;
  }
};

TEST_F(Mouse, HitTestCountsLeftAndTopEdgesInside) {
  const struct { int x, y, button; } cases[] = {{475, 40, 4}, {474, 40, 5}, {510, 40, -1}, {480, 48, -1}, {475, 59, 2},
                                                {9, 115, 0}, {300, 50, -1} /* the display */};
  for (auto c : cases) EXPECT_EQ(c.button, panel.ButtonFromPoint(CPoint(c.x, c.y))) << c.x << "," << c.y;
}

TEST_F(Mouse, ACommandRunsOnceOnReleaseBackOnItsButton) {
  Send(WM_LBUTTONDOWN, 480, 40, MK_LBUTTON);  // channel up
  Pump();
  EXPECT_TRUE(ShowsChannelUpPressed()) << "a repaint keeps the held button down";
  Send(WM_MOUSEMOVE, 300, 60, MK_LBUTTON);
  EXPECT_FALSE(panel.m_bPressed);
  Pump();
  EXPECT_FALSE(ShowsChannelUpPressed());
  Send(WM_MOUSEMOVE, 470, 40, MK_LBUTTON);  // channel down is not the button pressed
  EXPECT_FALSE(panel.m_bPressed);
  Send(WM_MOUSEMOVE, 490, 45, MK_LBUTTON);
  EXPECT_TRUE(panel.m_bPressed);
  Send(WM_LBUTTONUP, 490, 45, 0);
  EXPECT_EQ((Cmds{{VideoCmd::ChannelUp, 13}}), Sent());
  EXPECT_FALSE(panel.m_bPressed);
  // Pressed away from every button: nothing runs.
  Send(WM_LBUTTONDOWN, 300, 60, MK_LBUTTON);
  Send(WM_LBUTTONUP, 480, 40, 0);
  EXPECT_EQ(1u, Sent().size());
}

TEST_F(Mouse, AKeyWhileAButtonIsHeldEndsThePress) {
  // A key of no button, and a digit; the pointer moving on the held button before the release or not.
  for (auto [vk, moveFirst] : {std::pair{UINT(VK_SHIFT), false}, {UINT('5'), true}, {UINT('5'), false}}) {
    video.log.clear();
    panel.m_nDigitCount = 0;  // each digit starts an entry of its own
    Send(WM_LBUTTONDOWN, 480, 40, MK_LBUTTON);
    Key(panel.m_hWnd, vk);
    if (moveFirst) Send(WM_MOUSEMOVE, 481, 41, MK_LBUTTON);
    Send(WM_LBUTTONUP, 481, 41, 0);
    Pump();
    EXPECT_FALSE(ShowsChannelUpPressed()) << vk;
    EXPECT_TRUE(Sent().empty()) << vk << ": the release runs nothing";
  }
}

TEST_F(PanelTest, VolumeStopsAtItsEndsAndMuteActsOnTheSelectedLine) {
  Open();
  CMixer probe;
  probe.m_nMaxLevel = 20;
  panel.m_nVolume = 20;
  Press(2);
  EXPECT_EQ(20, probe.GetVolume(MIXLINE_MASTER));
  panel.m_nVolume = 0;
  Press(3);
  EXPECT_EQ(0, panel.m_nVolume);
  panel.m_nAudioSelect = 1;  // "Selection" set: the line-in line
  Press(8);
  EXPECT_EQ(1, probe.GetMute(MIXLINE_LINEIN));
  EXPECT_EQ(0, probe.GetMute(MIXLINE_MASTER));
}

TEST_F(PanelTest, CommandsSendTheirCodes) {
  Open();
  panel.m_nBright = 0;
  Press(22);  // picture values stop at their ends
  panel.m_nSaturation = 255;
  panel.m_nAdjustTarget = 3;
  Press(23);
  Press(22);
  Press(21);  // 3 wraps to 0
  EXPECT_EQ((Cmds{{23, 0}, {23, 255}, {23, 254}, {21, 0}}), Sent());
  EXPECT_EQ(127, panel.m_nHue);
  video.log.clear();
  panel.m_nCATVChannel = 99;
  for (int i = 0; i < 4; ++i) Press(9);  // the source cycles, retuning on the tuner bands
  EXPECT_EQ((Cmds{{9, 1}, {20, 99}, {9, 2}, {9, 3}, {9, 0}, {20, 11}}), Sent());
  video.log.clear();
  for (int i = 0; i < 3; ++i) Press(26);
  ::SendMessageA(panel.m_hWnd, WM_TUNER_NOTIFY, PanelCmd::TopMostOff, 0);
  EXPECT_FALSE(panel.m_bTopMost);
  EXPECT_EQ((Cmds{{26, 1}, {26, 0}, {26, 1}}), Sent());
  for (WPARAM code : {4u, 9u, 20u, 25u, 50u}) ::SendMessageA(panel.m_hWnd, WM_TUNER_NOTIFY, code, 1);
  EXPECT_FALSE(panel.m_bTopMost) << "codes the panel does not know change nothing";
}

TEST_F(PanelTest, SettingsSavesTheListsFirstAndReloadsWhatTheSheetAccepted) {
  Open();
  panel.m_nTVChannel = 9;
  Press(7);  // erase 9
  std::string seenTV;
  video.handler = [&](UINT msg, WPARAM w, LPARAM, bool*) -> LRESULT {
    if (msg != WM_TUNER_NOTIFY || w != VideoCmd::OpenSettings) return 0;
    seenTV = StoredString(kKeyChannel, "TV");
    // The sheet is accepted: the page stores its lists, the audio and video pages their values.
    StoreString(kKeyChannel, "TV", std::string(70, '1').c_str());
    StoreDword(kKeyAudio, "Selection", 1);
    StoreDword(kKeyVideo, "Hue", 3);
    ::SendMessageA(panel.m_hWnd, WM_TUNER_NOTIFY, PanelCmd::SettingsAccepted, 0);
    return 0;
  };
  Press(24);
  EXPECT_EQ('0', seenTV.at(9));
  EXPECT_EQ(std::string(70, '1'), panel.m_szTVChannels);
  EXPECT_EQ(1, panel.m_nAudioSelect);
  EXPECT_EQ(3, panel.m_nHue);
  EXPECT_EQ((Cmds{{24, 0}}), Sent());
}

// A capture with a time limit ends later: pressing capture meanwhile leaves CAP lit and lets the
// video window decide (it offers to end the capture now).
TEST_F(PanelTest, CaptureLightsCapUntilTheVideoWindowReportsItsEnd) {
  Open();
  Press(27);
  Press(27);
  EXPECT_TRUE(panel.m_bCapture);
  EXPECT_EQ((Cmds{{27, 0}, {27, 0}}), Sent());
  for (int i = 0; i < 2; ++i) ::SendMessageA(panel.m_hWnd, WM_TUNER_NOTIFY, PanelCmd::CaptureEnded, 0);
  EXPECT_FALSE(panel.m_bCapture);
}

class Keys : public OpenPanelTest {
 protected:
  void SetUp() override {
    OpenPanelTest::SetUp();
    orv::test::Widget(panel.m_hWnd)->installEventFilter(&watch);
  }
  // A flash paints the face with a button held down.
  struct PaintWatch : QObject {
    CPanelWnd* panel = nullptr;
    std::vector<int> flashed;  // buttons seen pressed by a paint
    bool eventFilter(QObject*, QEvent* e) override {
      if (e->type() == QEvent::Paint && panel->m_bPressed) flashed.push_back(panel->m_nButton);
      return false;
    }
  } watch;
  Keys() { watch.panel = &panel; }
};

// Each key runs its button's command and flashes the button, unless the lid covers it.
TEST_F(Keys, KeysRunTheirButtonsCommands) {
  panel.m_nVolume = 5;
  panel.m_bMute = FALSE;
  using Flash = std::vector<int>;
  const struct { UINT vk; Cmds sent; Flash flashed; std::function<bool()> holds; } cases[] = {
      {VK_UP, {{4, 13}}, {4}, nullptr}, {VK_DOWN, {{5, 11}}, {5}, nullptr}, {VK_DIVIDE, {{9, 1}, {20, 11}}, {9}, nullptr},
      {VK_INSERT, {{21, 1}}, {}, nullptr}, {VK_HOME, {{23, 128}}, {}, nullptr}, {VK_END, {{23, 127}}, {}, nullptr},
      {VK_RIGHT, {}, {2}, [&] { return panel.m_nVolume == 6; }}, {VK_LEFT, {}, {3}, [&] { return panel.m_nVolume == 5; }},
      {VK_DELETE, {}, {8}, [&] { return panel.m_bMute == TRUE; }},
      {VK_SUBTRACT, {}, {7}, [&] { return panel.m_szCATVChannels[11] == '0'; }},
      {VK_ADD, {}, {6}, [&] { return panel.m_szCATVChannels[11] == '1'; }},
      {VK_MULTIPLY, {}, {}, [&] { return video.Count(WM_LBUTTONDBLCLK) == 1; }},  // zoom
      {'A', {}, {}, nullptr}, {VK_F1, {}, {}, nullptr}, {VK_ESCAPE, {}, {}, nullptr}, {VK_PRIOR, {}, {}, nullptr}, {VK_RETURN, {}, {}, nullptr}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.vk);
    video.log.clear();
    watch.flashed.clear();
    Key(panel.m_hWnd, c.vk);
    EXPECT_EQ(c.sent, Sent());
    EXPECT_EQ(c.flashed, watch.flashed);
    EXPECT_TRUE(!c.holds || c.holds());
    EXPECT_FALSE(panel.m_bPressed);
  }
  ::SendMessageA(panel.m_hWnd, WM_KEYDOWN, VK_UP, 1);  // without scan code or flags: nothing
  EXPECT_EQ(11, panel.m_nCATVChannel);
  EXPECT_TRUE(Sent().empty());
  panel.m_wndCover.ShowWindow(SW_HIDE);
  Key(panel.m_hWnd, VK_NUMPAD6);
  EXPECT_EQ((Flash{16}), watch.flashed);
}

TEST_F(Keys, ClickingTheLidLeavesTheKeyboardWithThePanel) {
  QWidget* lid = orv::test::Widget(panel.m_wndCover.m_hWnd);
  QWidget* face = orv::test::Widget(panel.m_hWnd);
  face->activateWindow();
  face->setFocus();
  QTest::mouseClick(lid, Qt::LeftButton, Qt::NoModifier, QPoint(20, 20));
  EXPECT_FALSE(lid->hasFocus());
  QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : face, Qt::Key_Up);
  EXPECT_EQ((Cmds{{4, 13}}), Sent());
}

// Alt with keypad + ends the program as the exit button does: the video window goes, the lists are
// saved; Alt+F4 (on the panel or the lid) is swallowed.
TEST_F(Keys, AltWithKeypadPlusExitsAndAltF4IsSwallowed) {
  Key(panel.m_hWnd, VK_F4, WM_SYSKEYDOWN);
  Key(panel.m_wndCover.m_hWnd, VK_F4, WM_SYSKEYDOWN);
  Key(panel.m_hWnd, VK_RETURN, WM_SYSKEYDOWN);
  Pump();
  EXPECT_TRUE(panel.m_wndCover.IsWindowVisible());
  EXPECT_FALSE(orv::ui::QuitRequested());
  EXPECT_EQ(0, video.Count(WM_DESTROY));
  panel.m_nSource = SOURCE_CATV;
  panel.m_nCATVChannel = 77;
  Key(panel.m_hWnd, VK_ADD, WM_SYSKEYDOWN);
  EXPECT_TRUE(orv::ui::QuitRequested());
  EXPECT_EQ(1, video.Count(WM_DESTROY));
  EXPECT_EQ(1, StoredWord(kKeyChannel, "Source"));
  EXPECT_EQ(77, StoredWord(kKeyChannel, "CATVChannel"));
  EXPECT_EQ('0', StoredString(kKeyChannel, "CATV").at(77)) << "Alt with keypad + is not the add key";
}

TEST_F(PanelTest, TheVolumeBarFollowsTheMixerButNotBackBelowWhatItWrote) {
  Open();
  CMixer elsewhere;
  elsewhere.m_nMaxLevel = 20;
  panel.m_nVolume = 2;
  Press(2);  // 3 reads back as 2; the notice of our own change must not stop the bar at 2
  Pump(5);
  EXPECT_EQ(3, panel.m_nVolume);
  elsewhere.SetVolume(MIXLINE_MASTER, 7);
  EXPECT_TRUE(PumpUntil([&] { return panel.m_nVolume == 6; })) << "7 written elsewhere reads back as 6";
  elsewhere.SetMute(MIXLINE_MASTER, TRUE);
  EXPECT_TRUE(PumpUntil([&] { return panel.m_bMute == 1; }));
  // With line-in selected the panel follows line-in at the next notice.
  elsewhere.SetVolume(MIXLINE_LINEIN, 14);
  panel.m_nAudioSelect = 1;
  elsewhere.SetVolume(MIXLINE_MASTER, 2);
  EXPECT_TRUE(PumpUntil([&] { return panel.m_nVolume == 14 && panel.m_bMute == 0; }));
}

}  // namespace

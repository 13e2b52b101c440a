// The panel's face, display, mouse buttons, commands, keys and the notices it follows.
#include "platform/ui/qtwnd_p.h"
#include "res/layout.h"
#include "tests/panel/panelrig.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPaintEvent>
#include <QTest>

using namespace paneltest;
using orv::test::Pump;
using orv::test::PumpUntil;

namespace {

// ---- Creation -----------------------------------------------------------------------------------

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

  RECT r;
  panel.GetWindowRect(&r);
  EXPECT_EQ(550, r.right - r.left);
  EXPECT_EQ(150, r.bottom - r.top);
  // Only the rounded 520 by 150 face is part of the window.
  EXPECT_TRUE(orv::ui::WindowRegionContains(panel.m_hWnd, 260, 75));
  EXPECT_TRUE(orv::ui::WindowRegionContains(panel.m_hWnd, 515, 75));
  EXPECT_FALSE(orv::ui::WindowRegionContains(panel.m_hWnd, 525, 75));
  EXPECT_FALSE(orv::ui::WindowRegionContains(panel.m_hWnd, 0, 0));
  EXPECT_FALSE(orv::ui::WindowRegionContains(panel.m_hWnd, 519, 149));

  EXPECT_TRUE(panel.m_wndCover.IsWindowVisible());
  EXPECT_EQ(panel.m_hWnd, ::GetParent(panel.m_wndCover.m_hWnd));
  EXPECT_EQ(3, panel.m_wndCover.GetDlgCtrlID());
  RECT cover, face;
  panel.m_wndCover.GetWindowRect(&cover);
  panel.GetWindowRect(&face);
  EXPECT_EQ(84, cover.left - face.left);
  EXPECT_EQ(110, cover.top - face.top);
  EXPECT_EQ(350, cover.right - cover.left);
  EXPECT_EQ(40, cover.bottom - cover.top);

  EXPECT_EQ(0, other.GetMute(MIXLINE_LINEIN)) << "line-in is unmuted at every start";
  EXPECT_EQ(1, panel.m_nAudioSelect);
  EXPECT_EQ(10, panel.m_nVolume) << "the master line is shown at start whatever the selection";
  EXPECT_EQ(5, panel.m_nBright);
  EXPECT_EQ(127, panel.m_nContrast);
  EXPECT_EQ(200, panel.m_nSaturation);
  EXPECT_TRUE(Sent().empty()) << "loading sends nothing to the video window";
}

// ---- Display ------------------------------------------------------------------------------------

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

class Display : public PanelTest {
 protected:
  void SetUp() override {
    PanelTest::SetUp();
    Open();
  }
  // Glyphs in the three digit cells.
  bool Digits(int h, int t, int u) {
    Face f(panel);
    const int g[3] = {h, t, u};
    for (int k = 0; k < 3; ++k)
      if (!f.Shows(layout::DigitAt(k).x, 51, 16, 28, panel.m_dcLcd, 17 * g[k], 0)) return false;
    return true;
  }
  // Whether the lit bar shows exactly its w leftmost columns, the skin's unlit bar the rest.
  bool BarIs(int w) {
    Face f(panel);
    return f.Shows(353, 84, w, 7, panel.m_dcLcd, 0, 105) && f.Shows(353 + w, 84, 60 - w, 7, panel.m_dcSkin, 353 + w, 84);
  }
};

TEST_F(Display, ChannelDigitsLeaveLeadingZerosUnlit) {
  const int unlit = layout::kUnlitGlyph;
  panel.m_nSource = SOURCE_TV;
  panel.m_nTVChannel = 7;
  EXPECT_TRUE(Digits(unlit, unlit, 7));
  panel.m_nTVChannel = 11;
  EXPECT_TRUE(Digits(unlit, 1, 1));
  panel.m_nTVChannel = 0;
  EXPECT_TRUE(Digits(unlit, unlit, 0));
  panel.m_nTVChannel = 60;
  EXPECT_TRUE(Digits(unlit, 6, 0));
  panel.m_nSource = SOURCE_CATV;
  panel.m_nCATVChannel = 105;
  EXPECT_TRUE(Digits(1, 0, 5));
  panel.m_nCATVChannel = 120;
  EXPECT_TRUE(Digits(1, 2, 0));
}

TEST_F(Display, ExternalInputsShowTheirLabelNoDigitsAndAnUnlitCh) {
  panel.m_nTVChannel = panel.m_nCATVChannel = 88;
  for (int s : {SOURCE_VIDEO, SOURCE_SVIDEO}) {
    SCOPED_TRACE(s);
    panel.m_nSource = s;
    Face f(panel);
    for (int k = 0; k < 3; ++k) EXPECT_TRUE(f.Shows(layout::DigitAt(k).x, 51, 16, 28, panel.m_dcSkin, layout::DigitAt(k).x, 51));
    EXPECT_TRUE(f.Shows(320, 30, 23, 11, panel.m_dcLcd, 24, 125));
    for (int other = 0; other < 4; ++other) {
      const int y = 30 + 12 * other;
      if (other == s)
        EXPECT_TRUE(f.Shows(269, y, 50, 11, panel.m_dcLcd, 0, 43 + 12 * s));
      else
        EXPECT_TRUE(f.Shows(269, y, 50, 11, panel.m_dcSkin, 269, y)) << "label " << other << " stays unlit";
    }
  }
  panel.m_nSource = SOURCE_CATV;
  Face f(panel);
  EXPECT_TRUE(f.Shows(320, 30, 23, 11, panel.m_dcLcd, 0, 125));
  EXPECT_TRUE(f.Shows(269, 42, 50, 11, panel.m_dcLcd, 0, 55));
}

TEST_F(Display, VolumeBarSpeakerIndicatorsAndAdjustLabel) {
  const struct {
    int level, width;
  } bars[] = {{0, 0}, {1, 0}, {7, 18}, {8, 24}, {19, 54}, {20, 60}};
  for (auto b : bars) {
    panel.m_nVolume = b.level;
    EXPECT_TRUE(BarIs(b.width)) << "level " << b.level;
    // A segment more or less is visible.
    if (b.width < 60) EXPECT_FALSE(BarIs(b.width + 6)) << "level " << b.level;
    if (b.width > 0) EXPECT_FALSE(BarIs(b.width - 6)) << "level " << b.level;
  }

  panel.m_bMute = FALSE;
  EXPECT_TRUE(Face(panel).Shows(320, 79, 24, 11, panel.m_dcLcd, 0, 113));
  panel.m_bMute = TRUE;
  EXPECT_TRUE(Face(panel).Shows(320, 79, 24, 11, panel.m_dcSkin, 320, 79)) << "muted: the skin's unlit speaker";

  EXPECT_TRUE(Face(panel).Shows(344, 30, 23, 11, panel.m_dcSkin, 344, 30));
  EXPECT_TRUE(Face(panel).Shows(368, 30, 23, 11, panel.m_dcSkin, 368, 30));
  panel.m_bCapture = TRUE;
  panel.m_bTopMost = TRUE;
  EXPECT_TRUE(Face(panel).Shows(344, 30, 23, 11, panel.m_dcLcd, 0, 137));
  EXPECT_TRUE(Face(panel).Shows(368, 30, 23, 11, panel.m_dcLcd, 0, 149));

  for (int a = 0; a < 4; ++a) {
    panel.m_nAdjustTarget = a;
    EXPECT_TRUE(Face(panel).Shows(392, 30, 23, 11, panel.m_dcLcd, 24 * a, 161)) << "target " << a;
  }
}

TEST_F(Display, PaintingShowsTheDisplayOnTheWindow) {
  panel.m_nTVChannel = 42;
  panel.InvalidateRect(&layout::kDisplay, FALSE);
  panel.UpdateWindow();
  CClientDC window(&panel);
  const POINT four = layout::GlyphSprite(4);
  for (int j = 0; j < 28; ++j)
    for (int i = 0; i < 16; ++i)
      ASSERT_EQ(panel.m_dcLcd.GetPixel(four.x + i, j), window.GetPixel(365 + i, 51 + j));
  // The face around the display is the skin.
  EXPECT_EQ(panel.m_dcSkin.GetPixel(5, 60), window.GetPixel(5, 60));
}

// ---- Mouse --------------------------------------------------------------------------------------

TEST_F(PanelTest, HitTestCountsLeftAndTopEdgesInside) {
  Open();
  EXPECT_EQ(4, panel.ButtonFromPoint(CPoint(475, 40)));
  EXPECT_EQ(5, panel.ButtonFromPoint(CPoint(474, 40)));
  EXPECT_EQ(-1, panel.ButtonFromPoint(CPoint(510, 40)));
  EXPECT_EQ(-1, panel.ButtonFromPoint(CPoint(480, 48)));
  EXPECT_EQ(2, panel.ButtonFromPoint(CPoint(475, 59)));
  EXPECT_EQ(0, panel.ButtonFromPoint(CPoint(9, 115)));
  EXPECT_EQ(-1, panel.ButtonFromPoint(CPoint(300, 50))) << "the display is not a button";
  for (int i = 0; i < 28; ++i) {
    const RECT& r = layout::kButtons[i];
    EXPECT_EQ(i, panel.ButtonFromPoint(CPoint((r.left + r.right) / 2, (r.top + r.bottom) / 2)));
    EXPECT_EQ(i, panel.ButtonFromPoint(CPoint(r.right - 1, r.bottom - 1)));
  }
}

class Mouse : public PanelTest {
 protected:
  void SetUp() override {
    PanelTest::SetUp();
    Open();
  }
  void Send(UINT msg, int x, int y, UINT flags) { ::SendMessageA(panel.m_hWnd, msg, flags, MAKELPARAM(x, y)); }
  // Whether the window shows button i from the pressed skin.
  bool ShowsPressed(int i) {
    const CRect r(layout::kButtons[i]);
    CClientDC window(&panel);
    for (int y = r.top; y < r.bottom; ++y)
      for (int x = r.left; x < r.right; ++x)
        if (panel.m_dcSkin.GetPixel(x, y) != panel.m_dcSkinPressed.GetPixel(x, y))
          return window.GetPixel(x, y) == panel.m_dcSkinPressed.GetPixel(x, y);
    ADD_FAILURE() << "the skins do not differ in button " << i;
    return false;
  }
};

TEST_F(Mouse, ACommandRunsOnceOnReleaseBackOnItsButton) {
  Send(WM_LBUTTONDOWN, 480, 40, MK_LBUTTON);  // channel up
  EXPECT_TRUE(panel.m_bPressed);
  Pump();
  EXPECT_TRUE(ShowsPressed(4)) << "a repaint keeps the held button down";
  Send(WM_MOUSEMOVE, 300, 60, MK_LBUTTON);
  EXPECT_FALSE(panel.m_bPressed);
  Pump();
  EXPECT_FALSE(ShowsPressed(4));
  Send(WM_LBUTTONUP, 300, 60, 0);
  EXPECT_TRUE(Sent().empty()) << "released away from the button";
  EXPECT_EQ(11, panel.m_nTVChannel);

  Send(WM_LBUTTONDOWN, 480, 40, MK_LBUTTON);
  Send(WM_MOUSEMOVE, 300, 60, MK_LBUTTON);
  Send(WM_MOUSEMOVE, 470, 40, MK_LBUTTON);  // channel down is not the button pressed
  EXPECT_FALSE(panel.m_bPressed);
  Send(WM_MOUSEMOVE, 490, 45, MK_LBUTTON);
  EXPECT_TRUE(panel.m_bPressed);
  Send(WM_MOUSEMOVE, 491, 45, 0);  // moves without the button held change nothing
  EXPECT_TRUE(panel.m_bPressed);
  Send(WM_LBUTTONUP, 490, 45, 0);
  EXPECT_EQ((Cmds{{VideoCmd::ChannelUp, 13}}), Sent());
  EXPECT_FALSE(panel.m_bPressed);
  Pump();
  EXPECT_FALSE(ShowsPressed(4));

  // A press away from every button presses nothing and a release there runs nothing.
  Send(WM_LBUTTONDOWN, 300, 60, MK_LBUTTON);
  Send(WM_LBUTTONUP, 480, 40, 0);
  EXPECT_EQ(1u, Sent().size());
}

TEST_F(Mouse, AKeyWhileAButtonIsHeldEndsThePress) {
  struct Case {
    UINT vk;
    bool moveFirst;  // the pointer moves on the held button before the release
  };
  for (Case c : {Case{VK_SHIFT, false}, Case{'5', false}, Case{'5', true}, Case{VK_SHIFT, true}}) {
    video.log.clear();
    panel.m_nDigitCount = 0;  // each digit starts an entry of its own
    Send(WM_LBUTTONDOWN, 480, 40, MK_LBUTTON);  // channel up, held
    Key(panel.m_hWnd, c.vk);
    if (c.moveFirst) Send(WM_MOUSEMOVE, 481, 41, MK_LBUTTON);
    Send(WM_LBUTTONUP, 481, 41, 0);
    EXPECT_FALSE(panel.m_bPressed) << c.vk;
    Pump();
    EXPECT_FALSE(ShowsPressed(4)) << c.vk;
    EXPECT_TRUE(Sent().empty()) << c.vk << ": the release runs nothing";
  }
}

TEST_F(Mouse, DoubleClickRunsOnceUnlessThePointerMovesOverTheButton) {
  panel.m_nVolume = 5;
  Send(WM_LBUTTONDOWN, 480, 65, MK_LBUTTON);  // volume up
  Send(WM_LBUTTONUP, 480, 65, 0);
  Send(WM_LBUTTONDBLCLK, 480, 65, MK_LBUTTON);
  Send(WM_LBUTTONUP, 480, 65, 0);
  EXPECT_EQ(6, panel.m_nVolume);
  Send(WM_LBUTTONDBLCLK, 480, 65, MK_LBUTTON);
  Send(WM_MOUSEMOVE, 481, 65, MK_LBUTTON);
  Send(WM_LBUTTONUP, 481, 65, 0);
  EXPECT_EQ(7, panel.m_nVolume);
}

TEST_F(Mouse, TheFaceDragsThePanelButNotFromAButton) {
  RECT w;
  panel.GetWindowRect(&w);
  auto hit = [&](int x, int y) {
    return ::SendMessageA(panel.m_hWnd, WM_NCHITTEST, 0, MAKELPARAM(w.left + x, w.top + y));
  };
  EXPECT_EQ(HTCAPTION, hit(300, 50));
  EXPECT_EQ(HTCAPTION, hit(60, 60));
  EXPECT_EQ(HTCLIENT, hit(480, 40));
  Send(WM_LBUTTONDOWN, 480, 40, MK_LBUTTON);
  EXPECT_EQ(HTCLIENT, hit(300, 50)) << "no drag while a button is held";
  Send(WM_LBUTTONUP, 480, 40, 0);
  video.log.clear();

  // Through the real input path: a press on the display is a caption press that moves the window.
  QWidget* wd = orv::test::Widget(panel.m_hWnd);
  panel.m_nButton = 7;  // a button press handler would reset this
  QTest::mousePress(wd, Qt::LeftButton, Qt::NoModifier, QPoint(300, 50));
  EXPECT_EQ(7, panel.m_nButton);
  EXPECT_FALSE(panel.m_bPressed);
  QTest::mouseMove(wd, QPoint(330, 70));
  QTest::mouseRelease(wd, Qt::LeftButton, Qt::NoModifier, QPoint(330, 70));
  Pump();
  RECT moved;
  panel.GetWindowRect(&moved);
  EXPECT_EQ(w.left + 30, moved.left);
  EXPECT_EQ(w.top + 20, moved.top);
  EXPECT_TRUE(Sent().empty());
}

// ---- Commands -----------------------------------------------------------------------------------

TEST_F(PanelTest, VolumeStopsAtItsEndsAndActsOnTheSelectedLine) {
  Open();
  CMixer probe;
  probe.m_nMaxLevel = 20;
  panel.m_nVolume = 20;
  Press(2);
  EXPECT_EQ(20, panel.m_nVolume);
  EXPECT_EQ(20, probe.GetVolume(MIXLINE_MASTER));
  panel.m_nVolume = 0;
  Press(3);
  EXPECT_EQ(0, panel.m_nVolume);
  EXPECT_EQ(0, probe.GetVolume(MIXLINE_MASTER));
  Press(8);
  EXPECT_TRUE(panel.m_bMute);
  EXPECT_EQ(1, probe.GetMute(MIXLINE_MASTER));

  // With "Selection" set, the line-in line.
  probe.SetVolume(MIXLINE_LINEIN, 3);
  panel.m_nAudioSelect = 1;
  panel.m_nVolume = 9;
  Press(2);
  EXPECT_EQ(10, probe.GetVolume(MIXLINE_LINEIN));
  EXPECT_EQ(0, probe.GetVolume(MIXLINE_MASTER));
  EXPECT_TRUE(Sent().empty());
}

TEST_F(PanelTest, PictureValuesStopAtTheirEndsAndAlwaysSendCode23) {
  Open();
  panel.m_nBright = 0;
  Press(22);
  panel.m_nSaturation = 255;
  panel.m_nAdjustTarget = 3;
  Press(23);
  Press(22);
  EXPECT_EQ(0, panel.m_nBright);
  EXPECT_EQ(254, panel.m_nSaturation);
  EXPECT_EQ(127, panel.m_nHue);
  Press(21);  // 3 wraps to 0
  Press(21);
  EXPECT_EQ((Cmds{{23, 0}, {23, 255}, {23, 254}, {21, 0}, {21, 1}}), Sent());
}

TEST_F(PanelTest, NextSourceCyclesAndRetunesTheTunerBands) {
  Open();
  panel.m_nTVChannel = 7;
  panel.m_nCATVChannel = 99;
  Press(9);
  Press(9);
  Press(9);
  Press(9);
  EXPECT_EQ(SOURCE_TV, panel.m_nSource);
  EXPECT_EQ((Cmds{{9, 1}, {20, 99}, {9, 2}, {9, 3}, {9, 0}, {20, 7}}), Sent());
}

TEST_F(PanelTest, SettingsSavesTheListsFirstAndReloadsWhatTheSheetAccepted) {
  Open();
  panel.m_nTVChannel = 9;
  Press(7);  // erase 9
  std::string seenTV;
  int seenChannel = 0;
  video.handler = [&](UINT msg, WPARAM w, LPARAM, bool* handled) -> LRESULT {
    if (msg != WM_TUNER_NOTIFY || w != VideoCmd::OpenSettings) return 0;
    *handled = true;
    seenTV = StoredString(kKeyChannel, "TV");
    seenChannel = StoredWord(kKeyChannel, "TVChannel");
    // The sheet is accepted: the page stores its lists, the audio and video pages their values.
    StoreString(kKeyChannel, "TV", std::string(70, '1').c_str());
    StoreDword(kKeyAudio, "Selection", 1);
    StoreDword(kKeyVideo, "Hue", 3);
    ::SendMessageA(panel.m_hWnd, WM_TUNER_NOTIFY, PanelCmd::SettingsAccepted, 0);
    return 0;
  };
  Press(24);
  EXPECT_EQ(9, seenChannel);
  EXPECT_EQ('0', seenTV.at(9));
  EXPECT_EQ(70u, seenTV.size());
  EXPECT_EQ(std::string(70, '1'), panel.m_szTVChannels);
  EXPECT_EQ(1, panel.m_nAudioSelect);
  EXPECT_EQ(3, panel.m_nHue);
  EXPECT_EQ((Cmds{{24, 0}}), Sent());
}

TEST_F(PanelTest, CaptureLightsCapUntilTheVideoWindowReportsItsEnd) {
  Open();
  BOOL litDuringCapture = FALSE;
  video.handler = [&](UINT msg, WPARAM w, LPARAM, bool*) -> LRESULT {
    if (msg == WM_TUNER_NOTIFY && w == VideoCmd::Capture) {
      litDuringCapture = panel.m_bCapture;
      ::SendMessageA(panel.m_hWnd, WM_TUNER_NOTIFY, PanelCmd::CaptureEnded, 0);
    }
    return 0;
  };
  Press(27);
  EXPECT_TRUE(litDuringCapture);
  EXPECT_FALSE(panel.m_bCapture);
  EXPECT_EQ((Cmds{{27, 0}}), Sent());

  // A capture with a time limit ends later; pressing capture meanwhile does nothing and CAP stays
  // lit; a second end leaves CAP off.
  video.handler = nullptr;
  Press(27);
  EXPECT_TRUE(panel.m_bCapture);
  Press(27);
  EXPECT_TRUE(panel.m_bCapture);
  EXPECT_EQ((Cmds{{27, 0}, {27, 0}}), Sent());
  ::SendMessageA(panel.m_hWnd, WM_TUNER_NOTIFY, PanelCmd::CaptureEnded, 0);
  EXPECT_FALSE(panel.m_bCapture);
  ::SendMessageA(panel.m_hWnd, WM_TUNER_NOTIFY, PanelCmd::CaptureEnded, 0);
  EXPECT_FALSE(panel.m_bCapture);
}

TEST_F(PanelTest, AlwaysOnTopTogglesAndTheVideoWindowCanSwitchItOff) {
  Open();
  Press(26);
  EXPECT_TRUE(panel.m_bTopMost);
  Press(26);
  Press(26);
  ::SendMessageA(panel.m_hWnd, WM_TUNER_NOTIFY, PanelCmd::TopMostOff, 0);
  EXPECT_FALSE(panel.m_bTopMost);
  EXPECT_EQ((Cmds{{26, 1}, {26, 0}, {26, 1}}), Sent());
  // Codes the panel does not know change nothing.
  for (WPARAM code : {4u, 9u, 20u, 25u, 50u}) ::SendMessageA(panel.m_hWnd, WM_TUNER_NOTIFY, code, 1);
  EXPECT_FALSE(panel.m_bTopMost);
}

TEST_F(PanelTest, ExitTearsDownTheVideoWindowSavesTheListsAndQuits) {
  Open();
  panel.m_nSource = SOURCE_CATV;
  panel.m_nCATVChannel = 77;
  Press(6);
  Press(0);
  EXPECT_EQ(1, video.Count(WM_DESTROY));
  EXPECT_TRUE(orv::ui::QuitRequested());
  EXPECT_EQ(1, StoredWord(kKeyChannel, "Source"));
  EXPECT_EQ(77, StoredWord(kKeyChannel, "CATVChannel"));
  EXPECT_EQ(11, StoredWord(kKeyChannel, "TVChannel"));
  EXPECT_EQ('1', StoredString(kKeyChannel, "CATV").at(77));
}

// ---- Keyboard -----------------------------------------------------------------------------------

class Keys : public PanelTest {
 protected:
  void SetUp() override {
    PanelTest::SetUp();
    Open();
    // A flash paints the face with a button held down.
    orv::test::Widget(panel.m_hWnd)->installEventFilter(&watch);
  }
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

TEST_F(Keys, KeysRunTheirButtonsCommands) {
  Key(panel.m_hWnd, VK_UP);
  Key(panel.m_hWnd, VK_DOWN);
  Key(panel.m_hWnd, VK_DOWN);
  Key(panel.m_hWnd, VK_RIGHT);
  Key(panel.m_hWnd, VK_DIVIDE);
  Key(panel.m_hWnd, VK_INSERT);
  Key(panel.m_hWnd, VK_HOME);
  Key(panel.m_hWnd, VK_END);
  Key(panel.m_hWnd, VK_END);
  EXPECT_EQ((Cmds{{4, 13}, {5, 11}, {5, 9}, {9, 1}, {20, 11}, {21, 1}, {23, 128}, {23, 127}, {23, 126}}), Sent());
  const int volume = panel.m_nVolume;
  Key(panel.m_hWnd, VK_LEFT);
  EXPECT_EQ(std::max(0, volume - 1), panel.m_nVolume);
  Key(panel.m_hWnd, VK_DELETE);
  EXPECT_TRUE(panel.m_bMute);

  panel.m_nSource = SOURCE_TV;
  panel.m_nTVChannel = 40;
  Key(panel.m_hWnd, VK_ADD);
  EXPECT_EQ('1', panel.m_szTVChannels[40]);
  Key(panel.m_hWnd, VK_SUBTRACT);
  EXPECT_EQ('0', panel.m_szTVChannels[40]);

  // Keys of no button, and a key-down without scan code or flags, do nothing.
  video.log.clear();
  for (UINT vk : {UINT('A'), VK_F1, VK_ESCAPE, VK_PRIOR, VK_RETURN}) Key(panel.m_hWnd, vk);
  ::SendMessageA(panel.m_hWnd, WM_KEYDOWN, VK_UP, 1);
  EXPECT_TRUE(video.log.empty());
  EXPECT_EQ(40, panel.m_nTVChannel);
}

TEST_F(Keys, KeysFlashTheirButtonUnlessTheLidCoversIt) {
  ASSERT_TRUE(panel.m_wndCover.IsWindowVisible());
  Key(panel.m_hWnd, VK_UP);
  Key(panel.m_hWnd, '5');
  Key(panel.m_hWnd, VK_INSERT);
  EXPECT_EQ((std::vector<int>{4}), watch.flashed);
  EXPECT_EQ(5, panel.m_nTVChannel) << "a covered digit still starts a number entry";
  EXPECT_FALSE(panel.m_bPressed);

  panel.m_wndCover.ShowWindow(SW_HIDE);
  watch.flashed.clear();
  Key(panel.m_hWnd, VK_NUMPAD6);
  Key(panel.m_hWnd, VK_INSERT);
  EXPECT_EQ((std::vector<int>{16, 21}), watch.flashed);
  EXPECT_EQ(56, panel.m_nTVChannel);
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

TEST_F(Keys, KeypadStarZoomsTheVideoWindowWithoutAFlash) {
  Key(panel.m_hWnd, VK_MULTIPLY);
  const auto zoom = video.Of(WM_LBUTTONDBLCLK);
  ASSERT_EQ(1u, zoom.size());
  EXPECT_EQ(0u, zoom[0].wParam);
  EXPECT_EQ(0, zoom[0].lParam);
  EXPECT_TRUE(watch.flashed.empty());
  EXPECT_TRUE(Sent().empty());
}

TEST_F(Keys, AltWithKeypadPlusExitsAndAltF4IsSwallowed) {
  Key(panel.m_hWnd, VK_F4, WM_SYSKEYDOWN);
  Key(panel.m_wndCover.m_hWnd, VK_F4, WM_SYSKEYDOWN);
  Pump();
  EXPECT_TRUE(IsWindow(panel.m_hWnd));
  EXPECT_TRUE(panel.m_wndCover.IsWindowVisible());
  EXPECT_FALSE(orv::ui::QuitRequested());
  Key(panel.m_hWnd, VK_RETURN, WM_SYSKEYDOWN);
  EXPECT_FALSE(orv::ui::QuitRequested());
  EXPECT_EQ(0, video.Count(WM_DESTROY));

  panel.m_nTVChannel = 21;
  Key(panel.m_hWnd, VK_ADD, WM_SYSKEYDOWN);
  EXPECT_TRUE(orv::ui::QuitRequested());
  EXPECT_EQ(1, video.Count(WM_DESTROY));
  EXPECT_EQ(21, StoredWord(kKeyChannel, "TVChannel"));
  EXPECT_EQ('0', panel.m_szTVChannels[21]) << "Alt with keypad + is not the add key";
}

TEST_F(Keys, KeypadKeysFromTheKeyboardReachTheirCommands) {
  // A real key event: the keypad / with its scan code.
  QWidget* w = orv::test::Widget(panel.m_hWnd);
  QKeyEvent press(QEvent::KeyPress, Qt::Key_Slash, Qt::KeypadModifier, 106 + 8, 0, 0, "/");
  QApplication::sendEvent(w, &press);
  EXPECT_EQ(SOURCE_CATV, panel.m_nSource);
  QKeyEvent star(QEvent::KeyPress, Qt::Key_Asterisk, Qt::KeypadModifier, 55 + 8, 0, 0, "*");
  QApplication::sendEvent(w, &star);
  EXPECT_EQ(1, video.Count(WM_LBUTTONDBLCLK));
  // Keypad Delete with NumLock off mutes, as the Delete key does.
  const BOOL muted = panel.m_bMute;
  QKeyEvent del(QEvent::KeyPress, Qt::Key_Delete, Qt::KeypadModifier, 83 + 8, 0xFF9F, 0);
  QApplication::sendEvent(w, &del);
  EXPECT_EQ(!muted, panel.m_bMute);
}

// ---- Notices ------------------------------------------------------------------------------------

TEST_F(PanelTest, VolumeUpPassesTheLevelsThatReadBackOneLower) {
  Open();
  CMixer probe;
  probe.m_nMaxLevel = 20;
  panel.m_nVolume = 2;
  for (int want = 3; want <= 20; ++want) {
    Press(2);
    // The mixer's notice of our own change arrives; the bar stays at the new level.
    Pump(5);
    ASSERT_EQ(want, panel.m_nVolume);
  }
  for (int want = 19; want >= 0; --want) {
    Press(3);
    Pump(5);
    ASSERT_EQ(want, panel.m_nVolume);
  }
  // A change made elsewhere is still followed, to any level.
  probe.SetVolume(MIXLINE_MASTER, 7);
  EXPECT_TRUE(PumpUntil([&] { return panel.m_nVolume == 6; })) << "7 written elsewhere reads back as 6";
}

TEST_F(PanelTest, AMixerChangeMadeElsewhereMovesTheVolumeBar) {
  Open();
  CMixer elsewhere;
  elsewhere.m_nMaxLevel = 20;
  elsewhere.SetVolume(MIXLINE_MASTER, 14);
  EXPECT_TRUE(PumpUntil([&] { return panel.m_nVolume == 14; }));
  elsewhere.SetMute(MIXLINE_MASTER, TRUE);
  EXPECT_TRUE(PumpUntil([&] { return panel.m_bMute == 1; }));

  // With line-in selected the panel follows line-in at the next notice.
  elsewhere.SetVolume(MIXLINE_LINEIN, 6);
  panel.m_nAudioSelect = 1;
  elsewhere.SetVolume(MIXLINE_MASTER, 2);
  EXPECT_TRUE(PumpUntil([&] { return panel.m_nVolume == 6 && panel.m_bMute == 0; }));
}

}  // namespace

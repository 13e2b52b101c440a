// The video window: picture placement, frame, settings at start and exit, mouse, keys, commands.
#include "common/Commands.h"
#include "common/Settings.h"
#include "capture/CaptureGraph.h"
#include "platform/media/com/faults.h"
#include "platform/media/devices/testing.h"
#include "res/resource.h"
#include "tests/media/mediarig.h"
#include "tests/support/testenv.h"
#include "tests/support/uitest.h"
#include "video/VideoWnd.h"

#include <QApplication>
#include <QMouseEvent>
#include <QWidget>
#include <gtest/gtest.h>

using orv::test::MessageBoxAnswerer;
using orv::test::RecordingWnd;

namespace {

void StoreWord(const char* key, const char* name, DWORD v) {
  HKEY k = OpenSettingsKey(key);
  WriteSettingDword(k, name, v);
  CloseSettingsKey(k);
}

int Stored(const char* key, const char* name) {
  HKEY k = OpenSettingsKey(key);
  const int v = ReadSettingWord(k, name, -1);
  CloseSettingsKey(k);
  return v;
}

orv::media::VirtualCardState Card() {
  orv::media::VirtualCardState s;
  EXPECT_TRUE(orv::media::GetVirtualCardState(0, &s));
  return s;
}

// A video window on the virtual card, with a recording window standing in for the panel.
class VideoWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    orv::test::FreshConfigDir();
    orv::test::UseCard("");
  }
  CVideoWnd& Open(RECT r = {100, 100, 740, 580}) {
    wnd = std::make_unique<CVideoWnd>();
    EXPECT_TRUE(wnd->Create("Orvane Tuner( WIN2000 )", r));
    wnd->m_hwndPanel = panel.m_hWnd;
    wnd->ShowWindow(SW_SHOW);
    return *wnd;
  }
  LRESULT Command(WPARAM code, LPARAM arg) { return ::SendMessageA(wnd->m_hWnd, WM_TUNER_NOTIFY, code, arg); }
  void TearDown() override { wnd.reset(); }

  RecordingWnd panel;
  MessageBoxAnswerer boxes{IDNO};
  std::unique_ptr<CVideoWnd> wnd;
};

TEST_F(VideoWindow, PictureSitsInsideTheFrameAndFillsTheZoomedWindow) {
  CVideoWnd& v = Open();
  v.MoveWindow(100, 100, 400, 300);
  RECT r = v.PictureRect();
  EXPECT_EQ(9, r.left);
  EXPECT_EQ(18, r.top);
  EXPECT_EQ(382, r.right);  // width
  EXPECT_EQ(266, r.bottom);  // height
  v.ShowWindow(SW_MAXIMIZE);
  RECT client;
  v.GetClientRect(&client);
  r = v.PictureRect();
  EXPECT_EQ(0, r.left);
  EXPECT_EQ(0, r.top);
  EXPECT_EQ(client.right, r.right);
  EXPECT_EQ(client.bottom, r.bottom);
}

TEST_F(VideoWindow, FramePiecesAreCopiedToTheEdgesAndTheInsideIsFilled) {
  CVideoWnd& v = Open();
  v.MoveWindow(100, 100, 400, 300);
  v.SendMessage(WM_PAINT);
  CBitmap frame;
  ASSERT_TRUE(frame.LoadBitmap(IDB_FRAME));
  CClientDC dc(&v);
  EXPECT_EQ(frame.GetPixel(0, 0), dc.GetPixel(0, 0));          // top-left corner
  EXPECT_EQ(frame.GetPixel(76, 70), dc.GetPixel(399, 299));     // bottom-right corner
  // Stretched edges: some pixel of the piece's row (or column) lands there.
  auto fromRow = [&](COLORREF c, int x0, int x1, int y) {
    for (int x = x0; x <= x1; ++x)
      if (frame.GetPixel(x, y) == c) return true;
    return false;
  };
  auto fromColumn = [&](COLORREF c, int x, int y0, int y1) {
    for (int y = y0; y <= y1; ++y)
      if (frame.GetPixel(x, y) == c) return true;
    return false;
  };
  EXPECT_TRUE(fromRow(dc.GetPixel(200, 3), 26, 50, 3));       // top edge
  EXPECT_TRUE(fromRow(dc.GetPixel(200, 296), 26, 50, 67));    // bottom edge (row 16 of the piece)
  EXPECT_TRUE(fromColumn(dc.GetPixel(2, 150), 2, 21, 40));    // left edge
  EXPECT_TRUE(fromColumn(dc.GetPixel(398, 150), 49, 21, 40)); // right edge, from the centre cell
  EXPECT_EQ(RGB(135, 161, 110), dc.GetPixel(200, 150));

  // Zoomed: nothing of the frame is painted.
  v.ShowWindow(SW_MAXIMIZE);
  dc.FillSolidRect(0, 0, 5, 5, RGB(1, 2, 3));
  v.SendMessage(WM_PAINT);
  EXPECT_EQ(RGB(1, 2, 3), dc.GetPixel(0, 0));
}

TEST_F(VideoWindow, MinimumSizeIs128By100) {
  CVideoWnd& v = Open();
  v.MoveWindow(0, 0, 10, 10);
  RECT r;
  v.GetWindowRect(&r);
  EXPECT_EQ(128, r.right - r.left);
  EXPECT_EQ(100, r.bottom - r.top);
}

TEST_F(VideoWindow, StartAppliesStoredChannelAndPictureValues) {
  StoreWord(kKeyChannel, "Source", 0);
  StoreWord(kKeyChannel, "TVChannel", 30);
  StoreWord(kKeyVideo, "Hue", 0);
  Open();
  const auto s = Card();
  EXPECT_EQ(30, s.tunerChannel);
  EXPECT_EQ(1, s.tunerInputType);  // antenna
  EXPECT_EQ(0, s.procAmp[2]);
  EXPECT_GT(s.procAmp[0], 0);  // 127 by default
}

TEST_F(VideoWindow, PictureValuesKeepTheirLevelsOverTenStartsAndExits) {
  // A card with 256 driver values per control, as most V4L2 cards have.
  orv::test::UseCard(R"({"procamp": {
    "brightness": {"min": 0, "max": 255, "default": 128}, "contrast": {"min": 0, "max": 255, "default": 128},
    "hue": {"min": 0, "max": 255, "default": 128}, "saturation": {"min": 0, "max": 255, "default": 128}}})");
  const std::pair<const char*, int> stored[] = {{"Bright", 100}, {"Contrast", 0}, {"Hue", 255}, {"Saturation", 127}};
  for (const auto& [name, level] : stored) StoreWord(kKeyVideo, name, static_cast<DWORD>(level));
  for (int run = 0; run < 10; ++run) {
    Open();
    wnd.reset();  // saves what the card reads back
  }
  for (const auto& [name, level] : stored) EXPECT_EQ(level, Stored(kKeyVideo, name)) << name;
}

TEST_F(VideoWindow, StoredExternalSourceTunesNothing) {
  for (DWORD source : {2u, 3u}) {
    orv::test::FreshConfigDir();
    orv::test::UseCard("");
    StoreWord(kKeyChannel, "Source", source);
    StoreWord(kKeyChannel, "TVChannel", 30);
    orv::media::ClearJournal();
    Open();
    for (const std::string& call : orv::media::Journal())
      EXPECT_EQ(std::string::npos, call.find("put_Channel")) << "source " << source << ": " << call;
    wnd.reset();
  }
}

TEST_F(VideoWindow, TuneCommandsUseTheLow8BitsOfTheChannel) {
  Open();
  Command(VideoCmd::TuneChannel, 300);
  EXPECT_EQ(44, Card().tunerChannel);
  Command(VideoCmd::ChannelUp, 7);
  EXPECT_EQ(7, Card().tunerChannel);
  Command(VideoCmd::ChannelDown, 5);
  EXPECT_EQ(5, Card().tunerChannel);
}

TEST_F(VideoWindow, PictureValueCommandsFollowTheTarget) {
  Open();
  const LONG hueBefore = Card().procAmp[2];
  Command(VideoCmd::AdjustTarget, 2);
  Command(VideoCmd::AdjustValue, 0);
  EXPECT_EQ(0, Card().procAmp[2]);
  Command(VideoCmd::AdjustStep, 255);
  EXPECT_GT(Card().procAmp[2], hueBefore);
  const auto before = Card();
  Command(VideoCmd::AdjustTarget, 7);
  Command(VideoCmd::AdjustValue, 10);
  Command(VideoCmd::AdjustStep, 10);
  const auto after = Card();
  for (int i = 0; i < 4; ++i) EXPECT_EQ(before.procAmp[i], after.procAmp[i]) << i;
  Command(VideoCmd::SetContrast, 0);  // names its control itself, target untouched
  EXPECT_EQ(0, Card().procAmp[1]);
  EXPECT_EQ(7, wnd->m_nPictureTarget);
}

TEST_F(VideoWindow, UnknownCodesDoNothing) {
  Open();
  const auto before = Card();
  for (WPARAM code : {6u, 7u, 8u, 10u, 19u, 25u, 28u, 49u, 57u})
    EXPECT_EQ(0, Command(code, 3)) << code;
  const auto after = Card();
  EXPECT_EQ(before.tunerChannel, after.tunerChannel);
  EXPECT_EQ(before.routes, after.routes);
  EXPECT_TRUE(panel.log.empty() || panel.Count(WM_TUNER_NOTIFY) == 0);
}

TEST_F(VideoWindow, SourceCommandRoutesAndReplacesThePicture) {
  Open();
  Command(VideoCmd::SelectSource, 3);
  EXPECT_EQ(0, Card().routes[0][0]);  // S-Video is the crossbar's input 0
  Command(VideoCmd::SelectSource, 2);
  EXPECT_EQ(2, Card().routes[0][0]);
}

TEST_F(VideoWindow, TeardownSavesOnceEvenWhenDestroyedTwice) {
  CVideoWnd& v = Open();
  Command(VideoCmd::SetBrightness, 200);
  ::SendMessageA(v.m_hWnd, WM_DESTROY, 0, 0);  // the panel's exit command
  EXPECT_TRUE(v.TornDown());
  EXPECT_EQ(nullptr, v.m_pGraph);
  EXPECT_EQ(200, Stored(kKeyVideo, "Bright"));
  EXPECT_NE(std::string::npos, orv::test::ReadConfigFile("win.ini").find("VideoDevice=0"));
  StoreWord(kKeyVideo, "Bright", 5);
  Command(VideoCmd::TuneChannel, 9);  // no engine: nothing, no crash
  wnd.reset();                        // the final destruction
  EXPECT_EQ(5, Stored(kKeyVideo, "Bright"));
}

TEST_F(VideoWindow, RightClickQuestionOnlyWhenOnTopAndItsAnswers) {
  CVideoWnd& v = Open();
  ::SendMessageA(v.m_hWnd, WM_RBUTTONDOWN, MK_RBUTTON, 0);
  EXPECT_TRUE(boxes.calls.empty());

  Command(VideoCmd::TopMost, 1);
  EXPECT_TRUE(v.m_bTopMost);
  boxes.answer = IDNO;
  ::SendMessageA(v.m_hWnd, WM_RBUTTONDOWN, MK_RBUTTON, 0);
  ASSERT_EQ(1u, boxes.calls.size());
  EXPECT_EQ("항상위 기능이 실행중입니다.\n해제하시겠습니까?", boxes.calls[0].text);
  EXPECT_EQ("항상위 해제", boxes.calls[0].caption);
  EXPECT_EQ(MB_YESNO | MB_ICONQUESTION, boxes.calls[0].type);
  EXPECT_EQ(v.m_hWnd, boxes.calls[0].owner);
  EXPECT_TRUE(v.m_bTopMost);
  EXPECT_EQ(0, panel.Count(WM_TUNER_NOTIFY));

  boxes.answer = IDYES;
  ::SendMessageA(v.m_hWnd, WM_RBUTTONDOWN, MK_RBUTTON, 0);
  EXPECT_FALSE(v.m_bTopMost);
  ASSERT_EQ(1, panel.Count(WM_TUNER_NOTIFY));
  EXPECT_EQ(26u, panel.Of(WM_TUNER_NOTIFY)[0].wParam);
  EXPECT_EQ(0, panel.Of(WM_TUNER_NOTIFY)[0].lParam);
}

TEST_F(VideoWindow, KeysGoToThePanelWithTheirFlags) {
  CVideoWnd& v = Open();
  const LPARAM alt = 1 | KF_ALTDOWN_BIT | (0x4E << 16);
  ::SendMessageA(v.m_hWnd, WM_SYSKEYDOWN, VK_ADD, alt);
  ::SendMessageA(v.m_hWnd, WM_KEYDOWN, VK_UP, 3 | KF_EXTENDED_BIT);
  ::SendMessageA(v.m_hWnd, WM_KEYUP, VK_UP, 1);
  ASSERT_EQ(1, panel.Count(WM_SYSKEYDOWN));
  EXPECT_EQ(VK_ADD, panel.Of(WM_SYSKEYDOWN)[0].wParam);
  EXPECT_EQ(alt, panel.Of(WM_SYSKEYDOWN)[0].lParam);
  ASSERT_EQ(1, panel.Count(WM_KEYDOWN));
  EXPECT_EQ(3 | KF_EXTENDED_BIT, panel.Of(WM_KEYDOWN)[0].lParam);
  EXPECT_EQ(0, panel.Count(WM_KEYUP));
}

TEST_F(VideoWindow, DoubleClickTogglesZoomAndAZoomedWindowDoesNotMove) {
  CVideoWnd& v = Open();
  ::SendMessageA(v.m_hWnd, WM_LBUTTONDBLCLK, 0, 0);
  EXPECT_TRUE(v.IsZoomed());
  RECT zoomed;
  v.GetWindowRect(&zoomed);
  // A press on a zoomed window starts no move.
  QWidget* q = orv::test::Widget(v.m_hWnd);
  QMouseEvent press(QEvent::MouseButtonPress, QPointF(50, 50), QPointF(q->mapToGlobal(QPoint(50, 50))), Qt::LeftButton,
                    Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(q, &press);
  QMouseEvent move(QEvent::MouseMove, QPointF(90, 90), QPointF(q->mapToGlobal(QPoint(90, 90))), Qt::NoButton,
                   Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(q, &move);
  RECT after;
  v.GetWindowRect(&after);
  EXPECT_EQ(zoomed.left, after.left);
  ::SendMessageA(v.m_hWnd, WM_LBUTTONDBLCLK, 0, 0);
  EXPECT_FALSE(v.IsZoomed());
  v.GetWindowRect(&after);
  EXPECT_EQ(100, after.left);
  EXPECT_EQ(740, after.right);
}

TEST_F(VideoWindow, PressOnTheWindowDragsIt) {
  CVideoWnd& v = Open();
  QWidget* q = orv::test::Widget(v.m_hWnd);
  QMouseEvent press(QEvent::MouseButtonPress, QPointF(50, 50), QPointF(q->mapToGlobal(QPoint(50, 50))), Qt::LeftButton,
                    Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(q, &press);
  QMouseEvent move(QEvent::MouseMove, QPointF(70, 60), QPointF(q->mapToGlobal(QPoint(70, 60))), Qt::NoButton,
                   Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(q, &move);
  RECT r;
  v.GetWindowRect(&r);
  EXPECT_EQ(120, r.left);
  EXPECT_EQ(110, r.top);
}

}  // namespace

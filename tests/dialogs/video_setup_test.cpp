// The video page: sliders from the store, presets and moves sent to the main window, OK storing.
#include "tests/dialogs/sheetrig.h"

using namespace sheettest;

namespace {

constexpr int kBright = 1000, kContrast = 1001, kHue = 1002, kSaturation = 1003;
constexpr int kBrightLabel = 1004, kSaturationLabel = 1007, kMode = 1008;
constexpr int kVideoPage = 1;

class VideoPage : public SheetTest {};

TEST_F(VideoPage, SlidersOpenAtTheStoredValuesOr127AndClampTo255) {
  StoreDword(kKeyVideo, "Bright", 300);
  StoreDword(kKeyVideo, "Saturation", 0);
  int pos[4] = {}, rangeMax = 0;
  std::string brightLabel, saturationLabel, contrastLabel;
  RunSheet(
      [&] {
        const HWND page = video.m_hWnd;
        for (int i = 0; i < 4; ++i) pos[i] = SliderPos(page, kBright + i);
        rangeMax = Inner<QSlider>(page, kHue)->maximum();
        brightLabel = Label(page, kBrightLabel);
        contrastLabel = Label(page, kBrightLabel + 1);
        saturationLabel = Label(page, kSaturationLabel);
        Cancel();
      },
      kVideoPage);
  EXPECT_EQ(255, pos[0]);
  EXPECT_EQ(127, pos[1]);
  EXPECT_EQ(127, pos[2]);
  EXPECT_EQ(0, pos[3]);
  EXPECT_EQ(255, rangeMax);
  EXPECT_EQ("255", brightLabel);
  EXPECT_EQ("127", contrastLabel);
  EXPECT_EQ("0", saturationLabel);
  EXPECT_TRUE(Sent().empty()) << "opening the page applies nothing";
}

TEST_F(VideoPage, DarkPresetMovesTheSlidersAndSendsTheFourValuesInOrder) {
  int pos[4] = {};
  std::string labels[4];
  RunSheet(
      [&] {
        main.log.clear();
        Choose(video.m_hWnd, kMode, 3);  // "주변이 어두울 때"
        for (int i = 0; i < 4; ++i) {
          pos[i] = SliderPos(video.m_hWnd, kBright + i);
          labels[i] = Label(video.m_hWnd, kBrightLabel + i);
        }
        Ok();
      },
      kVideoPage);
  EXPECT_EQ((Cmds{{52, 185}, {53, 120}, {54, 110}, {55, 128}}), Sent());
  EXPECT_EQ(185, pos[0]);
  EXPECT_EQ(120, pos[1]);
  EXPECT_EQ(110, pos[2]);
  EXPECT_EQ(128, pos[3]);
  EXPECT_EQ("185", labels[0]);
  EXPECT_EQ("128", labels[3]);
  EXPECT_EQ(185, StoredWord(kKeyVideo, "Bright"));
  EXPECT_EQ(120, StoredWord(kKeyVideo, "Contrast"));
  EXPECT_EQ(110, StoredWord(kKeyVideo, "Hue"));
  EXPECT_EQ(128, StoredWord(kKeyVideo, "Saturation"));
}

TEST_F(VideoPage, UserDefinedResendsTheCurrentSliderPositions) {
  StoreDword(kKeyVideo, "Hue", 40);
  int contrastAfter = 0;
  Cmds afterUser;
  RunSheet(
      [&] {
        Slide(video.m_hWnd, kContrast, 90);
        main.log.clear();
        Choose(video.m_hWnd, kMode, 0);  // "사용자 정의"
        afterUser = Sent();
        contrastAfter = SliderPos(video.m_hWnd, kContrast);
        Cancel();
      },
      kVideoPage);
  EXPECT_EQ((Cmds{{52, 127}, {53, 90}, {54, 40}, {55, 127}}), afterUser);
  EXPECT_EQ(90, contrastAfter);
}

TEST_F(VideoPage, DraggingSendsEveryIntermediatePosition) {
  std::string labelAfter;
  RunSheet(
      [&] {
        main.log.clear();
        Drag(video.m_hWnd, kBright, {128, 129, 130, 131});
        labelAfter = Label(video.m_hWnd, kBrightLabel);
        Slide(video.m_hWnd, kSaturation, 10);
        Cancel();
      },
      kVideoPage);
  const Cmds sent = Sent();
  // Each position of the drag, in order (the release may repeat the last one), then saturation.
  ASSERT_GE(sent.size(), 5u);
  EXPECT_EQ((Cmds{{52, 128}, {52, 129}, {52, 130}, {52, 131}}), Cmds(sent.begin(), sent.begin() + 4));
  for (size_t i = 4; i + 1 < sent.size(); ++i) EXPECT_EQ(Cmd(52, 131), sent[i]);
  EXPECT_EQ(Cmd(55, 10), sent.back());
  EXPECT_EQ("131", labelAfter);
  EXPECT_EQ(-1, StoredWord(kKeyVideo, "Bright")) << "Cancel stores nothing";
}

TEST_F(VideoPage, MovesSurviveLeavingThePageAndAreStoredOnOK) {
  RunSheet(
      [&] {
        Slide(video.m_hWnd, kHue, 200);
        ShowPage(hSheet, 2);  // leaving the page takes the sliders in
        Ok();
      },
      kVideoPage);
  EXPECT_EQ(127, StoredWord(kKeyVideo, "Bright"));
  EXPECT_EQ(127, StoredWord(kKeyVideo, "Contrast"));
  EXPECT_EQ(200, StoredWord(kKeyVideo, "Hue"));
  EXPECT_EQ(127, StoredWord(kKeyVideo, "Saturation"));
}

}  // namespace

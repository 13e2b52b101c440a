// The levels window and the buttons that ask for it; the capture status dialog's meters.
#include "dialogs/CaptureStatusDlg.h"
#include "dialogs/LevelsDlg.h"
#include "res/resource.h"
#include "tests/dialogs/rig.h"

#include <QApplication>
#include <QTest>

using namespace dlgtest;

namespace {

// Measures as the engine would give them: a luma range past black and white, a left channel at
// -6 dBFS with its clip mark on, a right one at -20.
class FakeLevels : public CLevelsSource {
 public:
  void WatchPicture(bool on) override { watching = on; }
  bool ReadPicture(orv::PictureLevels* levels) override {
    levels->ymin = 10, levels->ymax = 240, levels->brng = 0.0123;
    levels->histogram[10] = levels->histogram[240] = 1;
    return true;
  }
  bool ReadSound(orv::SoundLevels* levels) override {
    levels->channels = 2;
    levels->peakDb[0] = levels->holdDb[0] = -6.04, levels->peakDb[1] = levels->holdDb[1] = -19.96;
    levels->clipped[0] = clipped;
    return true;
  }
  void ClearClip() override {
    clipped = false;
    ++clears;
  }
  bool watching = false, clipped = true;
  int clears = 0;
};

// The video and audio pages' buttons and the status dialog's ask the main window (the video
// window) for the levels window; the status dialog shows the recorded sound's peaks meanwhile.
TEST_F(SheetTest, EveryLevelsButtonAsksTheMainWindow) {
  const std::pair<int, int> pages[] = {{1, IDC_VIDEO_LEVELS}, {2, IDC_AUDIO_LEVELS}};
  for (const auto& [tab, button] : pages) {
    SCOPED_TRACE(tab);
    main.log.clear();
    RunSheet([&] { Click(tab == 1 ? video.m_hWnd : audio.m_hWnd, button); }, tab);
    EXPECT_EQ((Cmds{{VideoCmd::OpenLevels, 0}}), Sent());
  }
  main.log.clear();
  FakeLevels levels;
  CCaptureStatusDlg status;
  status.m_pLevels = &levels;
  RunModal(status, [&] {
    EXPECT_EQ("소리 최고값 (dBFS): -6.0 (클립) / -20.0", Text(status.m_hWnd, IDC_STATUS_SOUND));
    Click(status.m_hWnd, IDC_STATUS_LEVELS);
  });
  EXPECT_EQ((Cmds{{VideoCmd::OpenLevels, 0}}), Sent());
}

// The window watches the picture while it is open and shows what it reads; the button and a
// click on the meters clear the clip marks; Escape closes it, and it opens again where it was.
TEST(LevelsWindow, ReadoutsClipMarksEscapeAndPlace) {
  orv::test::FreshConfigDir();
  FakeLevels levels;
  auto dlg = std::make_unique<CLevelsDlg>(&levels);
  ASSERT_TRUE(dlg->Open(nullptr));
  const HWND h = dlg->m_hWnd;
  EXPECT_EQ(h, orv::ui::FindLocalTopLevel("신호 레벨"));
  EXPECT_TRUE(levels.watching);
  EXPECT_EQ("YMIN 10   YMAX 240   BRNG 1.2%", Text(h, IDC_LEVELS_PICTURE));
  EXPECT_EQ("소리 최고값 (dBFS): -6.0 (클립) / -20.0", Text(h, IDC_LEVELS_SOUND));
  Click(h, IDC_LEVELS_CLEAR_CLIP);
  EXPECT_EQ("소리 최고값 (dBFS): -6.0 / -20.0", Text(h, IDC_LEVELS_SOUND));
  levels.clipped = true;
  ::SendMessageA(::GetDlgItem(h, IDC_LEVELS_METERS), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
  EXPECT_EQ(2, levels.clears);

  dlg->MoveWindow(123, 77, 400, 300);
  RECT placed{};
  dlg->GetWindowRect(&placed);
  QTest::keyClick(Inner<QAbstractButton>(h, IDC_LEVELS_CLEAR_CLIP), Qt::Key_Escape);
  EXPECT_FALSE(::IsWindow(h));
  EXPECT_FALSE(levels.watching);
  EXPECT_EQ(std::pair(static_cast<int>(placed.left), static_cast<int>(placed.top)),
            std::pair(StoredWord(kKeyPosition, "Levels_left"), StoredWord(kKeyPosition, "Levels_top")));

  dlg = std::make_unique<CLevelsDlg>(&levels);
  ASSERT_TRUE(dlg->Open(nullptr));
  RECT again{};
  dlg->GetWindowRect(&again);
  EXPECT_EQ(std::pair(placed.left, placed.top), std::pair(again.left, again.top));
  EXPECT_TRUE(levels.watching);
}

}  // namespace

// The audio page: its own mixer, following changes made elsewhere, mutes, and "Selection".
#include "tests/dialogs/sheetrig.h"
#include "platform/mixer/testing.h"

using namespace sheettest;

namespace {

constexpr int kMasterSlider = 1000, kLineInSlider = 1001, kMasterMute = 1002, kLineInMute = 1003;
constexpr int kSelectMaster = 1004, kSelectLineIn = 1005;
constexpr int kAudioPage = 2;

// The virtual mixer with every control write recorded.
class LoggingMixer : public orv::mixer::Device {
 public:
  explicit LoggingMixer(std::shared_ptr<Device> inner) : inner_(std::move(inner)) {
    inner_->SetChangeHandler([this](Device*, DWORD id) { Changed(id); });
  }
  ~LoggingMixer() override { inner_->SetChangeHandler(nullptr); }
  std::string Name() const override { return inner_->Name(); }
  std::vector<orv::mixer::LineDesc> Lines() const override { return inner_->Lines(); }
  MMRESULT Read(DWORD id, DWORD* values, DWORD count) override { return inner_->Read(id, values, count); }
  MMRESULT Write(DWORD id, const DWORD* values, DWORD count) override {
    writes.emplace_back(id, count ? values[0] : 0);
    return inner_->Write(id, values, count);
  }
  DWORD Control(DWORD componentType, DWORD controlType) const {
    for (const auto& l : inner_->Lines())
      if (l.componentType == componentType)
        for (const auto& c : l.controls)
          if (c.type == controlType) return c.id;
    return 0;
  }
  std::vector<std::pair<DWORD, DWORD>> writes;

 private:
  std::shared_ptr<Device> inner_;
};

class AudioPage : public SheetTest {
 protected:
  void SetUp() override {
    SheetTest::SetUp();
    other.m_nMaxLevel = 20;
  }
  CMixer other;  // the panel's or another program's hand on the same mixer
};

TEST_F(AudioPage, OpensWithTheMixerStateAndTheStoredSelection) {
  other.SetVolume(MIXLINE_MASTER, 12);
  other.SetVolume(MIXLINE_LINEIN, 4);
  other.SetMute(MIXLINE_LINEIN, 1);
  StoreDword(kKeyAudio, "Selection", 1);
  int master = -1, lineIn = -1, range = 0;
  UINT masterMute = 9, lineInMute = 9, selMaster = 9, selLineIn = 9;
  RunSheet(
      [&] {
        const HWND page = audio.m_hWnd;
        master = SliderPos(page, kMasterSlider);
        lineIn = SliderPos(page, kLineInSlider);
        range = Inner<QSlider>(page, kLineInSlider)->maximum();
        masterMute = IsDlgButtonChecked(page, kMasterMute);
        lineInMute = IsDlgButtonChecked(page, kLineInMute);
        selMaster = IsDlgButtonChecked(page, kSelectMaster);
        selLineIn = IsDlgButtonChecked(page, kSelectLineIn);
        Cancel();
      },
      kAudioPage);
  EXPECT_EQ(12, master);
  EXPECT_EQ(4, lineIn);
  EXPECT_EQ(20, range);
  EXPECT_EQ(0u, masterMute);
  EXPECT_EQ(1u, lineInMute);
  EXPECT_EQ(0u, selMaster);
  EXPECT_EQ(1u, selLineIn);
}

TEST_F(AudioPage, MutingLineInWritesBothMutesAndLeavesTheVolumes) {
  other.SetVolume(MIXLINE_MASTER, 16);
  other.SetMute(MIXLINE_MASTER, 1);
  auto log = std::make_shared<LoggingMixer>(orv::mixer::VirtualMixer());
  orv::mixer::InstallDevicesForTests({log});
  const DWORD lineInMute = log->Control(MIXERLINE_COMPONENTTYPE_SRC_LINE, MIXERCONTROL_CONTROLTYPE_MUTE);
  const DWORD masterMute = log->Control(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, MIXERCONTROL_CONTROLTYPE_MUTE);
  ASSERT_NE(0u, lineInMute);
  ASSERT_NE(0u, masterMute);
  RunSheet(
      [&] {
        log->writes.clear();
        Click(audio.m_hWnd, kLineInMute);
        Cancel();
      },
      kAudioPage);
  EXPECT_EQ((std::vector<std::pair<DWORD, DWORD>>{{lineInMute, 1}, {masterMute, 1}}), log->writes);
  EXPECT_EQ(16, other.GetVolume(MIXLINE_MASTER));
  EXPECT_EQ(1, other.GetMute(MIXLINE_LINEIN));
  EXPECT_EQ(1, other.GetMute(MIXLINE_MASTER));
}

TEST_F(AudioPage, MovingASliderWritesOnlyItsLineAndKeepsTheLevelWritten) {
  other.SetVolume(MIXLINE_LINEIN, 6);
  auto log = std::make_shared<LoggingMixer>(orv::mixer::VirtualMixer());
  orv::mixer::InstallDevicesForTests({log});
  const DWORD masterVolume = log->Control(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, MIXERCONTROL_CONTROLTYPE_VOLUME);
  const DWORD lineInVolume = log->Control(MIXERLINE_COMPONENTTYPE_SRC_LINE, MIXERCONTROL_CONTROLTYPE_VOLUME);
  int master = -1, lineIn = -1;
  std::vector<DWORD> written;
  RunSheet(
      [&] {
        const HWND page = audio.m_hWnd;
        log->writes.clear();
        Slide(page, kMasterSlider, 14);
        Slide(page, kLineInSlider, 3);   // the mixer reads it back as 2
        Slide(page, kMasterSlider, 15);  // and this as 14
        orv::test::PumpUntil([] { return false; }, 300);  // the mixer's notices arrive
        for (const auto& w : log->writes) written.push_back(w.first);
        master = SliderPos(page, kMasterSlider);
        lineIn = SliderPos(page, kLineInSlider);
        Cancel();
      },
      kAudioPage);
  EXPECT_EQ((std::vector<DWORD>{masterVolume, lineInVolume, masterVolume}), written);
  EXPECT_EQ(15, master);
  EXPECT_EQ(3, lineIn);
  EXPECT_EQ(14, other.GetVolume(MIXLINE_MASTER));
  EXPECT_EQ(2, other.GetVolume(MIXLINE_LINEIN));
}

TEST_F(AudioPage, ChangesMadeElsewhereMoveTheControls) {
  bool followedVolume = false, followedMute = false;
  RunSheet(
      [&] {
        const HWND page = audio.m_hWnd;
        other.SetVolume(MIXLINE_MASTER, 17);
        followedVolume = orv::test::PumpUntil([&] { return SliderPos(page, kMasterSlider) == 17; });
        other.SetMute(MIXLINE_LINEIN, 1);
        followedMute = orv::test::PumpUntil([&] { return IsDlgButtonChecked(page, kLineInMute) == BST_CHECKED; });
        Cancel();
      },
      kAudioPage);
  EXPECT_TRUE(followedVolume);
  EXPECT_TRUE(followedMute);
}

TEST_F(AudioPage, SelectionIsStoredOnOKOnly) {
  StoreDword(kKeyAudio, "Selection", 0);
  RunSheet(
      [&] {
        Click(audio.m_hWnd, kSelectLineIn);
        Cancel();
      },
      kAudioPage);
  EXPECT_EQ(0, StoredWord(kKeyAudio, "Selection"));

  CAudioSetup again;
  CConfigSheet sheet("환경설정");
  sheet.AddPage(&again);
  QTimer::singleShot(0, [&] {
    Click(again.m_hWnd, kSelectLineIn);
    Click(sheet.m_hWnd, IDOK);
  });
  EXPECT_EQ(IDOK, sheet.DoModal());
  EXPECT_EQ(1, StoredWord(kKeyAudio, "Selection"));
}

TEST_F(AudioPage, AnUnknownStoredSelectionChecksNeitherAndIsKept) {
  StoreDword(kKeyAudio, "Selection", 7);
  UINT selMaster = 9, selLineIn = 9;
  RunSheet(
      [&] {
        selMaster = IsDlgButtonChecked(audio.m_hWnd, kSelectMaster);
        selLineIn = IsDlgButtonChecked(audio.m_hWnd, kSelectLineIn);
        Ok();
      },
      kAudioPage);
  EXPECT_EQ(0u, selMaster);
  EXPECT_EQ(0u, selLineIn);
  EXPECT_EQ(7, StoredWord(kKeyAudio, "Selection"));
}

}  // namespace

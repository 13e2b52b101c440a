// The audio page: its own mixer, following changes made elsewhere, mutes, and "Selection".
#include "res/resource.h"
#include "tests/dialogs/rig.h"

using namespace dlgtest;

namespace {

constexpr int kMaster = 1000, kLineIn = 1001, kMasterMute = 1002, kLineInMute = 1003, kSelectLineIn = 1005, kAudioPage = 2;

class AudioPage : public SheetTest {
 protected:
  AudioPage() { other.m_nMaxLevel = 20; }
  std::vector<int> State() {  // sliders, then mutes and selection buttons checked
    std::vector<int> out{SliderPos(audio.m_hWnd, kMaster), SliderPos(audio.m_hWnd, kLineIn)};
    for (int id = kMasterMute; id <= kSelectLineIn; ++id) out.push_back(IsDlgButtonChecked(audio.m_hWnd, id));
    return out;
  }
  CMixer other;  // the panel's or another program's hand on the same mixer
};

TEST_F(AudioPage, OpensWithTheMixerStateAndFollowsChangesMadeElsewhere) {
  other.SetVolume(MIXLINE_MASTER, 12);
  other.SetVolume(MIXLINE_LINEIN, 4);
  other.SetMute(MIXLINE_LINEIN, 1);
  StoreDword(kKeyAudio, "Selection", 1);
  RunSheet([&] {
    EXPECT_EQ((std::vector<int>{12, 4, 0, 1, 0, 1}), State());
    EXPECT_EQ(20, Inner<QSlider>(audio.m_hWnd, kLineIn)->maximum());
    other.SetVolume(MIXLINE_MASTER, 17);
    other.SetMute(MIXLINE_MASTER, 1);
    EXPECT_TRUE(orv::test::PumpUntil([&] { return State() == std::vector<int>{17, 4, 1, 1, 0, 1}; }));
  }, kAudioPage);
}

// A slider writes only its own line's volume and keeps the level set (the mixer reads back a step
// lower); muting line in leaves the volumes.
TEST_F(AudioPage, SlidersAndMuteWriteOnlyTheirControls) {
  other.SetMute(MIXLINE_MASTER, 1);
  RunSheet([&] {
    Slide(audio.m_hWnd, kMaster, 14);
    Slide(audio.m_hWnd, kLineIn, 3);   // the mixer reads it back as 2
    Slide(audio.m_hWnd, kMaster, 15);  // and this as 14
    Click(audio.m_hWnd, kLineInMute);
    orv::test::PumpUntil([] { return false; }, 300);  // the mixer's notices arrive
    EXPECT_EQ(15, SliderPos(audio.m_hWnd, kMaster));
    EXPECT_EQ(3, SliderPos(audio.m_hWnd, kLineIn));
  }, kAudioPage);
  EXPECT_EQ(14, other.GetVolume(MIXLINE_MASTER));
  EXPECT_EQ(2, other.GetVolume(MIXLINE_LINEIN));
  EXPECT_EQ(1, other.GetMute(MIXLINE_LINEIN));
  EXPECT_EQ(1, other.GetMute(MIXLINE_MASTER));
}

// An unknown stored selection checks neither button and is kept; a choice is stored on OK only.
TEST_F(AudioPage, SelectionIsStoredOnOKOnly) {
  StoreDword(kKeyAudio, "Selection", 7);
  RunSheet([&] {
    const std::vector<int> s = State();
    EXPECT_EQ(0, s[4] + s[5]);
    Ok();
  }, kAudioPage);
  for (bool ok : {false, true}) {
    EXPECT_EQ(7, StoredWord(kKeyAudio, "Selection"));
    RunSheet([&] {
      Click(audio.m_hWnd, kSelectLineIn);
      ok ? Ok() : Cancel();
    }, kAudioPage);
  }
  EXPECT_EQ(1, StoredWord(kKeyAudio, "Selection"));
}

}  // namespace

namespace {

// The sound-through box shows what plays now, the automatic choice resolved for the devices in
// use; OK stores on or off only when the box was changed, so an untouched automatic choice stays.
TEST_F(AudioPage, SoundThroughBoxShowsWhatPlaysAndStoresOnlyAChange) {
  struct Case {
    const char* stored;
    bool cardsOwnSound;
    bool checked;
    bool click;
    const char* after;
  };
  const Case cases[] = {
      {"", true, true, false, ""},     {"", false, false, false, ""},   {"auto", true, true, true, "0"},
      {"auto", false, false, true, "1"}, {"0", true, false, true, "1"}, {"1", false, true, false, "1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.stored) + (c.cardsOwnSound ? " own" : " other") + (c.click ? " clicked" : ""));
    orv::test::FreshConfigDir();
    if (*c.stored) WriteProfileStringA(kProfileSection, "SoundThrough", c.stored);
    audio.m_bSoundThroughByDefault = c.cardsOwnSound;
    audio.m_bSoundThroughChanged = false;
    RunSheet([&] {
      EXPECT_EQ(c.checked, IsDlgButtonChecked(audio.m_hWnd, IDC_AUDIO_SOUND_THROUGH) == BST_CHECKED);
      if (c.click) Click(audio.m_hWnd, IDC_AUDIO_SOUND_THROUGH);
      Ok();
    }, kAudioPage);
    char stored[16] = {};
    GetProfileStringA(kProfileSection, "SoundThrough", "", stored, sizeof stored);
    EXPECT_EQ(std::string(c.after), stored);
    EXPECT_EQ(c.click, audio.m_bSoundThroughChanged);
  }
}

}  // namespace

// CMixer on snd-dummy: Master and Line volume -50..100 without a playback switch.
#include "mixer/Mixer.h"
#include "platform/mixer/testing.h"
#include "tests/hw/hwrig.h"

#include <regex>

using namespace orv::hw;
using orv::test::PumpUntil;
using orv::test::RecordingWnd;

namespace {

// The raw values amixer shows for a simple control of card 0 (one per channel).
std::vector<long> Raw(const std::string& control) {
  const std::string out = Shell("amixer -c 0 sget '" + control + "'");
  std::vector<long> values;
  // "Front Left: Playback 25 [50%]", or without "Playback" where the element also captures.
  static const std::regex playback(R"(Front (?:Left|Right): (?:Playback )?(-?\d+) \[)");
  for (auto it = std::sregex_iterator(out.begin(), out.end(), playback); it != std::sregex_iterator(); ++it)
    values.push_back(std::stol((*it)[1]));
  return values;
}

// The linear mapping of the platform's 0..65535 onto -50..100, rounded to nearest.
long ExpectedRaw(int level) {
  const unsigned long value = (static_cast<unsigned long>(level) * 65535 + 10) / 20;  // MulDiv rounding
  return -50 + static_cast<long>((value * 150 + 65535 / 2) / 65535);
}

void UseAlsa() {
  setenv("ORVANE_MIXER", "alsa", 1);
  orv::mixer::ResetDevicesForTests();
}

}  // namespace

TEST(Mixer, LevelsReachTheCardWithTheScaleRoundingAndReadBack) {
  ORV_NEEDS_VM();
  UseAlsa();
  RecordingWnd wnd;
  CMixer mixer;
  mixer.m_hwndNotify = wnd;
  mixer.m_nMaxLevel = 20;
  ASSERT_EQ(1, mixer.Open());
  for (int line : {MIXLINE_MASTER, MIXLINE_LINEIN}) {
    const std::string name = line == MIXLINE_MASTER ? "Master" : "Line";
    for (int level : {0, 1, 3, 10, 15, 19, 20}) {
      SCOPED_TRACE(name + " level " + std::to_string(level));
      EXPECT_EQ(0u, mixer.SetVolume(line, level));
      const std::vector<long> raw = Raw(name);
      ASSERT_EQ(2u, raw.size()) << Shell("amixer -c 0 sget " + name + " 2>&1");
      EXPECT_EQ(ExpectedRaw(level), raw[0]);
      EXPECT_EQ(raw[0], raw[1]);  // balance reset to the centre
      // Reading truncates: a level comes back as itself or one lower.
      const int back = mixer.GetVolume(line);
      EXPECT_TRUE(back == level || back == level - 1) << back;
    }
  }
  EXPECT_EQ(20, (mixer.SetVolume(MIXLINE_MASTER, 20), mixer.GetVolume(MIXLINE_MASTER)));
  EXPECT_EQ(10, (mixer.SetVolume(MIXLINE_MASTER, 10), mixer.GetVolume(MIXLINE_MASTER)));
}

TEST(Mixer, NoPlaybackSwitchMeansNoMuteControl) {
  ORV_NEEDS_VM();
  UseAlsa();
  CMixer mixer;
  mixer.m_nMaxLevel = 20;
  // snd-dummy's elements have no playback switch: the line has no mute control to find.
  EXPECT_EQ(0u, mixer.GetControlID(MIXERCONTROL_CONTROLTYPE_MUTE));
  EXPECT_NE(0u, mixer.SetMute(MIXLINE_MASTER, 1));
  EXPECT_NE(0u, mixer.SetMute(MIXLINE_LINEIN, 1));
  EXPECT_EQ(0, mixer.GetMute(MIXLINE_MASTER));
  // The volume stays untouched by the refused mute.
  mixer.SetVolume(MIXLINE_MASTER, 12);
  mixer.SetMute(MIXLINE_MASTER, 1);
  const std::vector<long> raw = Raw("Master");
  ASSERT_FALSE(raw.empty());
  EXPECT_EQ(ExpectedRaw(12), raw[0]);
}

TEST(Mixer, AChangeMadeWithAmixerReachesTheOpenMixersWindow) {
  ORV_NEEDS_VM();
  UseAlsa();
  RecordingWnd wnd;
  CMixer mixer;
  mixer.m_hwndNotify = wnd;
  mixer.m_nMaxLevel = 20;
  ASSERT_EQ(1, mixer.Open());
  mixer.SetVolume(MIXLINE_LINEIN, 4);
  PumpUntil([] { return false; }, 300);
  wnd.log.clear();
  Shell("amixer -q -c 0 sset Line 70");  // raw 70: 120 of 150 steps
  ASSERT_TRUE(PumpUntil([&] { return wnd.Count(MM_MIXM_CONTROL_CHANGE) > 0; }, 5000));
  EXPECT_EQ(20 * 52428 / 65535, mixer.GetVolume(MIXLINE_LINEIN));
  EXPECT_EQ(16, mixer.GetVolume(MIXLINE_LINEIN));
}

// CMixer on snd-dummy: Master and Line volume -50..100 without a playback switch.
#include "mixer/Mixer.h"
#include "platform/mixer/testing.h"
#include "tests/hw/hwrig.h"

#include <gmock/gmock.h>
#include <regex>

using namespace orv::hw;
using orv::test::PumpUntil;

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

struct AlsaMixer : ::testing::Test {
  void SetUp() override {
    ORV_NEEDS_VM();
    setenv("ORVANE_MIXER", "alsa", 1);
    orv::mixer::ResetDevicesForTests();
    mixer.m_hwndNotify = wnd;
    mixer.m_nMaxLevel = 20;
    ASSERT_EQ(1, mixer.Open());
  }
  orv::test::RecordingWnd wnd;
  CMixer mixer;
};

}  // namespace

// Levels 0..20 spread over the card's 151 steps, rounded to the nearest; reading truncates, so a
// level comes back as itself or one lower.
TEST_F(AlsaMixer, LevelsReachTheCardRoundedAndReadBack) {
  const std::pair<int, long> levels[] = {{0, -50}, {1, -42}, {3, -28}, {10, 25}, {15, 62}, {19, 92}, {20, 100}};
  for (const char* name : {"Master", "Line"})
    for (const auto& [level, raw] : levels) {
      SCOPED_TRACE(std::string(name) + " level " + std::to_string(level));
      const int line = name[0] == 'M' ? MIXLINE_MASTER : MIXLINE_LINEIN;
      EXPECT_EQ(0u, mixer.SetVolume(line, level));
      EXPECT_EQ((std::vector<long>{raw, raw}), Raw(name));  // balance reset to the centre
      EXPECT_THAT(mixer.GetVolume(line), ::testing::AnyOf(level, level - 1));
    }
  // snd-dummy's elements have no playback switch: no mute control, and a refused mute leaves the
  // volume alone.
  EXPECT_EQ(0u, mixer.GetControlID(MIXERCONTROL_CONTROLTYPE_MUTE));
  mixer.SetVolume(MIXLINE_MASTER, 12);
  EXPECT_NE(0u, mixer.SetMute(MIXLINE_MASTER, 1));
  EXPECT_NE(0u, mixer.SetMute(MIXLINE_LINEIN, 1));
  EXPECT_EQ(0, mixer.GetMute(MIXLINE_MASTER));
  EXPECT_EQ((std::vector<long>{40, 40}), Raw("Master"));
}

TEST_F(AlsaMixer, AChangeMadeWithAmixerReachesTheOpenMixersWindow) {
  mixer.SetVolume(MIXLINE_LINEIN, 4);
  PumpUntil([] { return false; }, 300);
  wnd.log.clear();
  Shell("amixer -q -c 0 sset Line 70");  // raw 70: 120 of 150 steps
  ASSERT_TRUE(PumpUntil([&] { return wnd.Count(MM_MIXM_CONTROL_CHANGE) > 0; }, 5000));
  EXPECT_EQ(16, mixer.GetVolume(MIXLINE_LINEIN));
}

// The tuner's channel plans: broadcast (antenna) and standard cable, in kHz (their carriers are
// checked against the published plans with the regions' plans).
#include "platform/media/devices/channels.h"

#include <gtest/gtest.h>
#include <set>

using namespace orv::media;

TEST(ChannelTable, EveryChannelRoundTripsThroughItsFrequencyAndTunerUnits) {
  for (auto [plan, first, last] : {std::tuple{TunerInputAntenna, 2, 69}, std::tuple{TunerInputCable, 1, 125}}) {
    LONG min, max;
    PlanRange(plan, &min, &max);
    EXPECT_EQ(std::pair(first, last), std::pair(min, max));
    std::set<std::uint32_t> seen;
    for (LONG ch = min; ch <= max; ++ch) {
      const std::uint32_t kHz = ChannelToKHz(plan, ch);
      EXPECT_TRUE(seen.insert(kHz).second) << "two channels on " << kHz << " kHz";
      // A tuner a little off still names the same channel.
      for (int off : {0, 1000, -1000}) EXPECT_EQ(ch, KHzToChannel(plan, kHz + off)) << ch;
      for (bool low : {false, true}) EXPECT_EQ(kHz, TunerUnitsToKHz(KHzToTunerUnits(kHz, low), low)) << ch;
    }
  }
  // 61.25 MHz: 980 steps of 62.5 kHz, or 980000 steps of 62.5 Hz.
  EXPECT_EQ(980u, KHzToTunerUnits(61250, false));
  EXPECT_EQ(980000u, KHzToTunerUnits(61250, true));
  EXPECT_EQ(0, KHzToChannel(TunerInputAntenna, 130000));  // far from any channel
  EXPECT_EQ(0, KHzToChannel(TunerInputCable, 900000));
}

// The tuner's built-in plans (their carriers are held against Korea's plans with the regions' plans)
// and its units.
#include "platform/media/devices/channels.h"

#include <gtest/gtest.h>

using namespace orv::media;

TEST(ChannelTable, RangesTunerUnitsAndFrequenciesOffEveryChannel) {
  for (auto [plan, first, last] : {std::tuple{TunerInputAntenna, 2, 69}, std::tuple{TunerInputCable, 1, 125}}) {
    LONG min, max;
    PlanRange(plan, &min, &max);
    EXPECT_EQ(std::pair(first, last), std::pair(min, max));
  }
  // 61.25 MHz: 980 steps of 62.5 kHz, or 980000 steps of 62.5 Hz, and back.
  EXPECT_EQ(980u, KHzToTunerUnits(61250, false));
  EXPECT_EQ(980000u, KHzToTunerUnits(61250, true));
  for (bool low : {false, true}) EXPECT_EQ(801250u, TunerUnitsToKHz(KHzToTunerUnits(801250, low), low));
  EXPECT_EQ(13, KHzToChannel(TunerInputAntenna, 211250 + 1000));  // a tuner a little off
  EXPECT_EQ(0, KHzToChannel(TunerInputAntenna, 130000));  // far from any channel
  EXPECT_EQ(0, KHzToChannel(TunerInputCable, 900000));
}

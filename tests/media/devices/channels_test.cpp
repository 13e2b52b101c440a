// The tuner's channel plans: broadcast (antenna) and standard cable, in kHz.
#include "platform/media/devices/channels.h"

#include <gtest/gtest.h>
#include <set>

using namespace orv::media;

TEST(ChannelTable, KnownCarriersOfEachBandAndNoneOutsideIt) {
  struct Case {
    TunerInputType plan;
    LONG channel;
    std::uint32_t kHz;
  } cases[] = {
      {TunerInputAntenna, 1, 0},       {TunerInputAntenna, 2, 55250},   {TunerInputAntenna, 4, 67250},
      {TunerInputAntenna, 5, 77250},   {TunerInputAntenna, 6, 83250},   {TunerInputAntenna, 7, 175250},
      {TunerInputAntenna, 13, 211250}, {TunerInputAntenna, 14, 471250}, {TunerInputAntenna, 69, 801250},
      {TunerInputAntenna, 70, 0},      {TunerInputCable, 0, 0},         {TunerInputCable, 1, 73250},
      {TunerInputCable, 2, 55250},     {TunerInputCable, 13, 211250},   {TunerInputCable, 14, 121250},
      {TunerInputCable, 22, 169250},   {TunerInputCable, 23, 217250},   {TunerInputCable, 36, 295250},
      {TunerInputCable, 37, 301250},   {TunerInputCable, 94, 643250},   {TunerInputCable, 95, 91250},
      {TunerInputCable, 99, 115250},   {TunerInputCable, 100, 649250},  {TunerInputCable, 125, 799250},
      {TunerInputCable, 126, 0},
  };
  for (const Case& c : cases)
    EXPECT_EQ(c.kHz, ChannelToKHz(c.plan, c.channel)) << (c.plan == TunerInputAntenna ? "antenna " : "cable ")
                                                       << c.channel;
}

TEST(ChannelTable, EveryChannelRoundTripsThroughItsFrequencyAndTunerUnits) {
  for (auto [plan, first, last] : {std::tuple{TunerInputAntenna, 2, 69}, std::tuple{TunerInputCable, 1, 125}}) {
    LONG min, max;
    PlanRange(plan, &min, &max);
    EXPECT_EQ(first, min);
    EXPECT_EQ(last, max);
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
  // Between channels, far from any: no channel.
  EXPECT_EQ(0, KHzToChannel(TunerInputAntenna, 130000));
  EXPECT_EQ(0, KHzToChannel(TunerInputCable, 900000));
}

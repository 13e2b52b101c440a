// The tuner's channel plans: broadcast (antenna) and standard cable, in kHz.
#include "platform/media/devices/channels.h"

#include <gtest/gtest.h>
#include <set>

using namespace orv::media;

TEST(ChannelTable, KnownCarriersOfEachBandAndNoneOutsideIt) {
  const std::pair<LONG, std::uint32_t> antenna[] = {{1, 0},        {2, 55250},   {4, 67250},   {5, 77250},  {6, 83250},
                                                    {7, 175250},   {13, 211250}, {14, 471250}, {69, 801250}, {70, 0}};
  const std::pair<LONG, std::uint32_t> cable[] = {{0, 0},        {1, 73250},   {2, 55250},   {13, 211250}, {14, 121250},
                                                  {22, 169250},  {23, 217250}, {36, 295250}, {37, 301250}, {94, 643250},
                                                  {95, 91250},   {99, 115250}, {100, 649250}, {125, 799250}, {126, 0}};
  for (auto [ch, kHz] : antenna) EXPECT_EQ(kHz, ChannelToKHz(TunerInputAntenna, ch)) << "antenna " << ch;
  for (auto [ch, kHz] : cable) EXPECT_EQ(kHz, ChannelToKHz(TunerInputCable, ch)) << "cable " << ch;
}

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
  // Between channels, far from any: no channel.
  EXPECT_EQ(0, KHzToChannel(TunerInputAntenna, 130000));
  EXPECT_EQ(0, KHzToChannel(TunerInputCable, 900000));
}

// The registered-channel lists: loading, saving, up and down with wrap-around and on a region's
// plans, add and erase; and typing a channel number with its time-out.
#include "tests/panel/panelrig.h"

#include <cstring>
#include <sstream>

using namespace paneltest;
using orv::test::PumpUntil;

namespace {

const std::string kDefaultTV = "0010001101010100000000000000000000000000000000000000000000000000000000";
const std::string kDefaultCATV = kDefaultTV.substr(0, 14) + std::string(112, '0');

class Channels : public PanelTest {};

// The defaults on a first start; add and erase mark the current channel of the current band only,
// send nothing and save nothing until asked.
TEST_F(Channels, FirstStartDefaultsAndAddAndEraseOnTheCurrentBandOnly) {
  Open();
  EXPECT_EQ(kDefaultTV, panel.m_szTVChannels);
  EXPECT_EQ(kDefaultCATV, panel.m_szCATVChannels);
  panel.m_nTVChannel = 50;
  panel.RunButton(6);
  panel.m_nTVChannel = 11;
  panel.RunButton(7);
  panel.m_nSource = SOURCE_VIDEO;  // external inputs have no channels
  for (int button : {6, 7, 4, 5}) panel.RunButton(button);
  EXPECT_TRUE(Sent().empty());
  EXPECT_EQ("<missing>", StoredString(kKeyChannel, "TV"));
  panel.SaveChannelSettings();
  std::string tv = kDefaultTV;
  tv[50] = '1';
  tv[11] = '0';
  EXPECT_EQ(tv, StoredString(kKeyChannel, "TV"));
  EXPECT_EQ(kDefaultCATV, StoredString(kKeyChannel, "CATV"));
  EXPECT_EQ(11, StoredWord(kKeyChannel, "TVChannel"));
}

TEST_F(Channels, UpAndDownWalkTheRegisteredChannelsAndWrap) {
  Open();
  panel.ChannelUp();
  panel.m_nTVChannel = 2;
  panel.ChannelDown();
  panel.m_nSource = SOURCE_CATV;
  panel.m_nCATVChannel = 1;
  panel.ChannelDown();  // wraps to 125 and goes on down to 13
  panel.m_szCATVChannels[125] = '1';
  panel.ChannelUp();
  panel.ChannelUp();  // past 125 to 1, then on to 2
  panel.m_szCATVChannels[1] = '1';
  panel.ChannelDown();
  panel.ChannelDown();
  EXPECT_EQ((Cmds{{4, 13}, {5, 13}, {5, 13}, {4, 125}, {4, 2}, {5, 1}, {5, 125}}), Sent());
}

TEST_F(Channels, TheOnlyRegisteredChannelIsFoundAgainAndAnEmptyBandChangesNothing) {
  StoreString(kKeyChannel, "TV", (std::string(40, '0') + "1" + std::string(29, '0')).c_str());
  StoreDword(kKeyChannel, "TVChannel", 40);
  Open();
  panel.ChannelUp();
  panel.ChannelDown();
  EXPECT_EQ((Cmds{{4, 40}, {5, 40}}), Sent());
  video.log.clear();
  panel.RunButton(7);  // erasing the last registered channel leaves nothing to stop at
  std::memcpy(panel.m_szTVChannels, "11", 2);  // indexes 0 and 1 are not channels of the band
  panel.ChannelUp();
  panel.ChannelDown();
  EXPECT_EQ(40, panel.m_nTVChannel);
  EXPECT_TRUE(Sent().empty());
}

// A list stored empty comes back with its current channel registered. (Lists of the wrong length
// and numbers out of range are read as the settings tests check.)
TEST_F(Channels, AListStoredEmptyComesBackWithItsCurrentChannelRegistered) {
  StoreString(kKeyChannel, "TV", std::string(70, '0').c_str());
  StoreString(kKeyChannel, "CATV", "");
  StoreDword(kKeyChannel, "TVChannel", 33);
  StoreDword(kKeyChannel, "CATVChannel", 200);  // beyond the list: 11 is registered instead
  Open();
  EXPECT_EQ(std::string(33, '0') + "1" + std::string(36, '0'), panel.m_szTVChannels);
  EXPECT_EQ(std::string(11, '0') + "1" + std::string(114, '0'), panel.m_szCATVChannels);
}

TEST_F(Channels, OnARegionsPlanUpAndDownStepOverNumbersThePlanLacks) {
  // The registered numbers, the one tuned, and the commands of up, up, down. E13..E20 do not exist
  // in Western Europe; in Korea every number of the band is a channel; Australia's channel 0 and
  // Japan's 1 lie below the band's first channel 2; Western Europe's cable has S1 at 81, nothing
  // between E69 and it.
  const struct { const char* region; int source; const char* registered; int start; Cmds expected; } cases[] = {
      {"EU", SOURCE_TV, "12 13 17 21", 12, {{4, 21}, {4, 12}, {5, 21}}}, {"KR", SOURCE_TV, "12 13 17 21", 12, {{4, 13}, {4, 17}, {5, 13}}},
      {"AU", SOURCE_TV, "0 12 69", 69, {{4, 0}, {4, 12}, {5, 0}}},         {"JP", SOURCE_TV, "1 62 69", 62, {{4, 1}, {4, 62}, {5, 1}}},
      {"EU", SOURCE_CATV, "69 75 81", 69, {{4, 81}, {4, 69}, {5, 81}}}};
  Open();
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.region) + " " + c.registered);
    orv::test::WriteConfigFile("win.ini", std::string("[orvane]\nRegion=") + c.region + "\n");  // read at each step
    panel.m_nSource = c.source;
    char* list = c.source == SOURCE_TV ? panel.m_szTVChannels : panel.m_szCATVChannels;
    std::memset(list, '0', c.source == SOURCE_TV ? 70 : 126);
    std::istringstream numbers(c.registered);
    for (int n; numbers >> n;) list[n] = '1';
    (c.source == SOURCE_TV ? panel.m_nTVChannel : panel.m_nCATVChannel) = c.start;
    video.log.clear();
    panel.ChannelUp();
    panel.ChannelUp();
    panel.ChannelDown();
    EXPECT_EQ(c.expected, Sent());
  }
}

// ---- Number entry -------------------------------------------------------------------------------

class NumberEntry : public OpenPanelTest {
 protected:
  // Digits as keys; 'T' is the time-out as the timer delivers it.
  void Type(const char* keys) {
    for (const char* d = keys; *d; ++d) {
      MSG tick{panel.m_hWnd, WM_TIMER, CPanelWnd::kEntryTimer, 0, 0, {0, 0}};
      *d == 'T' ? void(AfxPumpMessage(&tick)) : Key(panel.m_hWnd, static_cast<UINT>(*d));
    }
  }
};

TEST_F(NumberEntry, TerrestrialTakesTwoDigitsCableThreeOrFewerAndTheTimeOut) {
  const struct { int source, from; const char* keys; Cmds sent; int channel; } cases[] = {
      {SOURCE_TV, 11, "09", {{20, 9}}, 9},        {SOURCE_TV, 11, "00", {{20, 0}}, 0},
      {SOURCE_TV, 11, "4T", {{20, 4}}, 4},        {SOURCE_TV, 11, "40", {{20, 40}}, 40} /* unregistered */,
      {SOURCE_TV, 11, "1T", {{20, 11}}, 11} /* below 2 */, {SOURCE_TV, 11, "85", {{20, 11}}, 11} /* above 69 */,
      {SOURCE_CATV, 33, "125", {{20, 125}}, 125}, {SOURCE_CATV, 33, "000", {{20, 0}}, 0},
      {SOURCE_CATV, 33, "45T", {{20, 45}}, 45},   {SOURCE_CATV, 33, "126", {{20, 33}}, 33},
      {SOURCE_CATV, 33, "0T", {{20, 33}}, 33},    {SOURCE_VIDEO, 11, "5T", {}, 11},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.keys);
    video.log.clear();
    panel.m_nSource = c.source;
    panel.m_nTVChannel = panel.m_nCATVChannel = c.from;
    Type(c.keys);
    EXPECT_EQ(c.sent, Sent());
    EXPECT_EQ(c.channel, c.source == SOURCE_CATV ? panel.m_nCATVChannel : panel.m_nTVChannel);
    EXPECT_EQ(0, panel.m_nDigitCount);
    EXPECT_EQ(kDefaultTV, panel.m_szTVChannels) << "typing registers nothing";
  }
}

TEST_F(NumberEntry, TheRealTimerEndsAnEntryThatShowsTheDigitsSoFar) {
  Type("7");
  EXPECT_EQ(7, panel.m_nTVChannel);
  ASSERT_TRUE(PumpUntil([&] { return !Sent().empty(); }, 5000));
  EXPECT_EQ((Cmds{{20, 7}}), Sent());
}

TEST_F(NumberEntry, ChangingTheSourceEndsAnEntryOnItsOwnBand) {
  panel.m_nSource = SOURCE_CATV;
  panel.m_nCATVChannel = 120;
  Type("12");          // two cable digits, waiting for the third
  panel.RunButton(9);  // to Video
  EXPECT_EQ(120, panel.m_nCATVChannel);
  panel.m_nSource = SOURCE_TV;
  Type("99");  // above 69: the terrestrial channel comes back, not 120
  EXPECT_EQ((Cmds{{9, 2}, {20, 11}}), Sent());
  Type("T");
  EXPECT_EQ(11, panel.m_nTVChannel);
}

}  // namespace

// The registered-channel lists: loading, saving, up and down with wrap-around, add and erase; and
// typing a channel number with its time-out.
#include "tests/panel/panelrig.h"

#include <cstring>

using namespace paneltest;
using orv::test::PumpUntil;

namespace {

const std::string kDefaultTV = "0010001101010100000000000000000000000000000000000000000000000000000000";
const std::string kDefaultCATV = kDefaultTV.substr(0, 14) + std::string(112, '0');

class Channels : public PanelTest {};

TEST_F(Channels, FirstStartUsesTheDefaultsAndSavesThemInOrder) {
  Open();
  EXPECT_EQ(kDefaultTV, panel.m_szTVChannels);
  EXPECT_EQ(kDefaultCATV, panel.m_szCATVChannels);
  EXPECT_EQ(SOURCE_TV, panel.m_nSource);
  EXPECT_EQ(11, panel.m_nTVChannel);
  EXPECT_EQ(11, panel.m_nCATVChannel);
  panel.SaveChannelSettings();
  EXPECT_EQ(kDefaultTV, StoredString(kKeyChannel, "TV"));
  EXPECT_EQ(kDefaultCATV, StoredString(kKeyChannel, "CATV"));
  EXPECT_EQ(0, StoredWord(kKeyChannel, "Source"));
  const std::string reg = orv::test::ReadConfigFile("registry.reg");
  const auto at = [&](const char* name) { return reg.find(std::string("\"") + name + "\"="); };
  EXPECT_LT(at("Source"), at("TV"));
  EXPECT_LT(at("TV"), at("CATV"));
  EXPECT_LT(at("CATV"), at("TVChannel"));
  EXPECT_LT(at("TVChannel"), at("CATVChannel"));
}

TEST_F(Channels, UpAndDownWalkTheRegisteredChannelsAndWrap) {
  Open();
  panel.ChannelUp();
  panel.ChannelUp();
  panel.ChannelUp();
  EXPECT_EQ(6, panel.m_nTVChannel);
  panel.m_nTVChannel = 2;
  panel.ChannelDown();
  EXPECT_EQ((Cmds{{4, 13}, {4, 2}, {4, 6}, {5, 13}}), Sent());

  video.log.clear();
  panel.m_nSource = SOURCE_CATV;
  panel.m_nCATVChannel = 1;
  panel.ChannelDown();  // wraps to 125 and goes on down to 13
  panel.m_szCATVChannels[125] = '1';
  panel.ChannelUp();
  panel.ChannelUp();  // past 125 to 1, then on to 2
  panel.m_szCATVChannels[1] = '1';
  panel.ChannelDown();
  panel.ChannelDown();
  EXPECT_EQ((Cmds{{5, 13}, {4, 125}, {4, 2}, {5, 1}, {5, 125}}), Sent());
}

TEST_F(Channels, TheOnlyRegisteredChannelIsFoundAgainAndAnEmptyBandChangesNothing) {
  StoreString(kKeyChannel, "TV", (std::string(40, '0') + "1" + std::string(29, '0')).c_str());
  StoreDword(kKeyChannel, "TVChannel", 40);
  Open();
  panel.ChannelUp();
  panel.ChannelDown();
  EXPECT_EQ((Cmds{{4, 40}, {5, 40}}), Sent());

  // Erasing the last registered channel leaves nothing to stop at.
  video.log.clear();
  panel.RunButton(7);
  panel.ChannelUp();
  panel.ChannelDown();
  EXPECT_EQ(40, panel.m_nTVChannel);
  EXPECT_TRUE(Sent().empty());

  // Indexes 0 and 1 are not channels of the band.
  std::memcpy(panel.m_szTVChannels, "11", 2);
  panel.ChannelUp();
  EXPECT_EQ(40, panel.m_nTVChannel);
  panel.m_nSource = SOURCE_CATV;
  std::memset(panel.m_szCATVChannels, '0', 126);
  panel.m_szCATVChannels[0] = '1';
  panel.ChannelDown();
  EXPECT_EQ(11, panel.m_nCATVChannel);
  EXPECT_TRUE(Sent().empty());
}

TEST_F(Channels, AddAndEraseMarkTheCurrentChannelOfTheCurrentBandOnly) {
  Open();
  panel.RunButton(7);  // erase 11
  EXPECT_EQ('0', panel.m_szTVChannels[11]);
  panel.ChannelUp();
  EXPECT_EQ(13, panel.m_nTVChannel);
  panel.m_nTVChannel = 50;
  panel.RunButton(6);
  EXPECT_EQ('1', panel.m_szTVChannels[50]);
  EXPECT_EQ('0', panel.m_szCATVChannels[50]);
  panel.m_nSource = SOURCE_VIDEO;
  const std::string tv = panel.m_szTVChannels, catv = panel.m_szCATVChannels;
  panel.RunButton(6);
  panel.RunButton(7);
  panel.ChannelUp();
  panel.ChannelDown();
  EXPECT_EQ(tv, panel.m_szTVChannels);
  EXPECT_EQ(catv, panel.m_szCATVChannels);
  EXPECT_EQ(50, panel.m_nTVChannel);
  EXPECT_EQ((Cmds{{4, 13}}), Sent()) << "add and erase send nothing; external inputs have no channels";
  EXPECT_EQ("<missing>", StoredString(kKeyChannel, "TV")) << "nothing is saved until settings or exit";
}

TEST_F(Channels, StoredValuesOutsideTheirRangesFallBack) {
  StoreString(kKeyChannel, "TV", std::string(71, '1').c_str());  // one character too many
  StoreString(kKeyChannel, "CATV", "0111");                      // too short: padded
  StoreDword(kKeyChannel, "Source", 4);
  StoreDword(kKeyChannel, "TVChannel", 70);
  StoreDword(kKeyChannel, "CATVChannel", 0);
  Open();
  EXPECT_EQ(kDefaultTV, panel.m_szTVChannels);
  EXPECT_EQ("0111" + std::string(122, '0'), panel.m_szCATVChannels);
  EXPECT_EQ(SOURCE_TV, panel.m_nSource);
  EXPECT_EQ(11, panel.m_nTVChannel);
  EXPECT_EQ(0, panel.m_nCATVChannel) << "what number entry stores stays";
  // Which values fall back, and to what, is shared with the video window (tests/app).
}

TEST_F(Channels, AListStoredEmptyComesBackWithItsCurrentChannel) {
  StoreString(kKeyChannel, "TV", std::string(70, '0').c_str());
  StoreString(kKeyChannel, "CATV", "");
  StoreDword(kKeyChannel, "TVChannel", 33);
  StoreDword(kKeyChannel, "CATVChannel", 200);  // beyond the list: 11 is registered instead
  Open();
  EXPECT_EQ(std::string(33, '0') + "1" + std::string(36, '0'), panel.m_szTVChannels);
  EXPECT_EQ(std::string(11, '0') + "1" + std::string(114, '0'), panel.m_szCATVChannels);
  // A channel below the band, as number entry leaves it, is not one to step to.
  StoreDword(kKeyChannel, "TVChannel", 1);
  panel.LoadChannelSettings();
  EXPECT_EQ(std::string(70, '0'), panel.m_szTVChannels);
  EXPECT_EQ(70u, std::strlen(panel.m_szTVChannels));
  EXPECT_EQ(126u, std::strlen(panel.m_szCATVChannels));
}

// ---- Number entry -------------------------------------------------------------------------------

class NumberEntry : public PanelTest {
 protected:
  void SetUp() override {
    PanelTest::SetUp();
    Open();
  }
  void Type(const char* digits) {
    for (const char* d = digits; *d; ++d) Key(panel.m_hWnd, static_cast<UINT>(*d));
  }
  // The time-out as the timer delivers it.
  void TimeOut() {
    MSG m{panel.m_hWnd, WM_TIMER, CPanelWnd::kEntryTimer, 0, 0, {0, 0}};
    AfxPumpMessage(&m);
  }
};

TEST_F(NumberEntry, TerrestrialTakesTwoDigitsOrOneAndTheTimeOut) {
  Type("7");
  EXPECT_EQ(7, panel.m_nTVChannel) << "the display shows the digit typed so far";
  EXPECT_TRUE(Sent().empty());
  // The real timer ends the entry.
  ASSERT_TRUE(PumpUntil([&] { return !Sent().empty(); }, 5000));
  EXPECT_EQ((Cmds{{20, 7}}), Sent());
  EXPECT_EQ(0, panel.m_nDigitCount);

  video.log.clear();
  Type("1");
  TimeOut();  // below 2: the previous channel comes back
  Type("85");  // above 69: restored at once
  Type("09");
  Type("00");  // committed as typed
  EXPECT_EQ((Cmds{{20, 7}, {20, 7}, {20, 9}, {20, 0}}), Sent());
  EXPECT_EQ(0, panel.m_nTVChannel);
  Type("4");
  TimeOut();
  EXPECT_EQ(4, panel.m_nTVChannel);
}

TEST_F(NumberEntry, CableTakesThreeDigits) {
  panel.m_nSource = SOURCE_CATV;
  panel.m_nCATVChannel = 33;
  Type("125");
  Type("126");  // above 125: restored at once
  Type("45");
  EXPECT_EQ(2, panel.m_nDigitCount);
  EXPECT_EQ(45, panel.m_nCATVChannel);
  TimeOut();
  Type("0");
  TimeOut();  // below 1: restored
  Type("000");
  EXPECT_EQ((Cmds{{20, 125}, {20, 125}, {20, 45}, {20, 45}, {20, 0}}), Sent());
}

TEST_F(NumberEntry, UnregisteredChannelsCanBeTypedAndExternalInputsIgnoreDigits) {
  panel.RunButton(7);  // erase 11
  Type("11");
  EXPECT_EQ((Cmds{{20, 11}}), Sent());
  EXPECT_EQ('0', panel.m_szTVChannels[11]);

  video.log.clear();
  for (int s : {SOURCE_VIDEO, SOURCE_SVIDEO}) {
    panel.m_nSource = s;
    Type("5");
    EXPECT_EQ(0, panel.m_nDigitCount);
    EXPECT_EQ(11, panel.m_nTVChannel);
  }
  TimeOut();  // a stray tick on an external input sends nothing
  EXPECT_TRUE(Sent().empty());
}

TEST_F(NumberEntry, ChangingTheSourceEndsAnEntryOnItsOwnBand) {
  panel.m_nSource = SOURCE_CATV;
  panel.m_nCATVChannel = 120;
  Type("12");                      // two cable digits, waiting for the third
  panel.RunButton(9);              // to Video
  EXPECT_EQ(120, panel.m_nCATVChannel);
  panel.m_nSource = SOURCE_TV;
  Type("9");                       // a fresh terrestrial entry
  Type("9");                       // 99 is above 69: the terrestrial channel comes back, not 120
  EXPECT_EQ(11, panel.m_nTVChannel);
  panel.RunButton(6);
  EXPECT_EQ((Cmds{{9, 2}, {20, 11}}), Sent());
  TimeOut();
  EXPECT_EQ(11, panel.m_nTVChannel);
}

}  // namespace

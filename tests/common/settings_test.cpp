// The settings helpers every window reads its stored values through.
#include "common/Commands.h"
#include "common/Recording.h"
#include "common/Settings.h"
#include "tests/support/testenv.h"

#include <cstring>
#include <gtest/gtest.h>

namespace {

class Settings : public ::testing::Test {
 protected:
  void SetUp() override {
    orv::test::FreshConfigDir();
    key = OpenSettingsKey(kKeyChannel);
  }
  void TearDown() override { CloseSettingsKey(key); }
  HKEY key = nullptr;
};

TEST_F(Settings, ChannelListsOfOddLengthsAreCutOrPaddedToTheirBand) {
  struct Case { const ChannelBand& band; std::string stored, read; };  // stored "": nothing stored
  const std::string tvDefault = kTVBand.defaults, catvDefault = kCATVBand.defaults;
  const Case cases[] = {
      {kTVBand, "", tvDefault},
      {kTVBand, "00000000001", "00000000001" + std::string(59, '0')},
      {kTVBand, std::string(70, '1'), std::string(70, '1')},
      {kTVBand, std::string(71, '1'), tvDefault},  // longer than the band: unreadable
      {kCATVBand, std::string(130, '1'), catvDefault},
      {kCATVBand, "1", "1" + std::string(125, '0')},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.band.valueName + (": " + c.stored));
    if (!c.stored.empty()) WriteSettingString(key, c.band.valueName, c.stored.c_str());
    char list[200];
    std::memset(list, 'x', sizeof list);
    ReadChannelList(key, c.band, list);
    EXPECT_EQ(c.read, std::string(list));
    EXPECT_EQ('x', list[c.band.chars + 1]) << "written beyond the band's buffer";
  }
}

TEST_F(Settings, StoredChannelsOutsideTheirRangeFallBackAndWordsTakeTheLow16Bits) {
  struct Case { DWORD source, tv, catv; StoredChannels read; };
  const Case cases[] = {
      {3, 69, 125, {3, 69, 125}}, {4, 70, 126, {0, 11, 11}},        {0x10001, 0x10005, 0x20000, {1, 5, 0}},
      {1, 1, 0, {1, 1, 0}},       {0xFFFF, 300, 99, {0, 11, 99}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.source);
    WriteSettingDword(key, "Source", c.source);
    WriteSettingDword(key, "TVChannel", c.tv);
    WriteSettingDword(key, "CATVChannel", c.catv);
    const StoredChannels s = ReadStoredChannels(key);
    EXPECT_EQ((std::vector<int>{c.read.source, c.read.tvChannel, c.read.catvChannel}),
              (std::vector<int>{s.source, s.tvChannel, s.catvChannel}));
  }
}

TEST_F(Settings, MissingOrMisshapenValuesGiveTheDefaults) {
  const StoredChannels s = ReadStoredChannels(key);
  EXPECT_EQ((std::vector<int>{SOURCE_TV, 11, 11}), (std::vector<int>{s.source, s.tvChannel, s.catvChannel}));
  EXPECT_EQ(-1, ReadSettingWord(nullptr, "Source", -1));
  const char text[] = "not a number";  // too long for a number's 4 bytes
  RegSetValueExA(key, "Source", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), sizeof text);
  EXPECT_EQ(-1, ReadSettingWord(key, "Source", -1));
  char buf[8];
  ReadSettingString(key, "Source", buf, sizeof buf, "default too long");
  EXPECT_STREQ("default", buf);
}

// Unknown or unusable recording choices mean the original recording, no stop and no deinterlacing;
// a wait too long is cut to a day. The default capture file takes the format's extension.
TEST(Recording, StoredChoicesFallBackOrAreCut) {
  using orv::record::Format;
  struct Case { const char* winIni; Format format; int seconds; bool deinterlace; const char* defaultFile; };
  const Case cases[] = {
      {"", Format::Spec, 0, false, "/Capture.avi"},
      {"RecordFormat=lossless\nStopOnNoSignal=30\nDeinterlacePreview=1\n", Format::Lossless, 30, true, "/Capture.mkv"},
      {"RecordFormat=compact\nStopOnNoSignal=86400\n", Format::Compact, 86400, false, "/Capture.mkv"},
      {"RecordFormat=full\nStopOnNoSignal=86401\nDeinterlacePreview=0\n", Format::Full, 86400, false, "/Capture.avi"},
      {"StopOnNoSignal=123456789012345678901234\n", Format::Spec, 86400, false, "/Capture.avi"},
      {"RecordFormat=mp4\nStopOnNoSignal=-5\nDeinterlacePreview=yes\n", Format::Spec, 0, false, "/Capture.avi"},
      {"RecordFormat=Lossless \nStopOnNoSignal=12s\nDeinterlacePreview=2\n", Format::Spec, 0, false, "/Capture.avi"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.winIni);
    orv::test::FreshConfigDir();
    orv::test::WriteConfigFile("win.ini", std::string("[orvane]\n") + c.winIni);
    EXPECT_EQ(c.format, orv::record::StoredFormat());
    EXPECT_EQ(c.seconds, orv::record::StoredStopOnNoSignal());
    EXPECT_EQ(c.deinterlace, orv::record::StoredDeinterlacePreview());
    EXPECT_TRUE(DefaultCaptureFile().ends_with(c.defaultFile)) << DefaultCaptureFile();
  }
  // What is stored is read back (a wait out of range is cut on reading, as above).
  orv::record::StoreRecording(Format::Compact, 7, true);
  EXPECT_EQ(std::tuple(Format::Compact, 7, true),
            std::tuple(orv::record::StoredFormat(), orv::record::StoredStopOnNoSignal(), orv::record::StoredDeinterlacePreview()));
}

}  // namespace

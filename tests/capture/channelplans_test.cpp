// The regions' channel plans against the published national plans (figures as printed in the sources
// docs/channel-plans.md names), the rules every plan keeps so the panel's lists and the scan can use
// it, and the stored region and standard reaching the card.
#include "common/ChannelPlans.h"
#include "common/Commands.h"
#include "platform/media/devices/channels.h"
#include "tests/capture/enginerig.h"

#include <gtest/gtest.h>

#include <set>
#include <stdexcept>
#include <string>

using namespace orv::plans;
using orv::test::CardState;
using orv::test::EngineRig;

namespace {

const ChannelPlan& Plan(std::string_view id) {
  for (const Region& r : Regions())
    for (const ChannelPlan* p : {r.broadcast, r.cable})
      if (p->id == id) return *p;
  throw std::runtime_error("no plan " + std::string(id));
}

}  // namespace

// First, last and the carriers where a band or the naming changes. Korea is checked against the
// tuner's own table below.
TEST(ChannelPlans, PublishedCarriersAndNames) {
  const struct { const char* plan; int number; const char* name; int kHz; } cases[] = {
      {"US-TV", 2, "2", 55250}, {"US-TV", 69, "69", 801250}, {"US-CATV", 1, "1", 73250},
      {"US-CATV", 125, "125", 799250}, {"JP-TV", 1, "1", 91250}, {"JP-TV", 7, "7", 189250}, {"JP-TV", 8, "8", 193250},
      {"JP-TV", 13, "13", 471250}, {"JP-TV", 62, "62", 765250}, {"JP-CATV", 13, "C13", 109250},
      {"JP-CATV", 22, "C22", 165250}, {"JP-CATV", 23, "C23", 223250}, {"JP-CATV", 63, "C63", 463250},
      {"EU-TV", 2, "E2", 48250}, {"EU-TV", 5, "E5", 175250}, {"EU-TV", 12, "E12", 224250},
      {"EU-TV", 21, "E21", 471250}, {"EU-TV", 69, "E69", 855250}, {"EU-CATV", 5, "E5", 175250},
      {"EU-CATV", 81, "S1", 105250}, {"EU-CATV", 91, "S11", 231250}, {"EU-CATV", 101, "S21", 303250},
      {"EU-CATV", 121, "S41", 463250}, {"UK-TV", 2, "A", 45750}, {"UK-TV", 5, "D", 175250},
      {"UK-TV", 11, "J", 223250}, {"UK-TV", 69, "69", 855250}, {"UK-CATV", 5, "D", 175250}, {"FR-TV", 2, "L2", 55750},
      {"FR-TV", 3, "L3", 60500}, {"FR-TV", 5, "L5", 176000}, {"FR-TV", 10, "L10", 216000},
      {"FR-TV", 69, "69", 855250}, {"FR-CATV", 121, "S41", 463250}, {"OIRT-TV", 1, "R1", 49750},
      {"OIRT-TV", 6, "R6", 175250}, {"OIRT-TV", 69, "R69", 855250}, {"OIRT-CATV", 81, "SR1", 111250},
      {"OIRT-CATV", 88, "SR8", 167250}, {"OIRT-CATV", 91, "SR11", 231250}, {"OIRT-CATV", 120, "SR40", 463250},
      {"CN-TV", 1, "DS-1", 49750}, {"CN-TV", 5, "DS-5", 85250}, {"CN-TV", 6, "DS-6", 168250},
      {"CN-TV", 25, "DS-25", 607250}, {"CN-TV", 68, "DS-68", 951250}, {"CN-CATV", 81, "Z-1", 112250},
      {"CN-CATV", 87, "Z-7", 160250}, {"CN-CATV", 88, "Z-8", 224250}, {"CN-CATV", 117, "Z-37", 456250},
      {"AU-TV", 0, "0", 46250}, {"AU-TV", 13, "5A", 138250}, {"AU-TV", 6, "6", 175250}, {"AU-TV", 14, "9A", 203250},
      {"AU-TV", 10, "10", 210250}, {"AU-TV", 69, "69", 814250}, {"AU-CATV", 13, "5A", 138250},
  };
  for (const auto& c : cases) {
    const PlanChannel* ch = FindChannel(Plan(c.plan), c.number);
    ASSERT_NE(nullptr, ch) << c.plan << " " << c.number;
    EXPECT_EQ(std::string(c.name) + " " + std::to_string(c.kHz), std::string(ch->name) + " " + std::to_string(ch->visualKHz))
        << c.plan << " " << c.number;
  }
}

TEST(ChannelPlans, RegionsTheirStandardsAndRanges) {
  const std::vector<std::string> expected{  // in the page's order
      "KR NTSC-M-KR KR-TV 2-69 KR-CATV 1-125",      "US NTSC-M US-TV 2-69 US-CATV 1-125",
      "JP NTSC-J JP-TV 1-62 JP-CATV 1-63",          "EU PAL-BG EU-TV 2-69 EU-CATV 2-121",
      "UK PAL-I UK-TV 2-69 UK-CATV 2-69",  "FR SECAM-L FR-TV 2-69 FR-CATV 2-121",
      "OIRT SECAM-DK OIRT-TV 1-69 OIRT-CATV 1-120", "CN PAL-DK CN-TV 1-68 CN-CATV 1-117",
      "AU PAL-BG AU-TV 0-69 AU-CATV 0-69"};
  std::vector<std::string> shown;
  for (const Region& r : Regions()) {
    std::string s = std::string(r.code) + " " + r.standard;
    for (const ChannelPlan* p : {r.broadcast, r.cable})
      s += " " + std::string(p->id) + " " + std::to_string(p->first) + "-" + std::to_string(p->last);
    shown.push_back(s);
    EXPECT_EQ(&r, FindRegion(r.code));
  }
  EXPECT_EQ(expected, shown);
}

TEST(ChannelPlans, KoreaIsTheDefaultAndTheTunersOwnTable) {
  for (const char* code : {"", "XX", "kr", "KOREA"}) EXPECT_STREQ("KR", RegionOrDefault(code).code) << code;
  EXPECT_STREQ("EU", RegionOrDefault("EU").code);
  // Korea's plans carry every number the tuner knew before regions, on the same carriers.
  const Region& kr = RegionOrDefault("KR");
  for (const bool cable : {false, true})
    for (int n = 0; n <= kLastCableNumber; ++n) {
      const PlanChannel* c = FindChannel(cable ? *kr.cable : *kr.broadcast, n);
      EXPECT_EQ(orv::media::ChannelToKHz(cable ? TunerInputCable : TunerInputAntenna, n), c ? c->visualKHz : 0u)
          << (cable ? "cable " : "antenna ") << n;
    }
}

// With no region stored, the locale's territory (or language) chooses one; a stored region stays
// whatever the locale, and Korean, unknown and C locales keep Korea.
TEST(ChannelPlans, RegionFollowsTheLocaleUntilOneIsStored) {
  const std::pair<const char*, const char*> cases[] = {
      {"ko_KR.UTF-8", "KR"}, {"ko", "KR"},        {"en_US.UTF-8", "US"}, {"en_GB.UTF-8", "UK"}, {"en_IE", "UK"},
      {"ja_JP.UTF-8", "JP"}, {"zh_CN.UTF-8", "CN"}, {"zh_TW.UTF-8", "KR"}, {"en_AU.UTF-8", "AU"}, {"en_NZ", "AU"},
      {"fr_FR.UTF-8", "FR"}, {"fr_BE.UTF-8", "EU"}, {"fr_CA.UTF-8", "KR"}, {"ru_RU.UTF-8", "OIRT"}, {"uk_UA", "OIRT"},
      {"be_BY", "OIRT"},     {"de_DE.UTF-8", "EU"}, {"de_AT@euro", "EU"}, {"en_DK.UTF-8", "EU"}, {"pl", "EU"},
      {"es_MX.UTF-8", "KR"}, {"en_CA.UTF-8", "KR"}, {"C.UTF-8", "KR"},     {"POSIX", "KR"},       {"", "KR"}};
  for (const auto& [locale, region] : cases) EXPECT_STREQ(region, RegionForLocale(locale).code) << locale;

  const std::string lang = std::getenv("LANG") ? std::getenv("LANG") : "";
  const char* all = std::getenv("LC_ALL");
  const std::string lcAll = all ? all : "";
  unsetenv("LC_ALL");
  unsetenv("LC_MESSAGES");
  setenv("LANG", "en_GB.UTF-8", 1);
  for (const auto& [winIni, region] : {std::pair{"", "UK"}, {"[orvane]\nRegion=XX\n", "UK"}, {"[orvane]\nRegion=KR\n", "KR"}}) {
    orv::test::FreshConfigDir();
    orv::test::WriteConfigFile("win.ini", winIni);
    EXPECT_STREQ(region, StoredRegion().code) << winIni;
  }
  setenv("LANG", lang.c_str(), 1);
  if (all) setenv("LC_ALL", lcAll.c_str(), 1);
}

TEST(ChannelPlans, EveryPlanFitsThePanelListsAndRoundTrips) {
  for (const Region& r : Regions())
    for (const ChannelPlan* plan : {r.broadcast, r.cable}) {
      const int lastAllowed = plan == r.cable ? kLastCableNumber : kLastBroadcastNumber;
      ASSERT_FALSE(plan->channels.empty()) << plan->id;
      EXPECT_EQ(plan->first, plan->channels.front().number) << plan->id;
      EXPECT_EQ(plan->last, plan->channels.back().number) << plan->id;
      int previous = -1;
      std::set<int> carriers;
      for (const PlanChannel& ch : plan->channels) {
        const std::string where = std::string(plan->id) + " " + ch.name;
        EXPECT_TRUE(ch.number > previous && ch.number >= 0 && ch.number <= lastAllowed && ch.name[0]) << where;
        previous = ch.number;
        EXPECT_TRUE(carriers.insert(ch.visualKHz).second) << where << ": carrier used twice";
        EXPECT_EQ(&ch, FindChannel(*plan, ch.number)) << where;
        // A tuner a little off still names the same channel.
        for (const int offset : {0, 1000, -1000})
          EXPECT_EQ(&ch, NearestChannel(*plan, ch.visualKHz + offset)) << where << " " << offset;
      }
    }
}

TEST(ChannelPlans, AbsentChannelsAndFrequenciesOffThePlan) {
  // KR-TV 1 and 70, KR-CATV 0, E13 (between E12 and E21), below S1, after J, SR9.
  const std::pair<const char*, int> absent[] = {{"KR-TV", 1}, {"KR-TV", 70}, {"KR-CATV", 0}, {"EU-TV", 13},
                                                {"EU-CATV", 80}, {"UK-TV", 12}, {"OIRT-CATV", 89}};
  for (const auto& [plan, n] : absent) EXPECT_EQ(nullptr, FindChannel(Plan(plan), n)) << plan << " " << n;
  EXPECT_EQ(nullptr, NearestChannel(Plan("EU-TV"), 130000));
  EXPECT_EQ(nullptr, NearestChannel(Plan("KR-CATV"), 900000));
  // The tolerance is inclusive: E5 (175.25 MHz) still at 3 MHz off, nothing just beyond.
  EXPECT_STREQ("E5", NearestChannel(Plan("EU-TV"), 178250)->name);
  EXPECT_EQ(nullptr, NearestChannel(Plan("EU-TV"), 178251));
  // Japan's overlapping 7 and 8 stay apart.
  EXPECT_EQ(7, NearestChannel(Plan("JP-TV"), 190250)->number);
  EXPECT_EQ(8, NearestChannel(Plan("JP-TV"), 192250)->number);
}

TEST(RegionOnTheCard, StoredRegionAndStandardReachTunerAndDecoder) {
  // Source 0 antenna, 1 cable; the carrier tuned, the standard in force, picture lines, the tuner's range.
  const struct { const char* winIni; int source, channel; ULONG kHz; const char* standard; LONG lines, first, last; } cases[] = {
      // Nothing stored, and values this version does not know: Korea, NTSC-M as ever.
      {"", 0, 11, 199250, "NTSC-M", 480, 2, 69},
      {"[orvane]\nRegion=XX\nStandard=PAL-Q\n", 1, 100, 649250, "NTSC-M", 480, 1, 125},
      {"[orvane]\nRegion=EU\nStandard=PAL-BG\n", 0, 5, 175250, "PAL-BG", 576, 2, 69},
      {"[orvane]\nRegion=EU\nStandard=auto\n", 1, 101, 303250, "PAL-BG", 576, 2, 121},
      {"[orvane]\nRegion=UK\n", 0, 6, 183250, "PAL-I", 576, 2, 69},
      {"[orvane]\nRegion=JP\nStandard=NTSC-J\n", 0, 1, 91250, "NTSC-J", 480, 1, 62},
      {"[orvane]\nRegion=KR\nStandard=NTSC-M-KR\n", 0, 11, 199250, "NTSC-M-KR", 480, 2, 69},
      {"[orvane]\nRegion=EU\nStandard=SECAM-L\n", 0, 5, 175250, "SECAM-L", 576, 2, 69},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.winIni);
    EngineRig rig("", c.winIni);
    CCaptureGraph& g = rig.Start();
    g.SelectSource(c.source);
    g.TuneChannel(c.channel);
    g.TuneChannel(c.channel);  // the first put may precede the band's input type
    EXPECT_EQ(c.channel, CardState().tunerChannel);
    EXPECT_EQ(c.kHz, CardState().tunerKHz);
    EXPECT_EQ(c.standard, CardState().standard);
    AM_MEDIA_TYPE* mt = nullptr;
    ASSERT_EQ(S_OK, g.m_pVideoConfig->GetFormat(&mt));
    EXPECT_EQ(c.lines, reinterpret_cast<VIDEOINFOHEADER*>(mt->pbFormat)->bmiHeader.biHeight);
    DeleteMediaType(mt);
    ComPtr<IAMTVTuner> tuner;
    ASSERT_EQ(S_OK, g.FindTuner(&tuner));
    LONG lo = 0, hi = 0;
    tuner->ChannelMinMax(&lo, &hi);
    EXPECT_EQ(std::make_pair(c.first, c.last), std::make_pair(lo, hi));
    EXPECT_TRUE(rig.Texts().empty());
  }
}

TEST(RegionOnTheCard, TwoVirtualCardsListedAndSwitchedWithoutRestart) {
  EngineRig rig(R"({"devices": [{"name": "Card A"}, {"name": "Card B", "audio": false, "standards": ["PAL-BG", "SECAM-L"]},
                                {"name": "Card C"}]})");
  CCaptureGraph& g = rig.Start();
  auto captureName = [&] {
    FILTER_INFO info{};
    g.m_pVideoCapture->QueryFilterInfo(&info);
    if (info.pGraph) info.pGraph->Release();
    return orv::media::Narrow(info.achName);
  };
  CaptureDevices list = g.ListDevices();
  ASSERT_EQ(3u, list.video.size());
  EXPECT_EQ((std::vector<std::string>{"Card A Audio", "Card C Audio"}), list.audio);
  // Card B has no sound of its own.
  EXPECT_EQ((std::vector<int>{0, -1, 1}), (std::vector<int>{list.video[0].ownAudio, list.video[1].ownAudio, list.video[2].ownAudio}));
  // Only the card in use tells its standards; the built-in card takes every one.
  EXPECT_EQ(14u, list.video[0].standards.size());
  EXPECT_FALSE(list.video[1].standardsKnown);

  orv::test::WriteConfigFile("win.ini", "[orvane]\nVideoDevice=1\nAudioDevice=0\nRegion=EU\nStandard=SECAM-L\n");
  EXPECT_EQ(1, g.UseStoredDevices());
  EXPECT_EQ("VideoCapture#1", captureName());
  EXPECT_TRUE(g.m_bPreviewing);
  orv::media::VirtualCardState b;
  ASSERT_TRUE(orv::media::GetVirtualCardState(1, &b));
  EXPECT_EQ("SECAM-L", b.standard);
  list = g.ListDevices();
  EXPECT_EQ((std::vector<std::string>{"PAL-BG", "SECAM-L"}), list.video[1].standards);
  EXPECT_FALSE(list.video[0].standardsKnown);

  // A standard the card does not take leaves it on the one it had; back on the first card.
  orv::test::WriteConfigFile("win.ini", "[orvane]\nVideoDevice=1\nStandard=NTSC-J\n");
  g.UseStoredDevices();
  ASSERT_TRUE(orv::media::GetVirtualCardState(1, &b));
  EXPECT_EQ("SECAM-L", b.standard);
  orv::test::WriteConfigFile("win.ini", "[orvane]\nVideoDevice=0\n");
  g.UseStoredDevices();
  EXPECT_EQ("VideoCapture", captureName());
  EXPECT_TRUE(rig.Texts().empty());

  // A device that is gone gets the engine's own message.
  orv::test::WriteConfigFile("win.ini", "[orvane]\nVideoDevice=5\n");
  g.UseStoredDevices();
  EXPECT_FALSE(rig.Texts().empty());
}

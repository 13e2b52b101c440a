// The regions' channel plans against the published national plans (figures as printed in the sources
// docs/channel-plans.md names), the rules every plan keeps so the panel's lists and the scan can use
// it, and the stored region and standard reaching the card.
#include "common/ChannelPlans.h"
#include "common/Commands.h"
#include "platform/media/devices/channels.h"
#include "tests/capture/enginerig.h"

#include <gtest/gtest.h>

#include <iterator>
#include <set>
#include <stdexcept>
#include <string>

using namespace orv::plans;
using orv::test::Calls;
using orv::test::CardState;
using orv::test::EngineRig;
using orv::test::PumpUntil;
using orv::test::RecordingWnd;

namespace {

const ChannelPlan& PlanOf(const char* region, bool cable) {
  const Region* r = FindRegion(region);
  if (r == nullptr) throw std::runtime_error(std::string("no region ") + region);
  return cable ? *r->cable : *r->broadcast;
}

}  // namespace

TEST(ChannelPlans, PublishedCarriersAndNames) {
  struct Case {
    const char* region;
    bool cable;
    int number;
    const char* name;
    int kHz;
  } cases[] = {
      // The USA (Korea's plans are checked against the tuner's own table below)
      {"US", false, 2, "2", 55250}, {"US", false, 69, "69", 801250},
      {"US", true, 1, "1", 73250}, {"US", true, 125, "125", 799250},
      // Japan
      {"JP", false, 1, "1", 91250}, {"JP", false, 3, "3", 103250}, {"JP", false, 4, "4", 171250},
      {"JP", false, 7, "7", 189250}, {"JP", false, 8, "8", 193250}, {"JP", false, 12, "12", 217250},
      {"JP", false, 13, "13", 471250}, {"JP", false, 52, "52", 705250}, {"JP", false, 62, "62", 765250},
      {"JP", true, 1, "1", 91250}, {"JP", true, 12, "12", 217250}, {"JP", true, 13, "C13", 109250},
      {"JP", true, 21, "C21", 157250}, {"JP", true, 22, "C22", 165250}, {"JP", true, 23, "C23", 223250},
      {"JP", true, 35, "C35", 295250}, {"JP", true, 63, "C63", 463250},
      // Western Europe
      {"EU", false, 2, "E2", 48250}, {"EU", false, 4, "E4", 62250}, {"EU", false, 5, "E5", 175250},
      {"EU", false, 12, "E12", 224250}, {"EU", false, 21, "E21", 471250}, {"EU", false, 60, "E60", 783250},
      {"EU", false, 69, "E69", 855250},
      {"EU", true, 5, "E5", 175250}, {"EU", true, 69, "E69", 855250}, {"EU", true, 81, "S1", 105250},
      {"EU", true, 82, "S2", 112250}, {"EU", true, 90, "S10", 168250}, {"EU", true, 91, "S11", 231250},
      {"EU", true, 100, "S20", 294250}, {"EU", true, 101, "S21", 303250}, {"EU", true, 117, "S37", 431250},
      {"EU", true, 121, "S41", 463250},
      // UK and Ireland
      {"UK", false, 2, "A", 45750}, {"UK", false, 3, "B", 53750}, {"UK", false, 4, "C", 61750},
      {"UK", false, 5, "D", 175250}, {"UK", false, 9, "H", 207250}, {"UK", false, 10, "I", 215250},
      {"UK", false, 11, "J", 223250}, {"UK", false, 21, "21", 471250}, {"UK", false, 69, "69", 855250},
      {"UK", true, 5, "D", 175250},
      // France
      {"FR", false, 2, "L2", 55750}, {"FR", false, 3, "L3", 60500}, {"FR", false, 4, "L4", 63750},
      {"FR", false, 5, "L5", 176000}, {"FR", false, 10, "L10", 216000}, {"FR", false, 21, "21", 471250},
      {"FR", false, 24, "24", 495250}, {"FR", false, 60, "60", 783250}, {"FR", false, 69, "69", 855250},
      {"FR", true, 10, "L10", 216000}, {"FR", true, 101, "S21", 303250}, {"FR", true, 121, "S41", 463250},
      // Eastern Europe
      {"OIRT", false, 1, "R1", 49750}, {"OIRT", false, 2, "R2", 59250}, {"OIRT", false, 3, "R3", 77250},
      {"OIRT", false, 5, "R5", 93250}, {"OIRT", false, 6, "R6", 175250}, {"OIRT", false, 12, "R12", 223250},
      {"OIRT", false, 21, "R21", 471250}, {"OIRT", false, 69, "R69", 855250},
      {"OIRT", true, 81, "SR1", 111250}, {"OIRT", true, 88, "SR8", 167250}, {"OIRT", true, 91, "SR11", 231250},
      {"OIRT", true, 99, "SR19", 295250}, {"OIRT", true, 100, "SR20", 303250}, {"OIRT", true, 104, "SR24", 335250},
      {"OIRT", true, 120, "SR40", 463250},
      // China
      {"CN", false, 1, "DS-1", 49750}, {"CN", false, 3, "DS-3", 65750}, {"CN", false, 4, "DS-4", 77250},
      {"CN", false, 5, "DS-5", 85250}, {"CN", false, 6, "DS-6", 168250}, {"CN", false, 12, "DS-12", 216250},
      {"CN", false, 13, "DS-13", 471250}, {"CN", false, 24, "DS-24", 559250}, {"CN", false, 25, "DS-25", 607250},
      {"CN", false, 39, "DS-39", 719250}, {"CN", false, 68, "DS-68", 951250},
      {"CN", true, 81, "Z-1", 112250}, {"CN", true, 87, "Z-7", 160250}, {"CN", true, 88, "Z-8", 224250},
      {"CN", true, 109, "Z-29", 392250}, {"CN", true, 117, "Z-37", 456250},
      // Australia
      {"AU", false, 0, "0", 46250}, {"AU", false, 2, "2", 64250}, {"AU", false, 3, "3", 86250},
      {"AU", false, 5, "5", 102250}, {"AU", false, 13, "5A", 138250}, {"AU", false, 6, "6", 175250},
      {"AU", false, 9, "9", 196250}, {"AU", false, 14, "9A", 203250}, {"AU", false, 10, "10", 210250},
      {"AU", false, 12, "12", 224250}, {"AU", false, 28, "28", 527250}, {"AU", false, 69, "69", 814250},
      {"AU", true, 13, "5A", 138250},
  };
  for (const Case& c : cases) {
    const ChannelPlan& plan = PlanOf(c.region, c.cable);
    const PlanChannel* ch = FindChannel(plan, c.number);
    ASSERT_NE(nullptr, ch) << plan.id << " " << c.number;
    EXPECT_STREQ(c.name, ch->name) << plan.id << " " << c.number;
    EXPECT_EQ(c.kHz, ch->visualKHz) << plan.id << " " << c.name;
  }
}

TEST(ChannelPlans, RegionsTheirStandardsAndRanges) {
  struct Case {
    const char* code;
    const char* koreanName;
    const char* standard;
    const char* broadcastId;
    int first, last;
    const char* cableId;
    int cableFirst, cableLast;
  } cases[] = {
      {"KR", "한국", "NTSC-M-KR", "KR-TV", 2, 69, "KR-CATV", 1, 125},
      {"US", "미국", "NTSC-M", "US-TV", 2, 69, "US-CATV", 1, 125},
      {"JP", "일본", "NTSC-J", "JP-TV", 1, 62, "JP-CATV", 1, 63},
      {"EU", "서유럽", "PAL-BG", "EU-TV", 2, 69, "EU-CATV", 2, 121},
      {"UK", "영국·아일랜드", "PAL-I", "UK-TV", 2, 69, "UK-CATV", 2, 69},
      {"FR", "프랑스", "SECAM-L", "FR-TV", 2, 69, "FR-CATV", 2, 121},
      {"OIRT", "동유럽", "SECAM-DK", "OIRT-TV", 1, 69, "OIRT-CATV", 1, 120},
      {"CN", "중국", "PAL-DK", "CN-TV", 1, 68, "CN-CATV", 1, 117},
      {"AU", "호주", "PAL-BG", "AU-TV", 0, 69, "AU-CATV", 0, 69},
  };
  ASSERT_EQ(std::size(cases), Regions().size());
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    const Region& r = Regions()[i];  // the page's order
    EXPECT_STREQ(c.code, r.code);
    EXPECT_EQ(&r, FindRegion(c.code));
    EXPECT_STREQ(c.koreanName, r.koreanName) << c.code;
    EXPECT_STREQ(c.standard, r.standard) << c.code;
    EXPECT_STREQ(c.broadcastId, r.broadcast->id);
    EXPECT_EQ(c.first, r.broadcast->first) << c.broadcastId;
    EXPECT_EQ(c.last, r.broadcast->last) << c.broadcastId;
    EXPECT_STREQ(c.cableId, r.cable->id);
    EXPECT_EQ(c.cableFirst, r.cable->first) << c.cableId;
    EXPECT_EQ(c.cableLast, r.cable->last) << c.cableId;
  }
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

TEST(ChannelPlans, EveryPlanFitsThePanelListsAndRoundTrips) {
  for (const Region& r : Regions())
    for (const bool cable : {false, true}) {
      const ChannelPlan& plan = cable ? *r.cable : *r.broadcast;
      const int lastAllowed = cable ? kLastCableNumber : kLastBroadcastNumber;
      ASSERT_FALSE(plan.channels.empty()) << plan.id;
      int previous = -1;
      std::set<int> carriers;
      for (const PlanChannel& ch : plan.channels) {
        const std::string where = std::string(plan.id) + " " + ch.name;
        EXPECT_GE(ch.number, 0) << where;
        EXPECT_LE(ch.number, lastAllowed) << where;
        EXPECT_GT(ch.number, previous) << where << ": numbers unique and in order";
        previous = ch.number;
        EXPECT_NE('\0', ch.name[0]) << where;
        EXPECT_TRUE(carriers.insert(ch.visualKHz).second) << where << ": carrier used twice";
        EXPECT_EQ(&ch, FindChannel(plan, ch.number)) << where;
        // A tuner a little off still names the same channel.
        for (const int offset : {0, 1000, -1000}) {
          const PlanChannel* found = NearestChannel(plan, ch.visualKHz + offset);
          ASSERT_NE(nullptr, found) << where << " " << offset;
          EXPECT_EQ(ch.number, found->number) << where << " " << offset;
        }
      }
      EXPECT_EQ(plan.first, plan.channels.front().number) << plan.id;
      EXPECT_EQ(plan.last, plan.channels.back().number) << plan.id;
    }
}

TEST(ChannelPlans, AbsentChannelsAndFrequenciesOffThePlan) {
  EXPECT_EQ(nullptr, FindChannel(PlanOf("KR", false), 1));
  EXPECT_EQ(nullptr, FindChannel(PlanOf("KR", false), 70));
  EXPECT_EQ(nullptr, FindChannel(PlanOf("KR", true), 0));
  EXPECT_EQ(nullptr, FindChannel(PlanOf("EU", false), 13));  // between E12 and E21
  EXPECT_EQ(nullptr, FindChannel(PlanOf("EU", true), 80));   // below S1
  EXPECT_EQ(nullptr, FindChannel(PlanOf("UK", false), 12));  // after J
  EXPECT_EQ(nullptr, FindChannel(PlanOf("OIRT", true), 89));  // SR9 does not exist
  EXPECT_EQ(nullptr, NearestChannel(PlanOf("EU", false), 130000));
  EXPECT_EQ(nullptr, NearestChannel(PlanOf("KR", true), 900000));
  // The tolerance is inclusive: E5 (175.25 MHz) still at 3 MHz off, nothing just beyond.
  EXPECT_STREQ("E5", NearestChannel(PlanOf("EU", false), 178250)->name);
  EXPECT_EQ(nullptr, NearestChannel(PlanOf("EU", false), 178251));
  // Japan's overlapping 7 and 8 stay apart.
  EXPECT_EQ(7, NearestChannel(PlanOf("JP", false), 190250)->number);
  EXPECT_EQ(8, NearestChannel(PlanOf("JP", false), 192250)->number);
}

// ---- The engine on the stored choice ------------------------------------------------------------

TEST(RegionOnTheCard, StoredRegionAndStandardReachTunerAndDecoder) {
  struct Case {
    const char* winIni;
    int source;  // 0 antenna, 1 cable
    int channel;
    ULONG kHz;          // the carrier the card was tuned to
    const char* standard;  // in force on the card
    LONG lines;
    LONG first, last;  // the tuner's range
  } cases[] = {
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
  for (const Case& c : cases) {
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
    EXPECT_EQ(c.first, lo);
    EXPECT_EQ(c.last, hi);
    EXPECT_TRUE(rig.Texts().empty());
  }
}

TEST(RegionOnTheCard, ScanSkipsTheNumbersThePlanLacks) {
  EngineRig rig("", "[orvane]\nRegion=EU\n");
  CCaptureGraph& g = rig.Start();
  RecordingWnd page;
  orv::media::ClearJournal();
  g.StartChannelScan(page, 0);
  // The built-in card has a signal on 6 7 9 11 13 15 17 21 23 25 27 46 51; E13..E20 do not exist.
  const std::vector<LPARAM> expected{6, 7, 9, 11, 21, 23, 25, 27, 46, 51};
  auto found = [&] {
    std::vector<LPARAM> out;
    for (const auto& r : page.Of(WM_TUNER_NOTIFY)) out.push_back(r.lParam);
    return out;
  };
  ASSERT_TRUE(PumpUntil([&] { return Calls("Tuner.AutoTune(").size() == 60 && found().size() == expected.size(); },
                        20000));
  rig.engine.reset();
  EXPECT_EQ(expected, found());
  for (const auto& call : Calls("Tuner.AutoTune(")) {
    const int n = std::stoi(call.substr(15));
    EXPECT_TRUE(n <= 12 || n >= 21) << call;
  }
}

// ---- Two virtual cards: the device page's list and a switch without a restart --------------------

namespace {
std::string FilterName(IBaseFilter* f) {
  FILTER_INFO info{};
  f->QueryFilterInfo(&info);
  if (info.pGraph) info.pGraph->Release();
  return orv::media::Narrow(info.achName);
}
}  // namespace

TEST(RegionOnTheCard, TwoVirtualCardsListedAndSwitchedWithoutRestart) {
  EngineRig rig(R"({"devices": [{"name": "Card A"},
                                {"name": "Card B", "audio": false, "standards": ["PAL-BG", "SECAM-L"]},
                                {"name": "Card C"}]})");
  CCaptureGraph& g = rig.Start();
  CaptureDevices list = g.ListDevices();
  ASSERT_EQ(3u, list.video.size());
  EXPECT_EQ((std::vector<std::string>{"Card A Audio", "Card C Audio"}), list.audio);
  EXPECT_EQ(0, list.video[0].ownAudio);
  EXPECT_EQ(-1, list.video[1].ownAudio);  // no sound of its own
  EXPECT_EQ(1, list.video[2].ownAudio);
  // Only the card in use tells its standards; the built-in card takes every one.
  EXPECT_TRUE(list.video[0].standardsKnown);
  EXPECT_EQ(14u, list.video[0].standards.size());
  EXPECT_FALSE(list.video[1].standardsKnown);

  orv::test::WriteConfigFile("win.ini", "[orvane]\nVideoDevice=1\nAudioDevice=0\nRegion=EU\nStandard=SECAM-L\n");
  EXPECT_EQ(1, g.UseStoredDevices());
  EXPECT_EQ("VideoCapture#1", FilterName(g.m_pVideoCapture));
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
  EXPECT_EQ("VideoCapture", FilterName(g.m_pVideoCapture));
  EXPECT_TRUE(rig.Texts().empty());

  // A device that is gone gets the engine's own message.
  orv::test::WriteConfigFile("win.ini", "[orvane]\nVideoDevice=5\n");
  g.UseStoredDevices();
  EXPECT_FALSE(rig.Texts().empty());
}

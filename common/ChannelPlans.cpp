// Channel plan data. Regular series are generated from their published raster at compile time;
// irregular channels are listed one by one. Figures and sources: docs/channel-plans.md.
#include "common/ChannelPlans.h"

#include "common/Settings.h"
#include "platform/ui/winuser.h"

#include <algorithm>
#include <cstddef>
#include <iterator>
#include <string>

namespace orv::plans {
namespace {

// In a cable plan whose cable-only series would share numbers with the broadcast channels (S1..S41
// beside E2..E69, say), the cable-only series moves up by this much, as German receivers showed
// S1..S41 as 81..121; the broadcast channels keep their numbers on aerial and cable alike.
constexpr int kCableOnlyShift = 80;

// Channels prefix+label for label from..to, carriers stepKHz apart from the first, each on number
// label + shift; or (literal) one channel named prefix itself on number `from`.
struct Run {
  const char* prefix;
  int from, to;
  int kHz;
  int stepKHz = 0;
  int shift = 0;
  bool literal = false;
};

constexpr Run Series(const char* prefix, int from, int to, int kHz, int stepKHz, int shift = 0) {
  return {prefix, from, to, kHz, stepKHz, shift};
}
constexpr Run One(const char* name, int number, int kHz) { return {name, number, number, kHz, 0, 0, true}; }
// The cable-only series of a plan that also carries the broadcast channels.
constexpr Run CableSeries(const char* prefix, int from, int to, int kHz, int stepKHz) {
  return Series(prefix, from, to, kHz, stepKHz, kCableOnlyShift);
}

template <std::size_t... R>
constexpr std::size_t Count(const Run (&... runs)[R]) {
  std::size_t n = 0;
  for (const auto& list : {std::span<const Run>(runs)...})
    for (const Run& r : list) n += static_cast<std::size_t>(r.to - r.from + 1);
  return n;
}

// The channels of one or more run lists, with their names stored beside them, sorted by number.
// Built in place only: the channels point into the names.
template <std::size_t N>
struct Table {
  PlanChannel channels[N]{};
  char names[N][8]{};

  template <std::size_t... R>
  constexpr explicit Table(const Run (&... runs)[R]) {
    std::size_t i = 0;
    for (const auto& list : {std::span<const Run>(runs)...})
      for (const Run& r : list)
        for (int label = r.from; label <= r.to; ++label, ++i) {
          char* out = names[i];
          for (const char* p = r.prefix; *p != '\0'; ++p) *out++ = *p;
          if (!r.literal) {
            if (label >= 100) *out++ = static_cast<char>('0' + label / 100);
            if (label >= 10) *out++ = static_cast<char>('0' + label / 10 % 10);
            *out = static_cast<char>('0' + label % 10);
          }
          channels[i] = {label + r.shift, names[i], r.kHz + (label - r.from) * r.stepKHz};
        }
    std::sort(std::begin(channels), std::end(channels),
              [](const PlanChannel& a, const PlanChannel& b) { return a.number < b.number; });
  }
};

template <std::size_t N>
constexpr ChannelPlan Plan(const char* id, const Table<N>& table) {
  return {id, table.channels[0].number, table.channels[N - 1].number, std::span<const PlanChannel>(table.channels)};
}

// ---- Korea and the USA: NTSC-M, 6 MHz (FCC broadcast plan, EIA/CEA-542 standard cable plan) ----
constexpr Run kNtscTv[] = {
    Series("", 2, 4, 55250, 6000),  Series("", 5, 6, 77250, 6000),
    Series("", 7, 13, 175250, 6000), Series("", 14, 69, 471250, 6000),
};
constexpr Run kNtscCatv[] = {
    Series("", 1, 1, 73250, 0),       Series("", 2, 4, 55250, 6000),    Series("", 5, 6, 77250, 6000),
    Series("", 7, 13, 175250, 6000),  Series("", 14, 22, 121250, 6000),  // midband
    Series("", 23, 94, 217250, 6000),  // superband and hyperband
    Series("", 95, 99, 91250, 6000),   // the FM gap
    Series("", 100, 125, 649250, 6000),
};
constexpr Table<Count(kNtscTv)> kNtscTvTable{kNtscTv};
constexpr Table<Count(kNtscCatv)> kNtscCatvTable{kNtscCatv};

// ---- Japan: NTSC-J, 6 MHz; channels 7 and 8 overlap by 2 MHz ----
constexpr Run kJpVhf[] = {
    Series("", 1, 3, 91250, 6000), Series("", 4, 7, 171250, 6000), Series("", 8, 12, 193250, 6000),
};
constexpr Run kJpUhf[] = {Series("", 13, 62, 471250, 6000)};
constexpr Run kJpCable[] = {
    Series("C", 13, 21, 109250, 6000), One("C22", 22, 165250),  // 2 MHz gap before C22
    Series("C", 23, 63, 223250, 6000),
};
constexpr Table<Count(kJpVhf, kJpUhf)> kJpTvTable{kJpVhf, kJpUhf};
constexpr Table<Count(kJpVhf, kJpCable)> kJpCatvTable{kJpVhf, kJpCable};

// ---- Western Europe: CCIR B/G, 7 MHz VHF, 8 MHz UHF; cable S channels ----
constexpr Run kEuTv[] = {
    Series("E", 2, 4, 48250, 7000), Series("E", 5, 12, 175250, 7000), Series("E", 21, 69, 471250, 8000),
};
constexpr Run kEuCable[] = {
    CableSeries("S", 1, 10, 105250, 7000),   // midband
    CableSeries("S", 11, 20, 231250, 7000),  // superband
    CableSeries("S", 21, 41, 303250, 8000),  // hyperband
};
constexpr Table<Count(kEuTv)> kEuTvTable{kEuTv};
constexpr Table<Count(kEuTv, kEuCable)> kEuCatvTable{kEuTv, kEuCable};

// ---- UK and Ireland: System I, 8 MHz; Ireland's lettered VHF channels ----
// A..C take the numbers of the Band I channels E2..E4, D..J those of Band III from E5 on.
constexpr Run kUkTv[] = {
    One("A", 2, 45750),  One("B", 3, 53750),  One("C", 4, 61750),  One("D", 5, 175250), One("E", 6, 183250),
    One("F", 7, 191250), One("G", 8, 199250), One("H", 9, 207250), One("I", 10, 215250), One("J", 11, 223250),
    Series("", 21, 69, 471250, 8000),
};
constexpr Table<Count(kUkTv)> kUkTvTable{kUkTv};

// ---- France: System L, 8 MHz (band I channels are L', sound below vision) ----
constexpr Run kFrTv[] = {
    One("L2", 2, 55750), One("L3", 3, 60500), One("L4", 4, 63750), Series("L", 5, 10, 176000, 8000),
    Series("", 21, 69, 471250, 8000),
};
// Only the 8 MHz hyperband: System L does not fit the 7 MHz S1..S20 raster.
constexpr Run kFrCable[] = {CableSeries("S", 21, 41, 303250, 8000)};
constexpr Table<Count(kFrTv)> kFrTvTable{kFrTv};
constexpr Table<Count(kFrTv, kFrCable)> kFrCatvTable{kFrTv, kFrCable};

// ---- Eastern Europe: OIRT D/K, 8 MHz; cable SR channels ----
constexpr Run kOirtTv[] = {
    One("R1", 1, 49750),  One("R2", 2, 59250),  Series("R", 3, 5, 77250, 8000),
    Series("R", 6, 12, 175250, 8000), Series("R", 21, 69, 471250, 8000),
};
constexpr Run kOirtCable[] = {CableSeries("SR", 1, 8, 111250, 8000), CableSeries("SR", 11, 40, 231250, 8000)};
constexpr Table<Count(kOirtTv)> kOirtTvTable{kOirtTv};
constexpr Table<Count(kOirtTv, kOirtCable)> kOirtCatvTable{kOirtTv, kOirtCable};

// ---- China: D/K, 8 MHz; cable Z (增补) channels ----
constexpr Run kCnTv[] = {
    Series("DS-", 1, 3, 49750, 8000),    Series("DS-", 4, 5, 77250, 8000),   Series("DS-", 6, 12, 168250, 8000),
    Series("DS-", 13, 24, 471250, 8000), Series("DS-", 25, 68, 607250, 8000),  // 566..606 MHz left out
};
constexpr Run kCnCable[] = {CableSeries("Z-", 1, 7, 112250, 8000), CableSeries("Z-", 8, 37, 224250, 8000)};
constexpr Table<Count(kCnTv)> kCnTvTable{kCnTv};
constexpr Table<Count(kCnTv, kCnCable)> kCnCatvTable{kCnTv, kCnCable};

// ---- Australia: B/G, 7 MHz; 5A and 9A take the first free numbers after 12, in carrier order ----
constexpr Run kAuTv[] = {
    One("0", 0, 46250),   One("1", 1, 57250),  One("2", 2, 64250),  One("3", 3, 86250),
    One("4", 4, 95250),   One("5", 5, 102250), One("5A", 13, 138250), Series("", 6, 9, 175250, 7000),
    One("9A", 14, 203250), Series("", 10, 12, 210250, 7000),
    Series("", 28, 69, 527250, 7000),
};
constexpr Table<Count(kAuTv)> kAuTvTable{kAuTv};

constexpr ChannelPlan kKrTvPlan = Plan("KR-TV", kNtscTvTable);
constexpr ChannelPlan kKrCatvPlan = Plan("KR-CATV", kNtscCatvTable);
constexpr ChannelPlan kUsTvPlan = Plan("US-TV", kNtscTvTable);
constexpr ChannelPlan kUsCatvPlan = Plan("US-CATV", kNtscCatvTable);
constexpr ChannelPlan kJpTvPlan = Plan("JP-TV", kJpTvTable);
constexpr ChannelPlan kJpCatvPlan = Plan("JP-CATV", kJpCatvTable);
constexpr ChannelPlan kEuTvPlan = Plan("EU-TV", kEuTvTable);
constexpr ChannelPlan kEuCatvPlan = Plan("EU-CATV", kEuCatvTable);
constexpr ChannelPlan kUkTvPlan = Plan("UK-TV", kUkTvTable);
constexpr ChannelPlan kUkCatvPlan = Plan("UK-CATV", kUkTvTable);  // no separate published cable plan
constexpr ChannelPlan kFrTvPlan = Plan("FR-TV", kFrTvTable);
constexpr ChannelPlan kFrCatvPlan = Plan("FR-CATV", kFrCatvTable);
constexpr ChannelPlan kOirtTvPlan = Plan("OIRT-TV", kOirtTvTable);
constexpr ChannelPlan kOirtCatvPlan = Plan("OIRT-CATV", kOirtCatvTable);
constexpr ChannelPlan kCnTvPlan = Plan("CN-TV", kCnTvTable);
constexpr ChannelPlan kCnCatvPlan = Plan("CN-CATV", kCnCatvTable);
constexpr ChannelPlan kAuTvPlan = Plan("AU-TV", kAuTvTable);
constexpr ChannelPlan kAuCatvPlan = Plan("AU-CATV", kAuTvTable);  // no separate published cable plan

constexpr Region kRegions[] = {
    {"KR", "NTSC-M-KR", &kKrTvPlan, &kKrCatvPlan},
    {"US", "NTSC-M", &kUsTvPlan, &kUsCatvPlan},
    {"JP", "NTSC-J", &kJpTvPlan, &kJpCatvPlan},
    {"EU", "PAL-BG", &kEuTvPlan, &kEuCatvPlan},
    {"UK", "PAL-I", &kUkTvPlan, &kUkCatvPlan},
    {"FR", "SECAM-L", &kFrTvPlan, &kFrCatvPlan},
    {"OIRT", "SECAM-DK", &kOirtTvPlan, &kOirtCatvPlan},
    {"CN", "PAL-DK", &kCnTvPlan, &kCnCatvPlan},
    {"AU", "PAL-BG", &kAuTvPlan, &kAuCatvPlan},
};

constexpr TvStandard kStandards[] = {
    {kAutoStandard, "auto"},    {"NTSC-M", "NTSC-M"},     {"NTSC-M-KR", "NTSC-M (Korea)"},
    {"NTSC-J", "NTSC-J"},       {"NTSC-443", "NTSC-4.43"}, {"PAL-BG", "PAL-B/G"},
    {"PAL-DK", "PAL-D/K"},      {"PAL-I", "PAL-I"},       {"PAL-M", "PAL-M"},
    {"PAL-N", "PAL-N"},         {"PAL-NC", "PAL-Nc"},     {"PAL-60", "PAL-60"},
    {"SECAM-BG", "SECAM-B/G"},  {"SECAM-DK", "SECAM-D/K"}, {"SECAM-L", "SECAM-L"},
};

}  // namespace

std::span<const Region> Regions() { return kRegions; }

const Region* FindRegion(std::string_view code) {
  for (const Region& r : kRegions)
    if (code == r.code) return &r;
  return nullptr;
}

const Region& RegionOrDefault(std::string_view code) {
  const Region* r = FindRegion(code);
  return r ? *r : kRegions[0];
}

const PlanChannel* FindChannel(const ChannelPlan& plan, int number) {
  const auto it = std::lower_bound(plan.channels.begin(), plan.channels.end(), number,
                                   [](const PlanChannel& c, int n) { return c.number < n; });
  return it != plan.channels.end() && it->number == number ? &*it : nullptr;
}

const PlanChannel* NearestChannel(const ChannelPlan& plan, int kHz, int toleranceKHz) {
  const PlanChannel* best = nullptr;
  int bestDistance = toleranceKHz + 1;
  for (const PlanChannel& c : plan.channels) {
    const int d = c.visualKHz > kHz ? c.visualKHz - kHz : kHz - c.visualKHz;
    if (d < bestDistance) {
      bestDistance = d;
      best = &c;
    }
  }
  return best;
}

std::span<const TvStandard> Standards() { return kStandards; }

const TvStandard* FindStandard(std::string_view key) {
  for (const TvStandard& s : kStandards)
    if (key == s.key) return &s;
  return nullptr;
}

const Region& RegionForLocale(std::string_view locale) {
  // "ll_TT.charset@modifier": the language and the territory.
  locale = locale.substr(0, locale.find_first_of(".@"));
  const std::size_t bar = locale.find('_');
  const std::string_view language = locale.substr(0, bar);
  const std::string_view territory = bar == std::string_view::npos ? "" : locale.substr(bar + 1);
  struct Match { const char* locale; const char* region; };
  // Whole locales first, then languages spoken in one region whatever the territory.
  static constexpr Match kLocales[] = {{"en_US", "US"}, {"en_GB", "UK"}, {"en_IE", "UK"}, {"zh_CN", "CN"},
                                       {"en_AU", "AU"}, {"en_NZ", "AU"}, {"fr_FR", "FR"}};
  static constexpr Match kLanguages[] = {{"ko", "KR"}, {"ja", "JP"}, {"ru", "OIRT"}, {"uk", "OIRT"}, {"be", "OIRT"}};
  for (const Match& m : kLocales)
    if (locale == m.locale) return *FindRegion(m.region);
  for (const Match& m : kLanguages)
    if (language == m.locale) return *FindRegion(m.region);
  // The rest of Europe: by territory where the locale names one, else by language.
  static constexpr std::string_view kEuropeanTerritories[] = {
      "AD", "AL", "AT", "BA", "BE", "BG", "CH", "CY", "CZ", "DE", "DK", "EE", "ES", "FI", "FO", "FR", "GR",
      "HR", "HU", "IS", "IT", "LI", "LT", "LU", "LV", "MC", "MD", "ME", "MK", "MT", "NL", "NO", "PL", "PT",
      "RO", "RS", "SE", "SI", "SK", "SM", "VA", "XK"};
  static constexpr std::string_view kEuropeanLanguages[] = {
      "bg", "bs", "ca", "cs", "cy", "da", "de", "el", "es", "et", "eu", "fi", "fo", "fr", "fy", "ga", "gl",
      "hr", "hu", "is", "it", "lb", "lt", "lv", "mk", "mt", "nb", "nl", "nn", "no", "pl", "pt", "rm", "ro",
      "sk", "sl", "sq", "sr", "sv"};
  const bool european = territory.empty() ? std::ranges::count(kEuropeanLanguages, language) > 0
                                            : std::ranges::count(kEuropeanTerritories, territory) > 0;
  return european ? *FindRegion("EU") : kRegions[0];
}

namespace {
std::string ReadProfile(const char* name) {
  char value[32] = {};
  GetProfileStringA(kProfileSection, name, "", value, sizeof value);
  return value;
}
}  // namespace

const Region& StoredRegion() {
  const Region* r = FindRegion(ReadProfile("Region"));
  return r ? *r : RegionForLocale(GetUserLocaleName());
}

const TvStandard& StoredStandard() {
  const TvStandard* s = FindStandard(ReadProfile("Standard"));
  return s ? *s : kStandards[0];
}

void StoreRegionAndStandard(const Region& region, const TvStandard& standard) {
  WriteProfileStringA(kProfileSection, "Region", region.code);
  WriteProfileStringA(kProfileSection, "Standard", standard.key);
}

}  // namespace orv::plans

// Channel plans of the regions the tuner serves: for each, a broadcast (aerial) plan on the panel's
// channel numbers 0..69 and a cable plan on 0..125, each channel with its name and visual (picture)
// carrier in kHz. A number a plan does not have is simply absent; see docs/channel-plans.md for the sources and
// for how lettered channels (E5, S21, R3, A..J, 5A) get their numbers.
#pragma once

#include <span>
#include <string_view>

namespace orv::plans {

// The panel's channel lists: broadcast numbers 0..69, cable numbers 0..125.
inline constexpr int kLastBroadcastNumber = 69;
inline constexpr int kLastCableNumber = 125;
// A tuned frequency names a channel when it lies this close to its visual carrier.
inline constexpr int kChannelToleranceKHz = 3000;

struct PlanChannel {
  int number;        // the panel's channel number
  const char* name;  // as the plan names it ("E5", "S21", "J", "5A", "34")
  int visualKHz;
};

struct ChannelPlan {
  const char* id;    // "KR-TV", "EU-CATV", ...
  int first, last;   // lowest and highest number the plan has
  std::span<const PlanChannel> channels;  // sorted by number
};

struct Region {
  const char* code;        // "KR", "US", "JP", "EU", "UK", "FR", "OIRT", "CN", "AU"
  const char* standard;    // the region's usual TV standard key ("NTSC-M-KR", "PAL-BG", ...)
  const ChannelPlan* broadcast;
  const ChannelPlan* cable;
};

// Every region, in the order the device page lists them; Korea first.
std::span<const Region> Regions();
// nullptr for an unknown code.
const Region* FindRegion(std::string_view code);
// Missing or unknown codes mean Korea, so settings written before regions existed keep today's plans.
const Region& RegionOrDefault(std::string_view code);

// nullptr when the plan has no such channel.
const PlanChannel* FindChannel(const ChannelPlan& plan, int number);
// The channel whose visual carrier lies nearest kHz, if within toleranceKHz; else nullptr.
const PlanChannel* NearestChannel(const ChannelPlan& plan, int kHz, int toleranceKHz = kChannelToleranceKHz);

// ---- TV standards ----------------------------------------------------------------------------------
// "auto" first, then the standards in the device page's order; key as stored ("Standard" in win.ini).
struct TvStandard {
  const char* key;
  const char* name;  // as the device page lists it (auto has a word in each language instead)
};
inline constexpr const char* kAutoStandard = "auto";
std::span<const TvStandard> Standards();
// nullptr for an unknown key.
const TvStandard* FindStandard(std::string_view key);

// The region a locale ("en_GB.UTF-8", "ru", "C") most likely lives in: Korea for Korean locales and
// for anything not known.
const Region& RegionForLocale(std::string_view locale);

// ---- Stored choice ("Region" and "Standard" in win.ini's [orvane]) ------------------------------
// A missing or unknown region is the user's locale's, so Korean users keep Korea's plans; a missing
// or unknown standard is "auto".
const Region& StoredRegion();
const TvStandard& StoredStandard();
void StoreRegionAndStandard(const Region& region, const TvStandard& standard);

}  // namespace orv::plans

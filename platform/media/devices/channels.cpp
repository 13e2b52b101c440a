// Channel plans of the tuner: the broadcast plan (antenna) and the standard cable plan (cable), as
// used in Korea with the North American numbering, and the TV standard they broadcast in. Visual
// carrier frequencies in kHz.
#include "platform/media/devices/channels.h"

#include <algorithm>
#include <cstdlib>
#include <linux/videodev2.h>

namespace orv::media {
namespace {

// Channels first..last, 6 MHz apart from the first one's carrier.
struct Band {
  LONG first, last;
  std::uint32_t kHz;
};

constexpr Band kAntenna[] = {
    {2, 4, 55250},     // VHF low
    {5, 6, 77250},
    {7, 13, 175250},   // VHF high
    {14, 69, 471250},  // UHF
};

constexpr Band kCable[] = {
    {1, 1, 73250},
    {2, 4, 55250},
    {5, 6, 77250},
    {7, 13, 175250},
    {14, 22, 121250},   // midband
    {23, 94, 217250},   // superband and hyperband
    {95, 99, 91250},    // the FM gap
    {100, 125, 649250},
};

template <std::size_t N>
std::uint32_t Lookup(const Band (&bands)[N], LONG channel) {
  for (const Band& b : bands)
    if (channel >= b.first && channel <= b.last) return b.kHz + static_cast<std::uint32_t>(channel - b.first) * 6000;
  return 0;
}

}  // namespace

void PlanRange(TunerInputType plan, LONG* min, LONG* max) {
  *min = plan == TunerInputAntenna ? 2 : 1;
  *max = plan == TunerInputAntenna ? 69 : 125;
}

std::uint32_t ChannelToKHz(TunerInputType plan, LONG channel) {
  return plan == TunerInputAntenna ? Lookup(kAntenna, channel) : Lookup(kCable, channel);
}

LONG KHzToChannel(TunerInputType plan, std::uint32_t kHz) {
  LONG min, max, best = 0;
  PlanRange(plan, &min, &max);
  long bestDistance = 3000;
  for (LONG ch = min; ch <= max; ++ch) {
    const long d = std::labs(static_cast<long>(ChannelToKHz(plan, ch)) - static_cast<long>(kHz));
    if (d < bestDistance) {
      bestDistance = d;
      best = ch;
    }
  }
  return best;
}

void TunerPlans::Set(TunerInputType type, const TunerChannel* channels, LONG count) {
  std::vector<TunerChannel>& plan = type == TunerInputAntenna ? m_antenna : m_cable;
  plan.assign(channels, channels + std::max<LONG>(count, 0));
  (type == TunerInputAntenna ? m_hasAntenna : m_hasCable) = true;
}

const std::vector<TunerChannel>* TunerPlans::Custom(TunerInputType type) const {
  if (type == TunerInputAntenna) return m_hasAntenna ? &m_antenna : nullptr;
  return m_hasCable ? &m_cable : nullptr;
}

void TunerPlans::Range(TunerInputType type, LONG* min, LONG* max) const {
  const auto* plan = Custom(type);
  if (!plan) return PlanRange(type, min, max);
  // An empty plan has no channel: a range the scan never enters.
  *min = plan->empty() ? 1 : plan->front().number;
  *max = plan->empty() ? 0 : plan->back().number;
}

std::uint32_t TunerPlans::ToKHz(TunerInputType type, LONG channel) const {
  const auto* plan = Custom(type);
  if (!plan) return ChannelToKHz(type, channel);
  for (const TunerChannel& c : *plan)
    if (c.number == channel) return c.kHz;
  return 0;
}

std::uint32_t KHzToTunerUnits(std::uint32_t kHz, bool lowUnits) {
  // 62.5 kHz = 125/2 kHz; 62.5 Hz units are 16 per kHz.
  return lowUnits ? kHz * 16 : static_cast<std::uint32_t>((static_cast<std::uint64_t>(kHz) * 2 + 62) / 125);
}

std::uint32_t TunerUnitsToKHz(std::uint32_t units, bool lowUnits) {
  return lowUnits ? (units + 8) / 16 : static_cast<std::uint32_t>((static_cast<std::uint64_t>(units) * 125 + 1) / 2);
}

StdMask PlanStandard(TunerInputType) { return V4L2_STD_NTSC_M; }

StdMask StandardOfKey(std::string_view key) {
  static constexpr struct {
    std::string_view key;
    StdMask mask;
  } kKeys[] = {
      {"NTSC-M", V4L2_STD_NTSC_M},   {"NTSC-M-KR", V4L2_STD_NTSC_M_KR},
      {"NTSC-J", V4L2_STD_NTSC_M_JP}, {"NTSC-443", V4L2_STD_NTSC_443},
      {"PAL-BG", V4L2_STD_PAL_BG},   {"PAL-DK", V4L2_STD_PAL_DK},
      {"PAL-I", V4L2_STD_PAL_I},     {"PAL-M", V4L2_STD_PAL_M},
      {"PAL-N", V4L2_STD_PAL_N},     {"PAL-NC", V4L2_STD_PAL_Nc},
      {"PAL-60", V4L2_STD_PAL_60},   {"SECAM-BG", V4L2_STD_SECAM_B | V4L2_STD_SECAM_G},
      {"SECAM-DK", V4L2_STD_SECAM_DK}, {"SECAM-L", V4L2_STD_SECAM_L},
  };
  for (const auto& k : kKeys)
    if (k.key == key) return k.mask;
  return 0;
}

std::uint32_t StandardLines(StdMask standard) { return (standard & V4L2_STD_525_60) ? 480 : 576; }

REFERENCE_TIME StandardPeriod(StdMask standard) { return (standard & V4L2_STD_525_60) ? 333667 : 400000; }

LONG StandardScanLines(StdMask standard) { return (standard & V4L2_STD_525_60) ? 525 : 625; }

AM_FIELD_ORDER InterlacedFieldOrder(StdMask standard) {
  return (standard & V4L2_STD_525_60) ? AM_FIELDS_BOTTOM_FIRST : AM_FIELDS_TOP_FIRST;
}

}  // namespace orv::media

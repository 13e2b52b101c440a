// Channel plans of the tuner: the broadcast plan (antenna) and the standard cable plan (cable), as
// used in Korea with the North American numbering, and the TV standard they broadcast in. Visual
// carrier frequencies in kHz.
#include "platform/media/devices/channels.h"

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

std::uint32_t KHzToTunerUnits(std::uint32_t kHz, bool lowUnits) {
  // 62.5 kHz = 125/2 kHz; 62.5 Hz units are 16 per kHz.
  return lowUnits ? kHz * 16 : static_cast<std::uint32_t>((static_cast<std::uint64_t>(kHz) * 2 + 62) / 125);
}

std::uint32_t TunerUnitsToKHz(std::uint32_t units, bool lowUnits) {
  return lowUnits ? (units + 8) / 16 : static_cast<std::uint32_t>((static_cast<std::uint64_t>(units) * 125 + 1) / 2);
}

StdMask PlanStandard(TunerInputType) { return V4L2_STD_NTSC_M; }

std::uint32_t StandardLines(StdMask standard) { return (standard & V4L2_STD_525_60) ? 480 : 576; }

REFERENCE_TIME StandardPeriod(StdMask standard) { return (standard & V4L2_STD_525_60) ? 333667 : 400000; }

}  // namespace orv::media

// Internal: the tuner's channel plans (the broadcast plan on the antenna, the standard cable plan)
// and the TV standards they and a card's inputs use.
#pragma once

#include "platform/media/com/dshow.h"

#include <cstdint>
#include <string_view>
#include <vector>

namespace orv::media {

// ---- Channel plans --------------------------------------------------------------------------------
// Antenna: broadcast channels 2..69; cable: standard cable channels 1..125. Visual carriers in kHz.
void PlanRange(TunerInputType plan, LONG* min, LONG* max);
// 0 for a channel outside the plan.
std::uint32_t ChannelToKHz(TunerInputType plan, LONG channel);
// The plan's channel whose carrier lies nearest to kHz, if within half a channel (3 MHz); else 0.
LONG KHzToChannel(TunerInputType plan, std::uint32_t kHz);
// A card's plans: the ones above until the program hands it its region's (IAMTunerPlan).
class TunerPlans {
 public:
  void Set(TunerInputType type, const TunerChannel* channels, LONG count);
  void Range(TunerInputType type, LONG* min, LONG* max) const;
  // 0 for a channel the plan lacks.
  std::uint32_t ToKHz(TunerInputType type, LONG channel) const;

 private:
  const std::vector<TunerChannel>* Custom(TunerInputType type) const;
  std::vector<TunerChannel> m_antenna, m_cable;
  bool m_hasAntenna = false, m_hasCable = false;
};
// Tuner frequency units: 62.5 kHz, or 62.5 Hz for a tuner with V4L2_TUNER_CAP_LOW.
std::uint32_t KHzToTunerUnits(std::uint32_t kHz, bool lowUnits);
std::uint32_t TunerUnitsToKHz(std::uint32_t units, bool lowUnits);

// ---- TV standards ---------------------------------------------------------------------------------
// A set of standards as V4L2 masks them (v4l2_std_id).
using StdMask = std::uint64_t;
// The standard the plan's stations broadcast in.
StdMask PlanStandard(TunerInputType plan);
// The standards a stored key ("PAL-BG", ...) names; 0 for "auto" and unknown keys.
StdMask StandardOfKey(std::string_view key);
// Picture lines (480 for the 525-line standards, else 576) and frame duration in 100 ns units.
std::uint32_t StandardLines(StdMask standard);
REFERENCE_TIME StandardPeriod(StdMask standard);
// The width of a card's picture at the standard's own size (ITU-R BT.601).
constexpr LONG kStandardWidth = 720;
// The standard's scan lines: 525 or 625.
LONG StandardScanLines(StdMask standard);
// How a card's interlaced picture of the standard comes: bottom field first on 525 lines, top
// field first on 625 (as V4L2 has V4L2_FIELD_INTERLACED).
AM_FIELD_ORDER InterlacedFieldOrder(StdMask standard);

}  // namespace orv::media

// The virtual card's JSON description: the input is the text of ORVANE_VIRTUAL_CARD. A refused
// description must say why; an accepted one must hold what the card built from it relies on.
#include "platform/media/devices/carddesc.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

[[noreturn]] void Fail(const char* why) {
  std::fprintf(stderr, "card description: %s\n", why);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace orv::media;
  std::string error;
  const auto set = ParseCardSet(std::string(reinterpret_cast<const char*>(data), size), &error);
  if (!set) {
    if (error.empty()) Fail("refused without a reason");
    return 0;
  }
  for (const DeviceDesc& d : set->devices) {
    for (const CrossbarDesc& x : d.crossbars) {
      if (x.outputs.empty()) Fail("a crossbar without outputs");
      for (const auto* side : {&x.inputs, &x.outputs})
        for (const CrossbarPinDesc& p : *side)
          if (p.related < -1 || p.related >= static_cast<LONG>(side->size())) Fail("a pin related to no pin");
    }
    for (const ProcAmpRange& r : d.procAmp)
      if (r.present && (r.min > r.max || r.def < r.min || r.def > r.max || r.step < 1))
        Fail("a picture control whose default or step lies outside its range");
    if (d.tuner && (d.tuner->antennaMin > d.tuner->antennaMax || d.tuner->cableMin > d.tuner->cableMax))
      Fail("a tuner whose first channel lies above its last");
    if (d.format.width <= 0 || d.format.height <= 0 || d.format.avgTimePerFrame <= 0) Fail("an empty picture format");
    if (d.analogInFrom == "tuner" && !d.tuner) Fail("the video input fed by a tuner the card lacks");
    if (d.lumaMin < 0 || d.lumaMin > d.lumaMax || d.lumaMax > 255) Fail("a luma range outside the codes or upside down");
    for (double scale : d.toneScale)
      if (!(scale > 0 && scale <= 1)) Fail("a tone louder than full scale or of no level");
  }
  return 0;
}

// The smart tee: preview from a capture pin.
#include "platform/media/graph/graph.h"

#include <cstdio>

namespace orv::media {
namespace {

class SmartTee : public FilterBase {
 public:
  SmartTee() : FilterBase(CLSID_SmartTee, "SmartTee", "SmartTee") {
    AddPin({"Input", PINDIR_INPUT, GUID_NULL, GUID_NULL, false, false, nullptr});
    // Each branch can be held back on its own: stream control belongs to the outputs here.
    AddPin({"Capture", PINDIR_OUTPUT, PIN_CATEGORY_CAPTURE, GUID_NULL, false, true, nullptr});
    AddPin({"Preview", PINDIR_OUTPUT, PIN_CATEGORY_PREVIEW, GUID_NULL, false, true, nullptr});
  }
  // The same sample to both branches; the renderer copies what it keeps. What the capture branch
  // made of it is what the source learns, so that its frame counts are the recording's.
  Delivery Take(PinBase*, const MediaSample& sample) override {
    PinAt(2)->Send(sample);
    return PinAt(1)->Send(sample);
  }
};

}  // namespace

ComPtr<IBaseFilter> NewSmartTee() { return static_cast<IBaseFilter*>(new SmartTee); }

}  // namespace orv::media

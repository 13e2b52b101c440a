// The device layer as tests see it: the virtual cards' description and state, and the seams under
// a real card's calls (V4L2 and ALSA) where a test plays the device.
#pragma once

#include "platform/media/devices/alsacapture.h"
#include "platform/media/devices/v4l2device.h"

#include <string>
#include <vector>

namespace orv::media {

// Re-reads ORVANE_DEVICES and ORVANE_VIRTUAL_CARD (a file name, or the JSON text itself when it
// starts with '{'), powers the virtual cards on afresh and replaces every injected fault with the
// description's. Happens by itself when either variable changes.
void ReloadDevices();

// Why the last description was refused ("" when it was fine); a refused one gives the default card.
std::string DeviceLoadError();

int VirtualDeviceCount();

// The hardware state of virtual card `device` (0-based among the virtual cards).
struct VirtualCardState {
  std::vector<std::vector<LONG>> routes;  // [crossbar][output]: input routed to it, -1 for none
  LONG tunerChannel = 0;
  LONG tunerInputType = 0;
  LONG procAmp[4] = {};  // brightness, contrast, hue, saturation
  ULONG tunerKHz = 0;      // the tuned channel's carrier in the plan the program gave; 0 before one
  std::string standard;    // the standard key in force; "" while the program set none
};
bool GetVirtualCardState(int device, VirtualCardState* out);

// Live objects, to check that references balance.
int LiveFilters();
int LiveMediaObjects();

// The ALSA calls in use from now on: a test's (it must outlive their use), or null for libasound's.
void SetAlsaCallsForTests(const AlsaCalls* calls);

// The capture filter of the card at node, reached through calls, outside the device list.
HRESULT CreateV4l2Capture(const VideoNode& node, V4l2Calls calls, IBaseFilter** out);

// Real cards' VBI devices read raw lines (sliced here) even where the driver slices them itself.
void SetRawVbiForTests(bool raw);

}  // namespace orv::media

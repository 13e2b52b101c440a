// The virtual capture card as tests see it: loading its description and reading its state.
#pragma once

#include "platform/wintypes.h"

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
};
bool GetVirtualCardState(int device, VirtualCardState* out);

// Live objects, to check that references balance.
int LiveFilters();
int LiveMediaObjects();

}  // namespace orv::media

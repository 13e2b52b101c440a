// Hooks for tests of the mixer functions and of the code above them; the program never calls them.
#pragma once

#include "platform/mixer/device.h"

#include <memory>
#include <vector>

namespace orv::mixer {

// A fresh virtual mixer of the given shape, and the device list enumerated again.
void ResetVirtualMixerForTests(const VirtualMixerShape& shape = {});
// The device list is these devices until the next reset. Open handles keep the device they were
// opened on.
void InstallDevicesForTests(std::vector<std::shared_ptr<Device>> devices);
void ResetDevicesForTests();  // the next use enumerates again
int OpenHandleCountForTests();

}  // namespace orv::mixer

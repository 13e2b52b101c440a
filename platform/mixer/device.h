// The devices behind the mixer functions: a small model of lines and controls that the ALSA backend
// and the virtual mixer provide. Qt- and ALSA-free, so tests can build devices of their own.
#pragma once

#include "platform/mixer/mmsystem.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace orv::mixer {

// dwSource of a destination line.
constexpr DWORD kNoSource = 0xFFFFFFFF;

struct ControlDesc {
  DWORD id = 0;        // never 0: 0 is what callers get for a control that does not exist
  DWORD type = 0;      // MIXERCONTROL_CONTROLTYPE_...
  DWORD channels = 1;  // values the control holds; 1 for a uniform control
  DWORD minimum = 0;
  DWORD maximum = 0;
  DWORD steps = 0;
  std::string name;
};

struct LineDesc {
  DWORD destination = 0;
  DWORD source = kNoSource;
  DWORD lineId = 0;  // never 0, for the same reason as control ids
  DWORD componentType = 0;
  DWORD channels = 1;
  std::string name;
  std::vector<ControlDesc> controls;
};

class Device {
 public:
  virtual ~Device() = default;
  virtual std::string Name() const = 0;
  // The virtual mixer: its levels reach no speakers, so the program applies them itself.
  virtual bool IsVirtual() const { return false; }
  // Destinations in index order, then the sources of each destination in index order.
  virtual std::vector<LineDesc> Lines() const = 0;
  // count is the control's channel count; values are in the control's bounds.
  virtual MMRESULT Read(DWORD controlId, DWORD* values, DWORD count) = 0;
  virtual MMRESULT Write(DWORD controlId, const DWORD* values, DWORD count) = 0;

  // Called with the control id whenever a control's value changed, whoever changed it.
  using ChangeHandler = std::function<void(Device*, DWORD controlId)>;
  void SetChangeHandler(ChangeHandler handler) { onChange_ = std::move(handler); }

 protected:
  void Changed(DWORD controlId) {
    if (onChange_) onChange_(this, controlId);
  }

 private:
  ChangeHandler onChange_;
};

// ---- Device list ------------------------------------------------------------------------------
// Device 0 is the first ALSA card with a playback master element; without one (or with
// ORVANE_MIXER=virtual) the virtual mixer alone. The list is built on first use.

// Every ALSA card that has a playback volume element, in card order (empty without sound cards).
std::vector<std::shared_ptr<Device>> OpenAlsaCards();

// Shape of the virtual mixer. Without speakers its destination is headphones, so the sources
// still have a destination to feed.
struct VirtualMixerShape {
  bool speakers = true;
  bool lineIn = true;
  bool auxiliary = true;
};
// The process's virtual mixer (shared state for every handle).
std::shared_ptr<Device> VirtualMixer();

}  // namespace orv::mixer

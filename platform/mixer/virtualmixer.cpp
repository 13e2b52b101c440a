// The virtual mixer: the program's mixer on machines without a sound card, and the tests' mixer.
#include "platform/mixer/elements.h"
#include "platform/mixer/testing.h"

#include <mutex>

namespace orv::mixer {

namespace {

// An element whose values live in memory, on the platform's own 0..65535 scale.
class MemoryElement : public Element {
 public:
  MemoryElement(std::string name, int channels, long volume)
      : name_(std::move(name)), volume_(static_cast<size_t>(channels), volume) {}
  std::string Name() const override { return name_; }
  bool HasVolume() const override { return true; }
  bool HasSwitch() const override { return true; }
  int Channels() const override { return static_cast<int>(volume_.size()); }
  void Range(long* min, long* max) const override {
    *min = 0;
    *max = 0xFFFF;
  }
  bool GetVolume(int channel, long* raw) const override {
    if (channel < 0 || channel >= Channels()) return false;
    *raw = volume_[static_cast<size_t>(channel)];
    return true;
  }
  bool SetVolume(int channel, long raw) override {
    if (channel < 0 || channel >= Channels()) return false;
    volume_[static_cast<size_t>(channel)] = raw;
    return true;
  }
  bool GetSwitch(int, bool* on) const override {
    *on = on_;
    return true;
  }
  bool SetSwitch(bool on) override {
    on_ = on;
    return true;
  }

 private:
  std::string name_;
  std::vector<long> volume_;
  bool on_ = true;
};

std::shared_ptr<Device> MakeVirtualMixer(const VirtualMixerShape& shape) {
  // A comfortable starting level, distinct from the extremes so tests see real changes.
  constexpr long kStartVolume = 0xC000;
  std::vector<std::unique_ptr<Element>> elements;
  elements.push_back(std::make_unique<MemoryElement>(shape.speakers ? "Master" : "Headphone", 2, kStartVolume));
  // The auxiliary source comes first, so the line-in is never found merely by being source 0.
  if (shape.auxiliary) elements.push_back(std::make_unique<MemoryElement>("Aux", 2, kStartVolume));
  if (shape.lineIn) elements.push_back(std::make_unique<MemoryElement>("Line", 2, kStartVolume));
  return std::make_shared<ElementMixer>("Orvane Virtual Mixer", std::move(elements),
                                        shape.speakers ? MIXERLINE_COMPONENTTYPE_DST_SPEAKERS
                                                       : MIXERLINE_COMPONENTTYPE_DST_HEADPHONES,
                                        true);
}

std::mutex g_mu;
std::shared_ptr<Device> g_virtual;

}  // namespace

std::shared_ptr<Device> VirtualMixer() {
  std::lock_guard lock(g_mu);
  if (!g_virtual) g_virtual = MakeVirtualMixer({});
  return g_virtual;
}

void ResetVirtualMixerForTests(const VirtualMixerShape& shape) {
  {
    std::lock_guard lock(g_mu);
    g_virtual = MakeVirtualMixer(shape);
  }
  ResetDevicesForTests();
}

}  // namespace orv::mixer

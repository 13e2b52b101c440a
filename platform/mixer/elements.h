// A mixer device made of simple-mixer style playback elements (a name, a raw volume range per
// channel, a playback switch). The ALSA backend wraps snd_mixer_selem_*; the virtual mixer keeps
// the values in memory; tests use their own elements to check the mapping without hardware.
#pragma once

#include "platform/mixer/device.h"

#include <memory>
#include <string>
#include <vector>

namespace orv::mixer {

class Element {
 public:
  virtual ~Element() = default;
  virtual std::string Name() const = 0;
  virtual bool HasVolume() const = 0;  // playback volume
  virtual bool HasSwitch() const = 0;  // playback switch
  virtual int Channels() const = 0;    // playback channels, at least 1
  virtual void Range(long* min, long* max) const = 0;
  virtual bool GetVolume(int channel, long* raw) const = 0;
  virtual bool SetVolume(int channel, long raw) = 0;
  virtual bool GetSwitch(int channel, bool* on) const = 0;
  virtual bool SetSwitch(bool on) = 0;  // every channel
};

// Linear mapping between the platform's 0..65535 and an element's raw range, rounded to nearest.
long ValueToRaw(DWORD value, long min, long max);
DWORD RawToValue(long raw, long min, long max);

// Which elements make the lines: indices into the element list, -1 for none.
struct ElementRoles {
  int speakers = -1;  // "Master", else the first element with a playback volume
  int lineIn = -1;    // "Line"
  int auxiliary = -1; // "Aux"
};
ElementRoles ChooseElements(const std::vector<const Element*>& elements);

// One destination (the speakers element) and its line-in and auxiliary sources, in element order.
// Volume: one value per channel, 0..65535. Mute: one uniform value, 1 when the playback switch is
// off; an element without a playback switch has no mute control.
class ElementMixer : public Device {
 public:
  // noticeOnWrite: a write announces its own change (the virtual mixer). ALSA announces changes
  // through its events instead, so that changes by other programs come the same way.
  ElementMixer(std::string name, std::vector<std::unique_ptr<Element>> elements, DWORD destinationType,
               bool noticeOnWrite);
  ~ElementMixer() override;

  bool HasDestination() const { return !lines_.empty(); }
  std::string Name() const override { return name_; }
  bool IsVirtual() const override { return noticeOnWrite_; }  // only the virtual mixer announces its writes
  std::vector<LineDesc> Lines() const override;
  MMRESULT Read(DWORD controlId, DWORD* values, DWORD count) override;
  MMRESULT Write(DWORD controlId, const DWORD* values, DWORD count) override;

  // The element's values may have changed: a notice for each control whose value differs from the
  // last one seen.
  void ElementChanged(const Element* element);
  Element* ElementAt(size_t i) { return elements_[i].get(); }
  size_t ElementCount() const { return elements_.size(); }

 private:
  struct Line {
    Element* element;
    LineDesc desc;
    DWORD volumeId = 0;
    DWORD muteId = 0;
    std::vector<DWORD> lastVolume;
    DWORD lastMute = 0;
  };
  bool ReadVolume(const Line& line, std::vector<DWORD>* out) const;
  bool ReadMute(const Line& line, DWORD* out) const;
  Line* FindControl(DWORD controlId, bool* isMute);

  std::string name_;
  std::vector<std::unique_ptr<Element>> elements_;
  std::vector<Line> lines_;
  bool noticeOnWrite_;
};

}  // namespace orv::mixer

#include "platform/mixer/elements.h"

#include <algorithm>

namespace orv::mixer {

namespace {
constexpr DWORD kFullVolume = 0xFFFF;
constexpr DWORD kDestinationLineId = 0xFFFF0000;
}  // namespace

long ValueToRaw(DWORD value, long min, long max) {
  if (max <= min) return min;
  const unsigned long long range = static_cast<unsigned long long>(max - min);
  const unsigned long long v = std::min<DWORD>(value, kFullVolume);
  return min + static_cast<long>((v * range + kFullVolume / 2) / kFullVolume);
}

DWORD RawToValue(long raw, long min, long max) {
  if (max <= min) return 0;
  raw = std::clamp(raw, min, max);
  const unsigned long long range = static_cast<unsigned long long>(max - min);
  const unsigned long long offset = static_cast<unsigned long long>(raw - min);
  return static_cast<DWORD>((offset * kFullVolume + range / 2) / range);
}

ElementRoles ChooseElements(const std::vector<const Element*>& elements) {
  ElementRoles r;
  auto named = [&](const char* name, bool needVolume) {
    for (size_t i = 0; i < elements.size(); ++i) {
      const Element* e = elements[i];
      if (e->Name() == name && (e->HasVolume() || (!needVolume && e->HasSwitch()))) return static_cast<int>(i);
    }
    return -1;
  };
  r.speakers = named("Master", true);
  if (r.speakers < 0) {
    for (size_t i = 0; i < elements.size(); ++i)
      if (elements[i]->HasVolume()) {
        r.speakers = static_cast<int>(i);
        break;
      }
  }
  // A source with only a switch still has a useful mute.
  r.lineIn = named("Line", false);
  r.auxiliary = named("Aux", false);
  if (r.lineIn == r.speakers) r.lineIn = -1;
  if (r.auxiliary == r.speakers) r.auxiliary = -1;
  return r;
}

ElementMixer::ElementMixer(std::string name, std::vector<std::unique_ptr<Element>> elements,
                           DWORD destinationType, bool noticeOnWrite)
    : name_(std::move(name)), elements_(std::move(elements)), noticeOnWrite_(noticeOnWrite) {
  std::vector<const Element*> view;
  for (const auto& e : elements_) view.push_back(e.get());
  const ElementRoles roles = ChooseElements(view);
  if (roles.speakers < 0) return;

  auto addLine = [&](int index, DWORD source, DWORD componentType) {
    Line line;
    line.element = elements_[index].get();
    const DWORD k = static_cast<DWORD>(lines_.size());
    line.desc.destination = 0;
    line.desc.source = source;
    line.desc.lineId = source == kNoSource ? kDestinationLineId : (source + 1) << 16;
    line.desc.componentType = componentType;
    line.desc.channels = static_cast<DWORD>(std::max(1, line.element->Channels()));
    line.desc.name = line.element->Name();
    if (line.element->HasVolume()) {
      line.volumeId = 2 * k + 1;
      line.desc.controls.push_back({line.volumeId, MIXERCONTROL_CONTROLTYPE_VOLUME, line.desc.channels, 0,
                                    kFullVolume, 0, line.desc.name + " Volume"});
      long mn = 0, mx = 0;
      line.element->Range(&mn, &mx);
      line.desc.controls.back().steps = static_cast<DWORD>(std::max(0L, mx - mn));
    }
    if (line.element->HasSwitch()) {
      line.muteId = 2 * k + 2;
      line.desc.controls.push_back({line.muteId, MIXERCONTROL_CONTROLTYPE_MUTE, 1, 0, 1, 0, line.desc.name + " Mute"});
    }
    ReadVolume(line, &line.lastVolume);
    ReadMute(line, &line.lastMute);
    lines_.push_back(std::move(line));
  };

  addLine(roles.speakers, kNoSource, destinationType);
  DWORD source = 0;
  for (int i = 0; i < static_cast<int>(elements_.size()); ++i) {
    if (i == roles.lineIn) addLine(i, source++, MIXERLINE_COMPONENTTYPE_SRC_LINE);
    if (i == roles.auxiliary) addLine(i, source++, MIXERLINE_COMPONENTTYPE_SRC_AUXILIARY);
  }
}

ElementMixer::~ElementMixer() = default;

std::vector<LineDesc> ElementMixer::Lines() const {
  std::vector<LineDesc> out;
  for (const auto& l : lines_) out.push_back(l.desc);
  return out;
}

bool ElementMixer::ReadVolume(const Line& line, std::vector<DWORD>* out) const {
  out->clear();
  if (!line.volumeId) return false;
  long mn = 0, mx = 0;
  line.element->Range(&mn, &mx);
  for (DWORD ch = 0; ch < line.desc.channels; ++ch) {
    long raw = 0;
    if (!line.element->GetVolume(static_cast<int>(ch), &raw)) return false;
    out->push_back(RawToValue(raw, mn, mx));
  }
  return true;
}

bool ElementMixer::ReadMute(const Line& line, DWORD* out) const {
  bool on = true;
  if (!line.muteId || !line.element->GetSwitch(0, &on)) return false;
  *out = on ? 0 : 1;
  return true;
}

ElementMixer::Line* ElementMixer::FindControl(DWORD controlId, bool* isMute) {
  for (auto& l : lines_) {
    if (controlId == l.volumeId) {
      *isMute = false;
      return &l;
    }
    if (controlId == l.muteId) {
      *isMute = true;
      return &l;
    }
  }
  return nullptr;
}

MMRESULT ElementMixer::Read(DWORD controlId, DWORD* values, DWORD count) {
  bool isMute = false;
  Line* line = controlId ? FindControl(controlId, &isMute) : nullptr;
  if (!line) return MIXERR_INVALCONTROL;
  if (isMute) {
    if (count != 1 || !ReadMute(*line, values)) return MMSYSERR_ERROR;
    return MMSYSERR_NOERROR;
  }
  std::vector<DWORD> v;
  if (count != line->desc.channels || !ReadVolume(*line, &v)) return MMSYSERR_ERROR;
  std::copy(v.begin(), v.end(), values);
  return MMSYSERR_NOERROR;
}

MMRESULT ElementMixer::Write(DWORD controlId, const DWORD* values, DWORD count) {
  bool isMute = false;
  Line* line = controlId ? FindControl(controlId, &isMute) : nullptr;
  if (!line) return MIXERR_INVALCONTROL;
  bool ok = true;
  if (isMute) {
    ok = count == 1 && line->element->SetSwitch(values[0] == 0);
  } else {
    if (count != line->desc.channels) return MMSYSERR_INVALPARAM;
    long mn = 0, mx = 0;
    line->element->Range(&mn, &mx);
    for (DWORD ch = 0; ch < count; ++ch)
      ok = line->element->SetVolume(static_cast<int>(ch), ValueToRaw(values[ch], mn, mx)) && ok;
  }
  if (noticeOnWrite_) ElementChanged(line->element);
  return ok ? MMSYSERR_NOERROR : MMSYSERR_ERROR;
}

void ElementMixer::ElementChanged(const Element* element) {
  for (auto& l : lines_) {
    if (l.element != element) continue;
    std::vector<DWORD> volume;
    if (ReadVolume(l, &volume) && volume != l.lastVolume) {
      l.lastVolume = volume;
      Changed(l.volumeId);
    }
    DWORD mute = 0;
    if (ReadMute(l, &mute) && mute != l.lastMute) {
      l.lastMute = mute;
      Changed(l.muteId);
    }
  }
}

}  // namespace orv::mixer

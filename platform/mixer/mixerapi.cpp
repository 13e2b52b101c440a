// The mixer functions over the device list: handles, line and control queries, values, notices.
#include "platform/mixer/device.h"
#include "platform/mixer/mmsystem.h"
#include "platform/ui/winuser.h"
#include "platform/mixer/testing.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>

namespace orv::mixer {
namespace {

struct OpenHandle {
  std::shared_ptr<Device> device;
  HWND notify = nullptr;
};

struct State {
  std::mutex mu;
  bool enumerated = false;
  std::vector<std::shared_ptr<Device>> devices;
  std::map<UINT_PTR, OpenHandle> handles;
  // Far above any device index, so a handle passed where an index may be is never mistaken.
  UINT_PTR nextHandle = 0x4D580001;
};

State& S() {
  static State* s = new State;  // lives to the end: notices may arrive during shutdown
  return *s;
}

void OnDeviceChange(Device* device, DWORD controlId) {
  std::vector<std::pair<UINT_PTR, HWND>> targets;
  {
    std::lock_guard lock(S().mu);
    for (const auto& [h, open] : S().handles)
      if (open.device.get() == device && open.notify) targets.emplace_back(h, open.notify);
  }
  for (const auto& [h, hwnd] : targets)
    PostMessageA(hwnd, MM_MIXM_CONTROL_CHANGE, static_cast<WPARAM>(h), static_cast<LPARAM>(controlId));
}

void AdoptDevices(std::vector<std::shared_ptr<Device>> devices) {
  for (auto& d : devices) d->SetChangeHandler(&OnDeviceChange);
  S().devices = std::move(devices);
  S().enumerated = true;
}

// Called with the lock held.
void EnsureDevices() {
  if (S().enumerated) return;
  std::vector<std::shared_ptr<Device>> devices;
  const char* which = std::getenv("ORVANE_MIXER");
  if (!(which && std::strcmp(which, "virtual") == 0)) devices = OpenAlsaCards();
  if (devices.empty()) devices.push_back(VirtualMixer());
  AdoptDevices(std::move(devices));
}

std::shared_ptr<Device> DeviceById(UINT_PTR id) {
  std::lock_guard lock(S().mu);
  EnsureDevices();
  if (id >= S().devices.size()) return nullptr;
  return S().devices[id];
}

std::shared_ptr<Device> DeviceByHandle(UINT_PTR h) {
  std::lock_guard lock(S().mu);
  auto it = S().handles.find(h);
  return it == S().handles.end() ? nullptr : it->second.device;
}

// The device an object names: an open handle, or a device identifier before a handle exists.
std::shared_ptr<Device> Resolve(HMIXEROBJ obj, DWORD flags, MMRESULT* err) {
  const UINT_PTR v = reinterpret_cast<UINT_PTR>(obj);
  std::shared_ptr<Device> d;
  switch (flags & MIXER_OBJECTF_TYPEMASK) {
    case MIXER_OBJECTF_HMIXER:
      d = DeviceByHandle(v);
      *err = d ? MMSYSERR_NOERROR : MMSYSERR_INVALHANDLE;
      return d;
    case MIXER_OBJECTF_MIXER:
      d = DeviceById(v);
      *err = d ? MMSYSERR_NOERROR : MMSYSERR_BADDEVICEID;
      return d;
    default:
      *err = MMSYSERR_INVALFLAG;  // wave and MIDI addressing are not offered
      return nullptr;
  }
}

void CopyName(char* dst, size_t size, const std::string& src) {
  std::memset(dst, 0, size);
  std::memcpy(dst, src.data(), std::min(src.size(), size - 1));
}

void FillLine(const Device& device, const std::vector<LineDesc>& all, const LineDesc& d, MIXERLINEA* out) {
  const DWORD cb = out->cbStruct;
  std::memset(out, 0, sizeof(*out));
  out->cbStruct = cb;
  out->dwDestination = d.destination;
  out->dwSource = d.source == kNoSource ? 0 : d.source;
  out->dwLineID = d.lineId;
  out->fdwLine = MIXERLINE_LINEF_ACTIVE | (d.source == kNoSource ? 0 : MIXERLINE_LINEF_SOURCE);
  out->dwComponentType = d.componentType;
  out->cChannels = d.channels;
  if (d.source == kNoSource)
    out->cConnections = static_cast<DWORD>(std::count_if(all.begin(), all.end(), [&](const LineDesc& l) {
      return l.source != kNoSource && l.destination == d.destination;
    }));
  out->cControls = static_cast<DWORD>(d.controls.size());
  CopyName(out->szShortName, sizeof(out->szShortName), d.name);
  CopyName(out->szName, sizeof(out->szName), d.name);
  out->Target.dwType = MIXERLINE_TARGETTYPE_UNDEFINED;
  out->Target.vDriverVersion = 0x0100;
  CopyName(out->Target.szPname, sizeof(out->Target.szPname), device.Name());
}

const ControlDesc* FindControl(const std::vector<LineDesc>& lines, DWORD id) {
  for (const auto& l : lines)
    for (const auto& c : l.controls)
      if (c.id == id) return &c;
  return nullptr;
}

// Checks shared by the value functions; on success *control is the addressed control.
MMRESULT CheckDetails(HMIXEROBJ obj, const MIXERCONTROLDETAILS* cd, DWORD fdw, DWORD queryMask,
                      std::shared_ptr<Device>* device, ControlDesc* control) {
  if (!cd || cd->cbStruct < sizeof(MIXERCONTROLDETAILS)) return MMSYSERR_INVALPARAM;
  if ((fdw & queryMask) != 0) return MMSYSERR_INVALFLAG;  // only the value form
  MMRESULT err = MMSYSERR_NOERROR;
  *device = Resolve(obj, fdw, &err);
  if (!*device) return err;
  const std::vector<LineDesc> lines = (*device)->Lines();
  const ControlDesc* c = FindControl(lines, cd->dwControlID);
  if (!c) return MIXERR_INVALCONTROL;
  *control = *c;
  if (cd->cMultipleItems != 0) return MMSYSERR_INVALPARAM;
  if (cd->cChannels != 1 && cd->cChannels != c->channels) return MMSYSERR_INVALPARAM;
  if (cd->cbDetails < sizeof(DWORD) || !cd->paDetails) return MMSYSERR_INVALPARAM;
  return MMSYSERR_NOERROR;
}

DWORD* DetailAt(const MIXERCONTROLDETAILS* cd, DWORD i) {
  return reinterpret_cast<DWORD*>(static_cast<BYTE*>(cd->paDetails) + static_cast<size_t>(i) * cd->cbDetails);
}

}  // namespace

void InstallDevicesForTests(std::vector<std::shared_ptr<Device>> devices) {
  std::lock_guard lock(S().mu);
  AdoptDevices(std::move(devices));
}

void ResetDevicesForTests() {
  std::lock_guard lock(S().mu);
  S().devices.clear();
  S().enumerated = false;
}

int OpenHandleCountForTests() {
  std::lock_guard lock(S().mu);
  return static_cast<int>(S().handles.size());
}

}  // namespace orv::mixer

using namespace orv::mixer;

UINT mixerGetNumDevs() {
  std::lock_guard lock(S().mu);
  EnsureDevices();
  return static_cast<UINT>(S().devices.size());
}

MMRESULT mixerOpen(LPHMIXER phmx, UINT uMxId, DWORD_PTR dwCallback, DWORD_PTR, DWORD fdwOpen) {
  if (!phmx) return MMSYSERR_INVALPARAM;
  *phmx = nullptr;
  const DWORD callback = fdwOpen & CALLBACK_TYPEMASK;
  if (callback != CALLBACK_NULL && callback != CALLBACK_WINDOW) return MMSYSERR_INVALFLAG;
  if ((fdwOpen & MIXER_OBJECTF_TYPEMASK) != MIXER_OBJECTF_MIXER) return MMSYSERR_INVALFLAG;
  HWND hwnd = callback == CALLBACK_WINDOW ? reinterpret_cast<HWND>(dwCallback) : nullptr;
  if (hwnd && !IsWindow(hwnd)) return MMSYSERR_INVALPARAM;
  std::shared_ptr<Device> device = DeviceById(uMxId);
  if (!device) return MMSYSERR_BADDEVICEID;
  std::lock_guard lock(S().mu);
  const UINT_PTR h = S().nextHandle++;
  S().handles[h] = OpenHandle{std::move(device), hwnd};
  *phmx = reinterpret_cast<HMIXER>(h);
  return MMSYSERR_NOERROR;
}

MMRESULT mixerClose(HMIXER hmx) {
  std::lock_guard lock(S().mu);
  return S().handles.erase(reinterpret_cast<UINT_PTR>(hmx)) ? MMSYSERR_NOERROR : MMSYSERR_INVALHANDLE;
}

BOOL mixerIsVirtual(UINT_PTR uMxId) {
  std::shared_ptr<Device> device = DeviceByHandle(uMxId);
  if (!device) device = DeviceById(uMxId);
  return device && device->IsVirtual() ? TRUE : FALSE;
}

MMRESULT mixerGetDevCapsA(UINT_PTR uMxId, LPMIXERCAPSA pmxcaps, UINT cbmxcaps) {
  if (!pmxcaps) return MMSYSERR_INVALPARAM;
  std::shared_ptr<Device> device = DeviceByHandle(uMxId);
  if (!device) device = DeviceById(uMxId);
  if (!device) return MMSYSERR_BADDEVICEID;
  MIXERCAPSA caps{};
  CopyName(caps.szPname, sizeof(caps.szPname), device->Name());
  caps.vDriverVersion = 0x0100;
  const std::vector<LineDesc> lines = device->Lines();
  caps.cDestinations = static_cast<DWORD>(
      std::count_if(lines.begin(), lines.end(), [](const LineDesc& l) { return l.source == kNoSource; }));
  std::memcpy(pmxcaps, &caps, std::min<size_t>(cbmxcaps, sizeof(caps)));
  return MMSYSERR_NOERROR;
}

MMRESULT mixerGetLineInfoA(HMIXEROBJ hmxobj, LPMIXERLINEA pmxl, DWORD fdwInfo) {
  if (!pmxl || pmxl->cbStruct < sizeof(MIXERLINEA)) return MMSYSERR_INVALPARAM;
  MMRESULT err = MMSYSERR_NOERROR;
  std::shared_ptr<Device> device = Resolve(hmxobj, fdwInfo, &err);
  if (!device) return err;
  const std::vector<LineDesc> lines = device->Lines();
  std::function<bool(const LineDesc&)> match;
  switch (fdwInfo & MIXER_GETLINEINFOF_QUERYMASK) {
    case MIXER_GETLINEINFOF_DESTINATION:
      match = [&](const LineDesc& l) { return l.source == kNoSource && l.destination == pmxl->dwDestination; };
      break;
    case MIXER_GETLINEINFOF_SOURCE:
      match = [&](const LineDesc& l) { return l.destination == pmxl->dwDestination && l.source == pmxl->dwSource; };
      break;
    case MIXER_GETLINEINFOF_LINEID:
      match = [&](const LineDesc& l) { return l.lineId == pmxl->dwLineID; };
      break;
    case MIXER_GETLINEINFOF_COMPONENTTYPE:
      match = [&](const LineDesc& l) { return l.componentType == pmxl->dwComponentType; };
      break;
    default:
      return MMSYSERR_INVALFLAG;
  }
  for (const auto& l : lines)
    if (match(l)) {
      FillLine(*device, lines, l, pmxl);
      return MMSYSERR_NOERROR;
    }
  return MIXERR_INVALLINE;
}

MMRESULT mixerGetLineControlsA(HMIXEROBJ hmxobj, LPMIXERLINECONTROLSA pmxlc, DWORD fdwControls) {
  if (!pmxlc || pmxlc->cbStruct < sizeof(MIXERLINECONTROLSA)) return MMSYSERR_INVALPARAM;
  if ((fdwControls & MIXER_GETLINECONTROLSF_QUERYMASK) != MIXER_GETLINECONTROLSF_ONEBYTYPE)
    return MMSYSERR_INVALFLAG;
  if (pmxlc->cControls != 1 || pmxlc->cbmxctrl < sizeof(MIXERCONTROLA) || !pmxlc->pamxctrl)
    return MMSYSERR_INVALPARAM;
  MMRESULT err = MMSYSERR_NOERROR;
  std::shared_ptr<Device> device = Resolve(hmxobj, fdwControls, &err);
  if (!device) return err;
  const std::vector<LineDesc> lines = device->Lines();
  auto line = std::find_if(lines.begin(), lines.end(), [&](const LineDesc& l) { return l.lineId == pmxlc->dwLineID; });
  if (line == lines.end()) return MIXERR_INVALLINE;
  auto c = std::find_if(line->controls.begin(), line->controls.end(),
                        [&](const ControlDesc& cd) { return cd.type == pmxlc->dwControlType; });
  if (c == line->controls.end()) return MIXERR_INVALCONTROL;
  MIXERCONTROLA* mc = pmxlc->pamxctrl;
  std::memset(mc, 0, sizeof(*mc));
  mc->cbStruct = sizeof(MIXERCONTROLA);
  mc->dwControlID = c->id;
  mc->dwControlType = c->type;
  mc->fdwControl = c->channels == 1 && line->channels > 1 ? MIXERCONTROL_CONTROLF_UNIFORM : 0;
  CopyName(mc->szShortName, sizeof(mc->szShortName), c->name);
  CopyName(mc->szName, sizeof(mc->szName), c->name);
  mc->Bounds.dwMinimum = c->minimum;
  mc->Bounds.dwMaximum = c->maximum;
  mc->Metrics.cSteps = c->steps;
  return MMSYSERR_NOERROR;
}

MMRESULT mixerGetControlDetailsA(HMIXEROBJ hmxobj, LPMIXERCONTROLDETAILS pmxcd, DWORD fdwDetails) {
  std::shared_ptr<Device> device;
  ControlDesc control;
  const MMRESULT err =
      CheckDetails(hmxobj, pmxcd, fdwDetails, MIXER_GETCONTROLDETAILSF_QUERYMASK, &device, &control);
  if (err != MMSYSERR_NOERROR) return err;
  std::vector<DWORD> values(control.channels);
  const MMRESULT r = device->Read(control.id, values.data(), control.channels);
  if (r != MMSYSERR_NOERROR) return r;
  // One channel asked of a multi-channel control: the first channel's value.
  for (DWORD i = 0; i < pmxcd->cChannels; ++i) *DetailAt(pmxcd, i) = values[i];
  return MMSYSERR_NOERROR;
}

MMRESULT mixerSetControlDetails(HMIXEROBJ hmxobj, LPMIXERCONTROLDETAILS pmxcd, DWORD fdwDetails) {
  std::shared_ptr<Device> device;
  ControlDesc control;
  const MMRESULT err =
      CheckDetails(hmxobj, pmxcd, fdwDetails, MIXER_SETCONTROLDETAILSF_QUERYMASK, &device, &control);
  if (err != MMSYSERR_NOERROR) return err;
  std::vector<DWORD> values(control.channels);
  for (DWORD i = 0; i < control.channels; ++i) {
    // One value given for a multi-channel control applies to every channel.
    const DWORD v = *DetailAt(pmxcd, pmxcd->cChannels == 1 ? 0 : i);
    values[i] = control.type == MIXERCONTROL_CONTROLTYPE_MUTE ? (v != 0 ? 1 : 0) : std::min(v, control.maximum);
  }
  return device->Write(control.id, values.data(), control.channels);
}

// Helpers for the mixer tests: a window that records mixer notices, and direct reads and writes of
// mixer 0's controls through the platform functions (independent of CMixer).
#pragma once

#include "platform/mixer/device.h"
#include "platform/mixer/mmsystem.h"
#include "platform/ui/afxwin.h"

#include <gtest/gtest.h>
#include <vector>

namespace mixtest {

class NoticeWnd : public CWnd {
 public:
  struct Notice { WPARAM hmixer; LPARAM control; };
  std::vector<Notice> notices;

  bool Create() { return CreateEx(0, AfxRegisterWndClass(0), "mixer notices", WS_POPUP, 0, 0, 20, 20, nullptr, 0); }
  size_t CountFor(DWORD control) const {
    size_t n = 0;
    for (const auto& x : notices) n += static_cast<DWORD>(x.control) == control;
    return n;
  }

 protected:
  bool OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override {
    if (message != MM_MIXM_CONTROL_CHANGE) return CWnd::OnWndMsg(message, wParam, lParam, result);
    notices.push_back({wParam, lParam});
    *result = 0;
    return true;
  }
};

inline HMIXEROBJ Mixer0() { return reinterpret_cast<HMIXEROBJ>(static_cast<UINT_PTR>(0)); }

// The line of a component type on mixer 0 (cChannels 0 when there is none).
inline MIXERLINE LineOfType(DWORD componentType) {
  MIXERLINE l{};
  l.cbStruct = sizeof(l);
  l.dwComponentType = componentType;
  if (mixerGetLineInfo(Mixer0(), &l, MIXER_OBJECTF_MIXER | MIXER_GETLINEINFOF_COMPONENTTYPE) != MMSYSERR_NOERROR)
    l.cChannels = 0;
  return l;
}

// Reads (or, with set, writes) a control of the line of that component type, on every channel.
template <class T>
std::vector<T> Values(DWORD componentType, DWORD controlType, DWORD channels, std::vector<T> set = {}) {
  const MIXERLINE l = LineOfType(componentType);
  MIXERCONTROL c{};
  MIXERLINECONTROLS lc{sizeof(lc), l.dwLineID, {controlType}, 1, sizeof(c), &c};
  std::vector<T> v = set.empty() ? std::vector<T>(channels, T(0xDEAD)) : set;
  MIXERCONTROLDETAILS cd{sizeof(cd), 0, static_cast<DWORD>(v.size()), {0}, sizeof(T), v.data()};
  if (channels == 0 || mixerGetLineControls(Mixer0(), &lc, MIXER_GETLINECONTROLSF_ONEBYTYPE) != MMSYSERR_NOERROR)
    return {};
  cd.dwControlID = c.dwControlID;
  EXPECT_EQ(MMSYSERR_NOERROR, set.empty() ? mixerGetControlDetails(Mixer0(), &cd, MIXER_OBJECTF_MIXER)
                                          : mixerSetControlDetails(Mixer0(), &cd, MIXER_OBJECTF_MIXER));
  return v;
}
inline std::vector<DWORD> Volumes(DWORD componentType, std::vector<DWORD> set = {}) {
  return Values<DWORD>(componentType, MIXERCONTROL_CONTROLTYPE_VOLUME, LineOfType(componentType).cChannels, set);
}
inline LONG Mute(DWORD componentType) {
  const auto v = Values<LONG>(componentType, MIXERCONTROL_CONTROLTYPE_MUTE, 1);
  return v.empty() ? -1 : v[0];
}

}  // namespace mixtest

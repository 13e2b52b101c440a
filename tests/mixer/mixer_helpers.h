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
  struct Notice {
    WPARAM hmixer;
    LPARAM control;
  };
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

inline DWORD ControlOf(DWORD lineId, DWORD type) {
  MIXERCONTROL c{};
  MIXERLINECONTROLS lc{};
  lc.cbStruct = sizeof(lc);
  lc.dwLineID = lineId;
  lc.dwControlType = type;
  lc.cControls = 1;
  lc.cbmxctrl = sizeof(c);
  lc.pamxctrl = &c;
  if (mixerGetLineControls(Mixer0(), &lc, MIXER_OBJECTF_MIXER | MIXER_GETLINECONTROLSF_ONEBYTYPE) != MMSYSERR_NOERROR)
    return 0;
  return c.dwControlID;
}

inline MIXERCONTROLDETAILS Details(DWORD control, DWORD channels, void* values) {
  MIXERCONTROLDETAILS cd{};
  cd.cbStruct = sizeof(cd);
  cd.dwControlID = control;
  cd.cChannels = channels;
  cd.cbDetails = sizeof(DWORD);
  cd.paDetails = values;
  return cd;
}

// Reads (or, with set, writes) every channel's volume of the line of that component type.
inline std::vector<DWORD> Volumes(DWORD componentType, std::vector<DWORD> set = {}) {
  const MIXERLINE l = LineOfType(componentType);
  std::vector<DWORD> v = set.empty() ? std::vector<DWORD>(l.cChannels, 0xDEADBEEF) : set;
  if (l.cChannels == 0 || v.size() != l.cChannels) return {};
  MIXERCONTROLDETAILS cd = Details(ControlOf(l.dwLineID, MIXERCONTROL_CONTROLTYPE_VOLUME), l.cChannels, v.data());
  EXPECT_EQ(MMSYSERR_NOERROR, set.empty() ? mixerGetControlDetails(Mixer0(), &cd, MIXER_OBJECTF_MIXER)
                                          : mixerSetControlDetails(Mixer0(), &cd, MIXER_OBJECTF_MIXER));
  return v;
}

inline LONG Mute(DWORD componentType) {
  const MIXERLINE l = LineOfType(componentType);
  LONG v = -1;
  MIXERCONTROLDETAILS cd = Details(ControlOf(l.dwLineID, MIXERCONTROL_CONTROLTYPE_MUTE), 1, &v);
  EXPECT_EQ(MMSYSERR_NOERROR, mixerGetControlDetails(Mixer0(), &cd, MIXER_OBJECTF_MIXER));
  return v;
}

}  // namespace mixtest

// The platform's audio mixer functions, structures and constants, with their published values.
// Qt- and ALSA-free: subsystems include this; the backends live in platform/mixer/*.cpp.
#pragma once

#include "platform/wintypes.h"

// Same type as the platform's; a repeated alias declaration is harmless if wintypes.h gains it.
using DWORD_PTR = std::uintptr_t;
using MMRESULT = UINT;
using MMVERSION = UINT;

// Opaque handles: entries in the mixer's handle table, never pointers to dereference.
struct HMIXER__;
using HMIXER = HMIXER__*;
using LPHMIXER = HMIXER*;
struct HMIXEROBJ__;
using HMIXEROBJ = HMIXEROBJ__*;

// ---- Result codes -----------------------------------------------------------------------------
constexpr MMRESULT MMSYSERR_NOERROR = 0;
constexpr MMRESULT MMSYSERR_ERROR = 1;
constexpr MMRESULT MMSYSERR_BADDEVICEID = 2;
constexpr MMRESULT MMSYSERR_NOTENABLED = 3;
constexpr MMRESULT MMSYSERR_ALLOCATED = 4;
constexpr MMRESULT MMSYSERR_INVALHANDLE = 5;
constexpr MMRESULT MMSYSERR_NODRIVER = 6;
constexpr MMRESULT MMSYSERR_NOMEM = 7;
constexpr MMRESULT MMSYSERR_NOTSUPPORTED = 8;
constexpr MMRESULT MMSYSERR_INVALFLAG = 10;
constexpr MMRESULT MMSYSERR_INVALPARAM = 11;
constexpr MMRESULT MIXERR_BASE = 1024;
constexpr MMRESULT MIXERR_INVALLINE = MIXERR_BASE + 0;
constexpr MMRESULT MIXERR_INVALCONTROL = MIXERR_BASE + 1;
constexpr MMRESULT MIXERR_INVALVALUE = MIXERR_BASE + 2;

// ---- Notices ----------------------------------------------------------------------------------
// wParam: the mixer handle; lParam: the id of the control that changed.
constexpr UINT MM_MIXM_CONTROL_CHANGE = 0x3D1;

// ---- Open flags and object addressing ---------------------------------------------------------
constexpr DWORD CALLBACK_TYPEMASK = 0x00070000;
constexpr DWORD CALLBACK_NULL = 0x00000000;
constexpr DWORD CALLBACK_WINDOW = 0x00010000;

constexpr DWORD MIXER_OBJECTF_HANDLE = 0x80000000;
constexpr DWORD MIXER_OBJECTF_MIXER = 0x00000000;
constexpr DWORD MIXER_OBJECTF_HMIXER = MIXER_OBJECTF_HANDLE | MIXER_OBJECTF_MIXER;
constexpr DWORD MIXER_OBJECTF_TYPEMASK = 0xF0000000;

constexpr int MAXPNAMELEN = 32;
constexpr int MIXER_SHORT_NAME_CHARS = 16;
constexpr int MIXER_LONG_NAME_CHARS = 64;

// ---- Capabilities -----------------------------------------------------------------------------
struct MIXERCAPSA {
  WORD wMid;
  WORD wPid;
  MMVERSION vDriverVersion;
  char szPname[MAXPNAMELEN];
  DWORD fdwSupport;
  DWORD cDestinations;
};
using MIXERCAPS = MIXERCAPSA;
using LPMIXERCAPSA = MIXERCAPSA*;
static_assert(sizeof(MIXERCAPSA) == 48);

// ---- Lines ------------------------------------------------------------------------------------
constexpr DWORD MIXERLINE_LINEF_ACTIVE = 0x00000001;
constexpr DWORD MIXERLINE_LINEF_SOURCE = 0x80000000;

constexpr DWORD MIXERLINE_COMPONENTTYPE_DST_SPEAKERS = 0x0004;
constexpr DWORD MIXERLINE_COMPONENTTYPE_DST_HEADPHONES = 0x0005;
constexpr DWORD MIXERLINE_COMPONENTTYPE_SRC_LINE = 0x1002;
constexpr DWORD MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE = 0x1003;
constexpr DWORD MIXERLINE_COMPONENTTYPE_SRC_AUXILIARY = 0x1009;

constexpr DWORD MIXERLINE_TARGETTYPE_UNDEFINED = 0;

constexpr DWORD MIXER_GETLINEINFOF_DESTINATION = 0x00000000;
constexpr DWORD MIXER_GETLINEINFOF_SOURCE = 0x00000001;
constexpr DWORD MIXER_GETLINEINFOF_LINEID = 0x00000002;
constexpr DWORD MIXER_GETLINEINFOF_COMPONENTTYPE = 0x00000003;
constexpr DWORD MIXER_GETLINEINFOF_QUERYMASK = 0x0000000F;

// The 32-bit layout: dwUser is a DWORD there, which keeps the structure at its published 168 bytes.
struct MIXERLINEA {
  DWORD cbStruct;
  DWORD dwDestination;
  DWORD dwSource;
  DWORD dwLineID;
  DWORD fdwLine;
  DWORD dwUser;
  DWORD dwComponentType;
  DWORD cChannels;
  DWORD cConnections;
  DWORD cControls;
  char szShortName[MIXER_SHORT_NAME_CHARS];
  char szName[MIXER_LONG_NAME_CHARS];
  struct {
    DWORD dwType;
    DWORD dwDeviceID;
    WORD wMid;
    WORD wPid;
    MMVERSION vDriverVersion;
    char szPname[MAXPNAMELEN];
  } Target;
};
using MIXERLINE = MIXERLINEA;
using LPMIXERLINEA = MIXERLINEA*;
static_assert(sizeof(MIXERLINEA) == 168);

// ---- Controls ---------------------------------------------------------------------------------
constexpr DWORD MIXERCONTROL_CONTROLF_UNIFORM = 0x00000001;

constexpr DWORD MIXERCONTROL_CT_CLASS_SWITCH = 0x20000000;
constexpr DWORD MIXERCONTROL_CT_CLASS_FADER = 0x50000000;
constexpr DWORD MIXERCONTROL_CT_UNITS_BOOLEAN = 0x00010000;
constexpr DWORD MIXERCONTROL_CT_UNITS_UNSIGNED = 0x00030000;
constexpr DWORD MIXERCONTROL_CONTROLTYPE_BOOLEAN = MIXERCONTROL_CT_CLASS_SWITCH | MIXERCONTROL_CT_UNITS_BOOLEAN;
constexpr DWORD MIXERCONTROL_CONTROLTYPE_MUTE = MIXERCONTROL_CONTROLTYPE_BOOLEAN + 2;
constexpr DWORD MIXERCONTROL_CONTROLTYPE_FADER = MIXERCONTROL_CT_CLASS_FADER | MIXERCONTROL_CT_UNITS_UNSIGNED;
constexpr DWORD MIXERCONTROL_CONTROLTYPE_VOLUME = MIXERCONTROL_CONTROLTYPE_FADER + 1;
static_assert(MIXERCONTROL_CONTROLTYPE_MUTE == 0x20010002);
static_assert(MIXERCONTROL_CONTROLTYPE_VOLUME == 0x50030001);

struct MIXERCONTROLA {
  DWORD cbStruct;
  DWORD dwControlID;
  DWORD dwControlType;
  DWORD fdwControl;
  DWORD cMultipleItems;
  char szShortName[MIXER_SHORT_NAME_CHARS];
  char szName[MIXER_LONG_NAME_CHARS];
  union {
    struct {
      LONG lMinimum;
      LONG lMaximum;
    };
    struct {
      DWORD dwMinimum;
      DWORD dwMaximum;
    };
    DWORD dwReserved[6];
  } Bounds;
  union {
    DWORD cSteps;
    DWORD cbCustomData;
    DWORD dwReserved[6];
  } Metrics;
};
using MIXERCONTROL = MIXERCONTROLA;
using LPMIXERCONTROLA = MIXERCONTROLA*;
static_assert(sizeof(MIXERCONTROLA) == 148);

constexpr DWORD MIXER_GETLINECONTROLSF_ONEBYTYPE = 0x00000002;
constexpr DWORD MIXER_GETLINECONTROLSF_QUERYMASK = 0x0000000F;

struct MIXERLINECONTROLSA {
  DWORD cbStruct;
  DWORD dwLineID;
  union {
    DWORD dwControlID;
    DWORD dwControlType;
  };
  DWORD cControls;
  DWORD cbmxctrl;
  LPMIXERCONTROLA pamxctrl;
};
using MIXERLINECONTROLS = MIXERLINECONTROLSA;
using LPMIXERLINECONTROLSA = MIXERLINECONTROLSA*;

// ---- Control values ---------------------------------------------------------------------------
constexpr DWORD MIXER_GETCONTROLDETAILSF_VALUE = 0x00000000;
constexpr DWORD MIXER_GETCONTROLDETAILSF_QUERYMASK = 0x0000000F;
constexpr DWORD MIXER_SETCONTROLDETAILSF_VALUE = 0x00000000;
constexpr DWORD MIXER_SETCONTROLDETAILSF_QUERYMASK = 0x0000000F;

struct MIXERCONTROLDETAILS {
  DWORD cbStruct;
  DWORD dwControlID;
  DWORD cChannels;
  union {
    HWND hwndOwner;
    DWORD cMultipleItems;
  };
  DWORD cbDetails;
  LPVOID paDetails;
};
using LPMIXERCONTROLDETAILS = MIXERCONTROLDETAILS*;

struct MIXERCONTROLDETAILS_UNSIGNED {
  DWORD dwValue;
};
struct MIXERCONTROLDETAILS_BOOLEAN {
  LONG fValue;
};

// ---- Functions --------------------------------------------------------------------------------
// Called on the user-interface thread; notices are posted to the window given at open.
UINT mixerGetNumDevs();
MMRESULT mixerOpen(LPHMIXER phmx, UINT uMxId, DWORD_PTR dwCallback, DWORD_PTR dwInstance, DWORD fdwOpen);
MMRESULT mixerClose(HMIXER hmx);
MMRESULT mixerGetDevCapsA(UINT_PTR uMxId, LPMIXERCAPSA pmxcaps, UINT cbmxcaps);
MMRESULT mixerGetLineInfoA(HMIXEROBJ hmxobj, LPMIXERLINEA pmxl, DWORD fdwInfo);
MMRESULT mixerGetLineControlsA(HMIXEROBJ hmxobj, LPMIXERLINECONTROLSA pmxlc, DWORD fdwControls);
MMRESULT mixerGetControlDetailsA(HMIXEROBJ hmxobj, LPMIXERCONTROLDETAILS pmxcd, DWORD fdwDetails);
MMRESULT mixerSetControlDetails(HMIXEROBJ hmxobj, LPMIXERCONTROLDETAILS pmxcd, DWORD fdwDetails);
// Not of the published interface: whether a mixer (an open handle, else an identifier) is the
// virtual mixer, whose levels reach no speakers.
BOOL mixerIsVirtual(UINT_PTR uMxId);

inline MMRESULT mixerGetDevCaps(UINT_PTR uMxId, LPMIXERCAPSA pmxcaps, UINT cbmxcaps) {
  return mixerGetDevCapsA(uMxId, pmxcaps, cbmxcaps);
}
inline MMRESULT mixerGetLineInfo(HMIXEROBJ hmxobj, LPMIXERLINEA pmxl, DWORD fdwInfo) {
  return mixerGetLineInfoA(hmxobj, pmxl, fdwInfo);
}
inline MMRESULT mixerGetLineControls(HMIXEROBJ hmxobj, LPMIXERLINECONTROLSA pmxlc, DWORD fdwControls) {
  return mixerGetLineControlsA(hmxobj, pmxlc, fdwControls);
}
inline MMRESULT mixerGetControlDetails(HMIXEROBJ hmxobj, LPMIXERCONTROLDETAILS pmxcd, DWORD fdwDetails) {
  return mixerGetControlDetailsA(hmxobj, pmxcd, fdwDetails);
}

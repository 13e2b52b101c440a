#include "mixer/Mixer.h"

#include <algorithm>
#include <vector>

namespace {
constexpr DWORD kFullVolume = 0xFFFF;
}  // namespace

CMixer::CMixer() {
  MIXERLINE line{};
  line.cbStruct = sizeof(line);
  line.dwComponentType = MIXERLINE_COMPONENTTYPE_DST_SPEAKERS;
  // Without a speakers destination the first destination stands in for it (headphones or line
  // out on such cards), so the master controls still act on the card's main output.
  if (mixerGetLineInfo(Object(), &line, ObjectFlags() | MIXER_GETLINEINFOF_COMPONENTTYPE) == MMSYSERR_NOERROR)
    m_dwDestination = line.dwDestination;
  else
    m_dwDestination = 0;
  SelectLine(MIXLINE_MASTER);
}

CMixer::~CMixer() { Close(); }

HMIXEROBJ CMixer::Object() const {
  return m_hMixer ? reinterpret_cast<HMIXEROBJ>(m_hMixer)
                  : reinterpret_cast<HMIXEROBJ>(static_cast<UINT_PTR>(m_uMixerId));
}

bool CMixer::IsVirtual() const {
  return mixerIsVirtual(m_hMixer ? reinterpret_cast<UINT_PTR>(m_hMixer) : m_uMixerId) != FALSE;
}

DWORD CMixer::ObjectFlags() const { return m_hMixer ? MIXER_OBJECTF_HMIXER : MIXER_OBJECTF_MIXER; }

int CMixer::Open() {
  // Opening again (the panel does after every accepted settings sheet) replaces the handle, so
  // the window does not get each notice twice. m_hwndNotify stays: the owner has just set it.
  if (m_hMixer) {
    mixerClose(m_hMixer);
    m_hMixer = nullptr;
  }
  if (mixerGetNumDevs() == 0) return 0;
  HMIXER h = nullptr;
  if (mixerOpen(&h, m_uMixerId, reinterpret_cast<DWORD_PTR>(m_hwndNotify), 0, CALLBACK_WINDOW) != MMSYSERR_NOERROR)
    return 0;
  m_hMixer = h;
  MIXERCAPS caps{};
  return mixerGetDevCaps(m_uMixerId, &caps, sizeof(caps)) == MMSYSERR_NOERROR ? 1 : 0;
}

MMRESULT CMixer::Close() {
  m_hwndNotify = nullptr;
  if (!m_hMixer) return MMSYSERR_NOERROR;
  const MMRESULT r = mixerClose(m_hMixer);
  m_hMixer = nullptr;
  return r;
}

void CMixer::SelectLine(int nLine) {
  m_dwSource = nLine;
  if (nLine == MIXLINE_LINEIN) m_dwSource = FindLineInSource();
}

LONG CMixer::FindLineInSource() {
  MIXERLINE line{};
  line.cbStruct = sizeof(line);
  line.dwComponentType = MIXERLINE_COMPONENTTYPE_SRC_LINE;
  if (mixerGetLineInfo(Object(), &line, ObjectFlags() | MIXER_GETLINEINFOF_COMPONENTTYPE) == MMSYSERR_NOERROR)
    return static_cast<LONG>(line.dwSource);
  line = MIXERLINE{};
  line.cbStruct = sizeof(line);
  line.dwComponentType = MIXERLINE_COMPONENTTYPE_SRC_AUXILIARY;
  if (mixerGetLineInfo(Object(), &line, ObjectFlags() | MIXER_GETLINEINFOF_COMPONENTTYPE) == MMSYSERR_NOERROR)
    return static_cast<LONG>(line.dwSource);
  return kNoSource;
}

bool CMixer::QueryCurrentLine(MIXERLINE* line) {
  *line = MIXERLINE{};
  line->cbStruct = sizeof(*line);
  line->dwDestination = m_dwDestination;
  DWORD query = MIXER_GETLINEINFOF_DESTINATION;
  if (m_dwSource != -1) {
    line->dwSource = static_cast<DWORD>(m_dwSource);
    query = MIXER_GETLINEINFOF_SOURCE;
  }
  return mixerGetLineInfo(Object(), line, ObjectFlags() | query) == MMSYSERR_NOERROR;
}

DWORD CMixer::GetLineID() {
  MIXERLINE line;
  return QueryCurrentLine(&line) ? line.dwLineID : 0;
}

DWORD CMixer::GetChannelCount() {
  MIXERLINE line;
  return QueryCurrentLine(&line) ? line.cChannels : 0;
}

DWORD CMixer::GetControlID(DWORD dwControlType) {
  MIXERCONTROL control{};
  control.cbStruct = sizeof(control);
  MIXERLINECONTROLS lc{};
  lc.cbStruct = sizeof(lc);
  lc.dwLineID = GetLineID();
  lc.dwControlType = dwControlType;
  lc.cControls = 1;
  lc.cbmxctrl = sizeof(control);
  lc.pamxctrl = &control;
  if (mixerGetLineControls(Object(), &lc, ObjectFlags() | MIXER_GETLINECONTROLSF_ONEBYTYPE) != MMSYSERR_NOERROR)
    return 0;
  return control.dwControlID;
}

namespace {

// One value per channel (or one for a uniform control), no multiple items.
template <class Value>
MIXERCONTROLDETAILS ValueDetails(DWORD control, DWORD channels, Value* values) {
  MIXERCONTROLDETAILS cd{};
  cd.cbStruct = sizeof(cd);
  cd.dwControlID = control;
  cd.cChannels = channels;
  cd.cMultipleItems = 0;
  cd.cbDetails = sizeof(Value);
  cd.paDetails = values;
  return cd;
}

}  // namespace

MMRESULT CMixer::SetVolume(int nLine, int nLevel) {
  SelectLine(nLine);
  const DWORD control = GetControlID(MIXERCONTROL_CONTROLTYPE_VOLUME);
  const DWORD n = GetChannelCount();
  // A level outside the scale is taken as its nearest end rather than wrapping to full volume.
  if (m_nMaxLevel > 0) nLevel = std::clamp(nLevel, 0, m_nMaxLevel);
  const int value = MulDiv(nLevel, static_cast<int>(kFullVolume), m_nMaxLevel);
  // Every channel the same value: the balance returns to the centre.
  std::vector<MIXERCONTROLDETAILS_UNSIGNED> values(std::max<DWORD>(n, 1),
                                                   {static_cast<DWORD>(std::max(value, 0))});
  MIXERCONTROLDETAILS cd = ValueDetails(control, n, values.data());
  return mixerSetControlDetails(Object(), &cd, ObjectFlags() | MIXER_SETCONTROLDETAILSF_VALUE);
}

int CMixer::GetVolume(int nLine) {
  SelectLine(nLine);
  const DWORD control = GetControlID(MIXERCONTROL_CONTROLTYPE_VOLUME);
  const DWORD n = GetChannelCount();
  // A read that fails leaves the zeros: no mixer, line or control shows as volume 0.
  std::vector<MIXERCONTROLDETAILS_UNSIGNED> values(std::max<DWORD>(n, 1), {0});
  MIXERCONTROLDETAILS cd = ValueDetails(control, n, values.data());
  if (mixerGetControlDetails(Object(), &cd, ObjectFlags() | MIXER_GETCONTROLDETAILSF_VALUE) != MMSYSERR_NOERROR)
    return 0;
  // Truncated: a written level can read back one lower, as the owners expect.
  const unsigned long long v = values[0].dwValue;
  return static_cast<int>(static_cast<unsigned long long>(static_cast<DWORD>(m_nMaxLevel)) * v / kFullVolume);
}

MMRESULT CMixer::SetMute(int nLine, int bMute) {
  SelectLine(nLine);
  MIXERCONTROLDETAILS_BOOLEAN value{bMute};
  MIXERCONTROLDETAILS cd = ValueDetails(GetControlID(MIXERCONTROL_CONTROLTYPE_MUTE), 1, &value);
  return mixerSetControlDetails(Object(), &cd, ObjectFlags() | MIXER_SETCONTROLDETAILSF_VALUE);
}

int CMixer::GetMute(int nLine) {
  SelectLine(nLine);
  // A line that cannot be muted (or cannot be read) is reported as sounding.
  MIXERCONTROLDETAILS_BOOLEAN value{0};
  MIXERCONTROLDETAILS cd = ValueDetails(GetControlID(MIXERCONTROL_CONTROLTYPE_MUTE), 1, &value);
  if (mixerGetControlDetails(Object(), &cd, ObjectFlags() | MIXER_GETCONTROLDETAILSF_VALUE) != MMSYSERR_NOERROR)
    return 0;
  return value.fValue;
}

int KeepWrittenLevel(int read, int written) { return written >= 0 && read == written - 1 ? written : read; }

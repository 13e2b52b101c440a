#include "dialogs/DeviceSetup.h"

#include "common/ChannelPlans.h"
#include "common/Settings.h"
#include "platform/ui/afxres.h"
#include "res/resource.h"

#include <cstdio>
#include <string>
#include <string_view>
#include <utility>

namespace {
// The regions' names on the page, by their stored codes.
constexpr std::pair<std::string_view, UINT> kRegionNames[] = {
    {"KR", IDS_REGION_KR}, {"US", IDS_REGION_US}, {"JP", IDS_REGION_JP},     {"EU", IDS_REGION_EU}, {"UK", IDS_REGION_UK},
    {"FR", IDS_REGION_FR}, {"OIRT", IDS_REGION_OIRT}, {"CN", IDS_REGION_CN}, {"AU", IDS_REGION_AU},
};

std::string RegionName(const orv::plans::Region& r) {
  for (const auto& [code, id] : kRegionNames)
    if (code == r.code) return AfxFormatString(id);
  return r.code;
}

std::string StandardName(const orv::plans::TvStandard& s) {
  return std::string_view(s.key) == orv::plans::kAutoStandard ? AfxFormatString(IDS_STANDARD_AUTO) : s.name;
}

int IndexOrNone(int index, std::size_t count) {
  return index >= 0 && static_cast<std::size_t>(index) < count ? index : -1;
}
}  // namespace

CDeviceSetup::CDeviceSetup(CaptureDevices devices) : CPropertyPage(IDD_DEVICE_SETUP), m_devices(std::move(devices)) {}

BOOL CDeviceSetup::OnInitDialog() {
  CPropertyPage::OnInitDialog();
  m_video.Attach(::GetDlgItem(m_hWnd, IDC_DEVICE_VIDEO));
  m_audio.Attach(::GetDlgItem(m_hWnd, IDC_DEVICE_AUDIO));
  m_standard.Attach(::GetDlgItem(m_hWnd, IDC_DEVICE_STANDARD));
  m_region.Attach(::GetDlgItem(m_hWnd, IDC_DEVICE_REGION));

  m_nStoredVideo = static_cast<int>(GetProfileIntA(kProfileSection, "VideoDevice", 0));
  m_nStoredAudio = static_cast<int>(GetProfileIntA(kProfileSection, "AudioDevice", 0));
  m_nVideo = IndexOrNone(m_nStoredVideo, m_devices.video.size());
  m_nAudio = IndexOrNone(m_nStoredAudio, m_devices.audio.size());
  const auto standards = orv::plans::Standards();
  const auto regions = orv::plans::Regions();
  m_nStandard = static_cast<int>(&orv::plans::StoredStandard() - standards.data());
  m_nRegion = static_cast<int>(&orv::plans::StoredRegion() - regions.data());

  for (const auto& v : m_devices.video) m_video.AddString(v.name.c_str());
  for (const auto& s : standards) m_standard.AddString(StandardName(s).c_str());
  for (const auto& r : regions) m_region.AddString(RegionName(r).c_str());
  FillAudio();
  EnableStandards();
  m_video.SetCurSel(m_nVideo);
  m_standard.SetCurSel(m_nStandard);
  m_region.SetCurSel(m_nRegion);
  return TRUE;
}

void CDeviceSetup::FillAudio() {
  const int own = m_nVideo >= 0 ? m_devices.video[static_cast<std::size_t>(m_nVideo)].ownAudio : -1;
  m_audio.ResetContent();
  for (std::size_t a = 0; a < m_devices.audio.size(); ++a) {
    std::string text = m_devices.audio[a];
    if (static_cast<int>(a) == own) text += AfxFormatString(IDS_OWN_SOUND);  // beside the card's own
    m_audio.AddString(text.c_str());
  }
  m_audio.SetCurSel(m_nAudio);
}

bool CDeviceSetup::CardTakes(const char* key) const {
  if (m_nVideo < 0 || std::string_view(key) == orv::plans::kAutoStandard) return true;
  const auto& card = m_devices.video[static_cast<std::size_t>(m_nVideo)];
  if (!card.standardsKnown) return true;
  for (const auto& s : card.standards)
    if (s == key) return true;
  return false;
}

void CDeviceSetup::EnableStandards() {
  const auto standards = orv::plans::Standards();
  for (std::size_t i = 0; i < standards.size(); ++i)
    m_standard.EnableItem(static_cast<int>(i), CardTakes(standards[i].key));
  // A standard the card does not take falls back to the card's own detection.
  if (!CardTakes(standards[static_cast<std::size_t>(m_nStandard)].key)) m_nStandard = 0;
  m_standard.SetCurSel(m_nStandard);
}

bool CDeviceSetup::OnCommand(UINT id, UINT code) {
  if (code != CBN_SELCHANGE) return false;
  switch (id) {
    case IDC_DEVICE_VIDEO: OnVideoChange(); return true;
    case IDC_DEVICE_REGION: OnRegionChange(); return true;
    case IDC_DEVICE_AUDIO:
    case IDC_DEVICE_STANDARD: ReadChoices(); return true;
    default: return false;
  }
}

void CDeviceSetup::ReadChoices() {
  m_nAudio = m_audio.GetCurSel();
  const int s = m_standard.GetCurSel();
  // A greyed entry cannot be chosen: the choice stays where it was.
  if (s >= 0 && m_standard.IsItemEnabled(s)) m_nStandard = s;
  m_standard.SetCurSel(m_nStandard);
}

void CDeviceSetup::OnVideoChange() {
  const int v = m_video.GetCurSel();
  if (v < 0 || v == m_nVideo) return;
  m_nVideo = v;
  // The card's own sound comes with it.
  const int own = m_devices.video[static_cast<std::size_t>(v)].ownAudio;
  if (own >= 0) m_nAudio = own;
  FillAudio();
  EnableStandards();
}

void CDeviceSetup::OnRegionChange() {
  const int r = m_region.GetCurSel();
  if (r < 0) return;
  m_nRegion = r;
  // Propose the region's usual standard where the card takes it (Korea: plain NTSC-M otherwise).
  const orv::plans::Region& region = orv::plans::Regions()[static_cast<std::size_t>(r)];
  for (const char* key : {region.standard, std::string_view(region.code) == "KR" ? "NTSC-M" : region.standard}) {
    if (!CardTakes(key)) continue;
    m_nStandard = static_cast<int>(orv::plans::FindStandard(key) - orv::plans::Standards().data());
    break;
  }
  m_standard.SetCurSel(m_nStandard);
}

void CDeviceSetup::OnOK() {
  const orv::plans::Region& region = orv::plans::Regions()[static_cast<std::size_t>(m_nRegion)];
  const orv::plans::TvStandard& standard = orv::plans::Standards()[static_cast<std::size_t>(m_nStandard)];
  const int video = m_nVideo >= 0 ? m_nVideo : m_nStoredVideo;
  const int audio = m_nAudio >= 0 ? m_nAudio : m_nStoredAudio;
  m_bChanged = video != m_nStoredVideo || audio != m_nStoredAudio || &region != &orv::plans::StoredRegion() ||
               &standard != &orv::plans::StoredStandard();
  char number[16];
  std::snprintf(number, sizeof number, "%d", video);
  WriteProfileStringA(kProfileSection, "VideoDevice", number);
  std::snprintf(number, sizeof number, "%d", audio);
  WriteProfileStringA(kProfileSection, "AudioDevice", number);
  orv::plans::StoreRegionAndStandard(region, standard);
  CPropertyPage::OnOK();
}

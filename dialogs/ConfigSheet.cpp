#include "dialogs/ConfigSheet.h"

#include "common/Commands.h"
#include "common/Settings.h"
#include "common/SoundThrough.h"
#include "dialogs/AudioSetup.h"
#include "dialogs/ChannelSetup.h"
#include "dialogs/DeviceSetup.h"
#include "dialogs/RecordSetup.h"
#include "dialogs/VideoSetup.h"
#include "res/resource.h"

#include <initializer_list>
#include <utility>
#include <vector>

CConfigSheet::CConfigSheet(LPCSTR caption, CWnd* parent, UINT selectPage)
    : CPropertySheet(caption, parent, selectPage) {}

namespace {

// A child's window rectangle in its parent's client coordinates.
bool ClientRectOf(HWND parent, HWND child, RECT* rc) {
  if (!child || !::GetWindowRect(child, rc)) return false;
  POINT tl{rc->left, rc->top}, br{rc->right, rc->bottom};
  ::ScreenToClient(parent, &tl);
  ::ScreenToClient(parent, &br);
  *rc = RECT{tl.x, tl.y, br.x, br.y};
  return true;
}

}  // namespace

BOOL CConfigSheet::OnInitDialog() {
  const BOOL result = CPropertySheet::OnInitDialog();

  // The places of the button row, left to right, as the framework laid it out.
  const int row[] = {IDOK, IDCANCEL, ID_APPLY_NOW, IDHELP};
  std::vector<RECT> places;
  std::vector<HWND> kept;
  for (int id : row) {
    const HWND button = ::GetDlgItem(m_hWnd, id);
    RECT rc{};
    if (!ClientRectOf(m_hWnd, button, &rc)) continue;  // a button that does not exist is skipped
    places.push_back(rc);
    if (id == IDHELP)
      ::ShowWindow(button, SW_HIDE);
    else if (id != ID_APPLY_NOW || !(m_psh.dwFlags & PSH_NOAPPLYNOW))
      kept.push_back(button);
  }
  // Without Help every button moves one place to the right. An Apply that cannot be used only
  // keeps its place hidden, so it gives that place up too: OK and Cancel end at the right edge.
  const size_t first = places.size() - kept.size();
  for (size_t i = 0; i < kept.size(); ++i) {
    const RECT& rc = places[first + i];
    ::MoveWindow(kept[i], rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top, TRUE);
  }
  return result;
}

int RunConfigSheet(CWnd* videoWnd, HWND hwndPanel, const std::function<void()>& savePicture,
                   const std::function<void()>& loadPicture, CaptureDevices devices,
                   const std::function<void()>& applyDevices, const std::function<void()>& applyRecording,
                   const std::function<void()>& applySound) {
  CString caption;
  caption.LoadString(IDS_SETTINGS_CAPTION);
  CConfigSheet sheet(caption, videoWnd, 0);
  CChannelSetup channel;
  CVideoSetup video;
  CAudioSetup audio;
  audio.m_bSoundThroughByDefault = orv::sound::IsCardsOwnSound(
      devices, static_cast<int>(GetProfileIntA(kProfileSection, "VideoDevice", 0)),
      static_cast<int>(GetProfileIntA(kProfileSection, "AudioDevice", 0)));
  CDeviceSetup device(std::move(devices));
  CRecordSetup record;
  for (CPropertyPage* page : std::initializer_list<CPropertyPage*>{&channel, &video, &audio, &device, &record})
    sheet.AddPage(page);
  sheet.m_psh.dwFlags |= PSH_NOAPPLYNOW;

  // The video page starts from what is on screen.
  if (savePicture) savePicture();

  const int result = sheet.DoModal();
  if (result == IDOK) {
    SendMessageA(hwndPanel, WM_TUNER_NOTIFY, PanelCmd::SettingsAccepted, 0);
    if (device.m_bChanged && applyDevices) applyDevices();
    if (record.m_bChanged && applyRecording) applyRecording();
    // Both are the live picture's graph, built again.
    if ((audio.m_bSoundThroughChanged || video.m_bCaptionsChanged) && applySound) applySound();
    if (loadPicture) loadPicture();
  }
  return result;
}

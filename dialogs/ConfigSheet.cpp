#include "dialogs/ConfigSheet.h"

#include "app/Commands.h"
#include "dialogs/AudioSetup.h"
#include "dialogs/ChannelSetup.h"
#include "dialogs/VideoSetup.h"
#include "res/resource.h"

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

void MoveInto(HWND button, bool haveRect, const RECT& rc) {
  if (!button || !haveRect) return;
  ::MoveWindow(button, rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top, TRUE);
}

}  // namespace

BOOL CConfigSheet::OnInitDialog() {
  const BOOL result = CPropertySheet::OnInitDialog();

  // Without Help and Apply, every button moves one place to the right, so OK and Cancel end up at
  // the sheet's right edge instead of leaving two holes there.
  const HWND help = ::GetDlgItem(m_hWnd, IDHELP);
  const HWND apply = ::GetDlgItem(m_hWnd, ID_APPLY_NOW);
  const HWND cancel = ::GetDlgItem(m_hWnd, IDCANCEL);
  const HWND ok = ::GetDlgItem(m_hWnd, IDOK);
  RECT rcHelp{}, rcApply{}, rcCancel{};
  const bool haveHelp = ClientRectOf(m_hWnd, help, &rcHelp);
  const bool haveApply = ClientRectOf(m_hWnd, apply, &rcApply);
  const bool haveCancel = ClientRectOf(m_hWnd, cancel, &rcCancel);

  if (help) ::ShowWindow(help, SW_HIDE);
  MoveInto(apply, haveHelp, rcHelp);
  MoveInto(cancel, haveApply, rcApply);
  MoveInto(ok, haveCancel, rcCancel);
  return result;
}

int RunConfigSheet(CWnd* videoWnd, HWND hwndPanel, const std::function<void()>& savePicture,
                   const std::function<void()>& loadPicture) {
  CString caption;
  caption.LoadString(IDS_SETTINGS_CAPTION);
  CConfigSheet sheet(caption, videoWnd, 0);
  CChannelSetup channel;
  CVideoSetup video;
  CAudioSetup audio;
  sheet.AddPage(&channel);
  sheet.AddPage(&video);
  sheet.AddPage(&audio);
  sheet.m_psh.dwFlags |= PSH_NOAPPLYNOW;

  // The video page starts from what is on screen.
  if (savePicture) savePicture();

  const int result = sheet.DoModal();
  if (result == IDOK) {
    SendMessageA(hwndPanel, WM_TUNER_NOTIFY, PanelCmd::SettingsAccepted, 0);
    if (loadPicture) loadPicture();
  }
  return result;
}

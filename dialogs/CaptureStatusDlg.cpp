#include "dialogs/CaptureStatusDlg.h"

#include "common/Settings.h"
#include "dialogs/CaptureDlg.h"
#include "platform/ui/afxres.h"
#include "res/resource.h"

#include <cstdio>

namespace {
constexpr UINT_PTR kTimer = 1;  // on the dialog's own window
constexpr UINT_PTR kMeterTimer = 2;
constexpr UINT kMeterMs = 100;
}  // namespace

CCaptureStatusDlg::CCaptureStatusDlg() : CDialog(IDD_CAPTURE_STATUS, nullptr), m_strElapsed("0:00:00") {}

void CCaptureStatusDlg::DoDataExchange(CDataExchange* pDX) {
  DDX_Text(pDX, IDC_STATUS_ELAPSED, m_strElapsed);
  DDX_Text(pDX, IDC_STATUS_DROPPED, m_strDropped);
}

bool CCaptureStatusDlg::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  static const MsgMapEntry<CCaptureStatusDlg> map[] = {
      {WM_TIMER, afxmsg::Timer<&CCaptureStatusDlg::OnTimer>},
  };
  return DispatchMsgMap(*this, map, message, wParam, lParam, result) || CDialog::OnWndMsg(message, wParam, lParam, result);
}

BOOL CCaptureStatusDlg::OnInitDialog() {
  m_strDropped = DroppedText();
  CDialog::OnInitDialog();
  SetTimer(kTimer, 1000, nullptr);
  m_meters.CreateOver(this, IDC_STATUS_METERS);
  ShowMeters();
  SetTimer(kMeterTimer, kMeterMs, nullptr);
  HKEY key = OpenSettingsKey(kKeyVideo);
  char path[kCapturePathBuffer];
  // The settings dialog stores the path just before; should it be missing, watch the default's disk.
  ReadSettingString(key, "Capture", path, sizeof path, DefaultCaptureFile().c_str());
  m_strCaptureFile = path;
  CloseSettingsKey(key);
  return TRUE;
}

void CCaptureStatusDlg::OnTimer(UINT_PTR id) {
  if (id == kMeterTimer) {
    ShowMeters();
    return;
  }
  unsigned long long bytes = 0;
  GetFreeDiskBytes(FolderOfPath(m_strCaptureFile.str()), &bytes);
  if (bytes < kMinFreeBytes) OnOK();
  ++m_nElapsed;
  // Hours are not wrapped: a capture of 61 hours shows 61:00:00.
  char text[32];
  std::snprintf(text, sizeof text, "%02u:%02u:%02u", m_nElapsed / 3600, (m_nElapsed / 60) % 60, m_nElapsed % 60);
  m_strElapsed = text;
  m_strDropped = DroppedText();
  UpdateData(FALSE);
  Default();
}

CString CCaptureStatusDlg::DroppedText() {
  std::string text = AfxFormatString(IDS_DROPPED_FRAMES, static_cast<int>(DroppedFrames()));
  if (const UINT status = StreamStatus()) {
    CString said;
    said.LoadString(status);
    text += " (" + said.str() + ")";
  }
  return CString(text.c_str());
}

bool CCaptureStatusDlg::OnCommand(UINT id, UINT code) {
  if (code != BN_CLICKED) return false;
  if (id == IDC_STATUS_METERS) {
    if (m_pLevels) m_pLevels->ClearClip();
    ShowMeters();
    return true;
  }
  if (id == IDC_STATUS_LEVELS) {
    AskForLevelsWindow();
    return true;
  }
  return false;
}

void CCaptureStatusDlg::ShowMeters() {
  orv::SoundLevels sound;
  if (m_pLevels) m_pLevels->ReadSound(&sound);
  m_meters.Show(sound);
  SetDlgItemText(IDC_STATUS_SOUND, SoundReadout(sound).c_str());
}

void CCaptureStatusDlg::OnOK() {
  KillTimer(kTimer);
  KillTimer(kMeterTimer);
  CDialog::OnOK();
}

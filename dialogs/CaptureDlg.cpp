#include "dialogs/CaptureDlg.h"

#include "app/Settings.h"
#include "res/resource.h"

#include <cstdio>

namespace {
constexpr int IDC_FILE = 1000, IDC_CHOOSE = 1001, IDC_LIMIT = 1002, IDC_SPIN = 1003, IDC_USE_LIMIT = 1007,
              IDC_FREE = 1011;
constexpr unsigned long long kMinFreeBytes = 1000000;
}  // namespace

CCaptureDlg::CCaptureDlg(CWnd* parent) : CDialog(IDD_CAPTURE, parent), m_strCaptureFile(DefaultCaptureFile()) {}

void CCaptureDlg::DoDataExchange(CDataExchange* pDX) {
  DDX_Control(pDX, IDC_SPIN, m_spin);
  DDX_Text(pDX, IDC_FILE, m_strCaptureFile);
  DDX_Text(pDX, IDC_LIMIT, m_nTimeLimit);
  DDX_Check(pDX, IDC_USE_LIMIT, m_bUseTimeLimit);
}

BOOL CCaptureDlg::OnInitDialog() {
  CDialog::OnInitDialog();
  m_spin.SetRange32(1, 999);
  m_spin.SetPos(static_cast<int>(m_nTimeLimit & 0xFFFF));

  HKEY key = OpenSettingsKey(kKeyVideo);
  char path[255];
  DWORD size = sizeof path;
  if (!key || RegQueryValueExA(key, "Capture", nullptr, nullptr, reinterpret_cast<BYTE*>(path), &size) != ERROR_SUCCESS) {
    // Unreadable (missing, or too long for the buffer): the default, stored at once.
    m_strCaptureFile = DefaultCaptureFile();
    WriteSettingString(key, "Capture", m_strCaptureFile);
  } else {
    path[size < sizeof path ? size : sizeof path - 1] = '\0';
    m_strCaptureFile = path;
  }
  ShowFreeSpace();
  UpdateData(FALSE);
  CloseSettingsKey(key);
  return TRUE;
}

bool CCaptureDlg::ShowFreeSpace() {
  // Measured where the file will be written, not on the first characters of the path.
  unsigned long long bytes = 0;
  GetFreeDiskBytes(FolderOfPath(m_strCaptureFile.str()), &bytes);
  char text[32];
  std::snprintf(text, sizeof text, "%lld", static_cast<long long>(bytes / 1000000));
  SetDlgItemText(IDC_FREE, text);
  const bool enough = bytes >= kMinFreeBytes;
  ::EnableWindow(::GetDlgItem(m_hWnd, IDOK), enough);
  return enough;
}

void CCaptureDlg::OnChooseFile() {
  CFileDialog fd(FALSE, nullptr, m_strCaptureFile, OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT, "AVI Files (*.avi)|*.avi|",
                 this);
  if (fd.DoModal() == IDOK) {
    std::string path = fd.GetPathName().str();
    if (fd.GetFileExt().IsEmpty()) path += ".avi";
    m_strCaptureFile = path;
    const bool enough = ShowFreeSpace();
    const bool current = SetCurrentDirectoryA(fd.GetFolderPath()) != FALSE;
    ::EnableWindow(::GetDlgItem(m_hWnd, IDOK), enough && current);
  }
  // A number typed but not taken in is replaced by the member, whatever the choice was.
  UpdateData(FALSE);
}

void CCaptureDlg::OnUseTimeLimit() {
  if (!UpdateData(TRUE)) return;
  ::EnableWindow(::GetDlgItem(m_hWnd, IDC_LIMIT), m_bUseTimeLimit != 0);
  ::EnableWindow(::GetDlgItem(m_hWnd, IDC_SPIN), m_bUseTimeLimit != 0);
}

bool CCaptureDlg::OnCommand(UINT id, UINT code) {
  if (code != BN_CLICKED) return false;
  if (id == IDC_CHOOSE) {
    OnChooseFile();
    return true;
  }
  if (id == IDC_USE_LIMIT) {
    OnUseTimeLimit();
    return true;
  }
  return false;
}

void CCaptureDlg::OnVScroll(UINT code, UINT pos, HWND ctrl) {
  m_nTimeLimit = pos;
  UpdateData(FALSE);
  CDialog::OnVScroll(code, pos, ctrl);
}

void CCaptureDlg::OnOK() {
  // The path is stored before the fields are taken in, so it is kept even if they are refused.
  HKEY key = OpenSettingsKey(kKeyVideo);
  WriteSettingString(key, "Capture", m_strCaptureFile);
  CloseSettingsKey(key);
  CDialog::OnOK();
}

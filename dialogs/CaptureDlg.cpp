#include "dialogs/CaptureDlg.h"

#include "common/Settings.h"
#include "platform/ui/afxres.h"
#include "res/resource.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <strings.h>

namespace {
// A path ending in the other container's extension is given the chosen format's one.
std::string WithFormatsExtension(std::string path, orv::record::Format format) {
  const char* own = orv::record::ExtensionOf(format);
  for (const auto& f : orv::record::Formats()) {
    const char* ext = orv::record::ExtensionOf(f.format);
    const std::size_t n = std::strlen(ext);
    if (path.size() > n && strcasecmp(path.c_str() + path.size() - n, ext) == 0 && std::strcmp(ext, own) != 0)
      return path.replace(path.size() - n, n, own);
  }
  return path;
}
}  // namespace

CCaptureDlg::CCaptureDlg(CWnd* parent) : CDialog(IDD_CAPTURE, parent), m_strCaptureFile(DefaultCaptureFile()) {}

void CCaptureDlg::DoDataExchange(CDataExchange* pDX) {
  DDX_Control(pDX, IDC_CAPTURE_SPIN, m_spin);
  DDX_Text(pDX, IDC_CAPTURE_FILE, m_strCaptureFile);
  DDX_Text(pDX, IDC_CAPTURE_LIMIT, m_nTimeLimit);
  DDX_Check(pDX, IDC_CAPTURE_USE_LIMIT, m_bUseTimeLimit);
}

BOOL CCaptureDlg::OnInitDialog() {
  CDialog::OnInitDialog();
  m_format = orv::record::StoredFormat();
  m_spin.SetRange32(1, 999);
  m_spin.SetPos(static_cast<int>(m_nTimeLimit & 0xFFFF));

  HKEY key = OpenSettingsKey(kKeyVideo);
  char path[kCapturePathBuffer];
  DWORD size = sizeof path;
  if (!key || RegQueryValueExA(key, "Capture", nullptr, nullptr, reinterpret_cast<BYTE*>(path), &size) != ERROR_SUCCESS) {
    // Unreadable (missing, or too long for the buffer): the default, stored at once.
    m_strCaptureFile = DefaultCaptureFile();
    WriteSettingString(key, "Capture", m_strCaptureFile);
  } else {
    path[size < sizeof path ? size : sizeof path - 1] = '\0';
    m_strCaptureFile = WithFormatsExtension(path, m_format);
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
  SetDlgItemText(IDC_CAPTURE_FREE, text);
  const bool enough = bytes >= kMinFreeBytes;
  ::EnableWindow(::GetDlgItem(m_hWnd, IDOK), enough);
  return enough;
}

void CCaptureDlg::OnChooseFile() {
  std::string initial = m_strCaptureFile.str();
  const bool matroska = orv::record::InfoOf(m_format).matroska;
  for (;;) {
    CFileDialog fd(FALSE, nullptr, initial.c_str(), OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT,
                   matroska ? "Matroska Files (*.mkv)|*.mkv|" : "AVI Files (*.avi)|*.avi|", this);
    if (fd.DoModal() != IDOK) break;
    std::string path = fd.GetPathName().str();
    const bool extended = fd.GetFileExt().IsEmpty();
    if (extended) path += orv::record::ExtensionOf(m_format);
    if (path.size() + 1 > kCapturePathBuffer) {
      // It could not be read back; the path in force stays.
      ::MessageBoxA(m_hWnd, AfxFormatString(IDS_PATH_TOO_LONG).c_str(), nullptr, MB_OK | MB_ICONEXCLAMATION);
      break;
    }
    // The chooser asked about the name as typed, not about the one extended; "No" chooses again.
    std::error_code ec;
    if (extended && std::filesystem::exists(path, ec) && !CFileDialog::ConfirmReplace(this, path.c_str())) {
      initial = path;
      continue;
    }
    m_strCaptureFile = path;
    m_strConfirmed = path;
    const bool enough = ShowFreeSpace();
    const bool current = SetCurrentDirectoryA(fd.GetFolderPath()) != FALSE;
    ::EnableWindow(::GetDlgItem(m_hWnd, IDOK), enough && current);
    break;
  }
  // A number typed but not taken in is replaced by the member, whatever the choice was.
  UpdateData(FALSE);
}

void CCaptureDlg::OnUseTimeLimit() {
  if (!UpdateData(TRUE)) return;
  ::EnableWindow(::GetDlgItem(m_hWnd, IDC_CAPTURE_LIMIT), m_bUseTimeLimit != 0);
  ::EnableWindow(::GetDlgItem(m_hWnd, IDC_CAPTURE_SPIN), m_bUseTimeLimit != 0);
}

bool CCaptureDlg::OnCommand(UINT id, UINT code) {
  if (code != BN_CLICKED) return false;
  if (id == IDC_CAPTURE_CHOOSE) {
    OnChooseFile();
    return true;
  }
  if (id == IDC_CAPTURE_USE_LIMIT) {
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

bool CCaptureDlg::MayReplaceFile() {
  const std::string path = m_strCaptureFile.str();
  // Only a file with something in it is worth the question; one the chooser confirmed was asked about.
  std::error_code ec;
  const bool filled = std::filesystem::is_regular_file(path, ec) && std::filesystem::file_size(path, ec) > 0 && !ec;
  if (!filled || path == m_strConfirmed) return true;
  if (CFileDialog::ConfirmReplace(this, path.c_str())) return true;
  // The name stays as it was; the chooser's button takes the focus, for another name.
  ::SetFocus(::GetDlgItem(m_hWnd, IDC_CAPTURE_CHOOSE));
  return false;
}

void CCaptureDlg::OnOK() {
  // The last recording's name is proposed again: a new one must not replace it unasked.
  if (!MayReplaceFile()) return;
  // The path is stored before the fields are taken in, so it is kept even if they are refused.
  HKEY key = OpenSettingsKey(kKeyVideo);
  WriteSettingString(key, "Capture", m_strCaptureFile);
  CloseSettingsKey(key);
  CDialog::OnOK();
}

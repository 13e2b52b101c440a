// The capture settings dialog: the file (AVI or Matroska, as the recording format writes), an
// optional time limit, and the free space left.
#pragma once

#include "common/Recording.h"
#include "platform/ui/afxdlgs.h"

// Bytes the capture dialogs read the stored path "Capture" into, terminator included: a longer
// path could not be read back, so it is never taken.
constexpr DWORD kCapturePathBuffer = 255;

// Below this much free space on the file's disk a capture does not start, and a running one stops.
constexpr unsigned long long kMinFreeBytes = 1000000;

class CCaptureDlg : public CDialog {
 public:
  explicit CCaptureDlg(CWnd* parent = nullptr);

  CString GetCaptureFile() const { return m_strCaptureFile; }
  UINT GetTimeLimit() const { return m_nTimeLimit; }
  int GetUseTimeLimit() const { return m_bUseTimeLimit; }

  CString m_strCaptureFile;
  UINT m_nTimeLimit = 1;
  int m_bUseTimeLimit = 0;

  BOOL OnInitDialog() override;
  void OnOK() override;
  void OnChooseFile();
  void OnUseTimeLimit();
  // Free space of the file's folder into its static, and whether "캡처 시작" may be pressed.
  bool ShowFreeSpace();

 protected:
  void DoDataExchange(CDataExchange* pDX) override;
  bool OnCommand(UINT id, UINT code) override;
  void OnVScroll(UINT code, UINT pos, HWND ctrl) override;

 private:
  // Whether "캡처 시작" may write over the file: the user confirmed it already, or is asked now.
  bool MayReplaceFile();

  CSpinButtonCtrl m_spin;
  std::string m_strConfirmed;  // a path whose replacing the chooser already confirmed
  orv::record::Format m_format = orv::record::Format::Spec;  // the stored one, read on opening
};

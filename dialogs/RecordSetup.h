// The settings sheet's fifth page: the recording format, how long a capture waits without signal
// before it ends by itself, whether the live picture is deinterlaced, and for the capture log of the
// newer formats who records, notes on what, and whether the log and checksums are written. OK stores
// them in win.ini's [orvane] section; the caller applies what the live picture needs.
#pragma once

#include "platform/ui/afxdlgs.h"

class CRecordSetup : public CPropertyPage {
 public:
  CRecordSetup();

  int m_nFormat = 0;            // index in the recording formats
  int m_nStopOnNoSignal = 0;    // seconds, 0 = never
  int m_bDeinterlacePreview = 0;
  CString m_strOperator;
  CString m_strNotes;
  int m_bWriteLog = 1;
  int m_nTeletextPage = 0;  // the page kept as subtitles, 0 for auto
  // Set by OK when a choice the program applies (format, wait, deinterlacing) changed.
  bool m_bChanged = false;

  BOOL OnInitDialog() override;
  void OnOK() override;

 protected:
  void DoDataExchange(CDataExchange* pDX) override;
  bool OnCommand(UINT id, UINT code) override;
  void OnVScroll(UINT code, UINT pos, HWND ctrl) override;

 private:
  CComboBox m_format;
  CSpinButtonCtrl m_spin;
};

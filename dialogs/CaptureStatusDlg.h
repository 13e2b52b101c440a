// The dialog on screen while a capture without a time limit runs: elapsed time, frames dropped so
// far, the meters of the sound going into the file, end button, the levels window's button, and a
// stop by itself when the capture's disk is nearly full.
#pragma once

#include "dialogs/LevelViews.h"
#include "platform/ui/afxdlgs.h"

class CCaptureStatusDlg : public CDialog {
 public:
  CCaptureStatusDlg();

  UINT m_nElapsed = 0;
  CString m_strElapsed;
  CString m_strDropped;
  CString m_strCaptureFile;
  CLevelsSource* m_pLevels = nullptr;  // the meters' measures; none: the meters stay empty

  BOOL OnInitDialog() override;
  void OnOK() override;
  void OnTimer(UINT_PTR id);

 protected:
  // Frames the capture has dropped so far, asked every second; the dialog alone knows of none.
  virtual LONG DroppedFrames() { return 0; }
  // What to say of the card's stream beside it: 0, or a string id (no signal, restarting).
  virtual UINT StreamStatus() { return 0; }
  CString DroppedText();
  void DoDataExchange(CDataExchange* pDX) override;
  bool OnCommand(UINT id, UINT code) override;
  bool OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;

 private:
  void ShowMeters();
  CMeterView m_meters;
};

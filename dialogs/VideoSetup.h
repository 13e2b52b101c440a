// The settings sheet's second page: brightness, contrast, hue and saturation, applied at once
// through the main window and stored when the sheet is accepted; and whether the card's captions
// are drawn over the live picture, stored when the sheet is accepted.
#pragma once

#include "platform/ui/afxdlgs.h"

class CVideoSetup : public CPropertyPage {
 public:
  CVideoSetup();

  int m_nBright = 0;
  int m_nContrast = 0;
  int m_nHue = 0;
  int m_nSaturation = 0;
  int m_bCaptions = 0;            // the card's captions over the live picture (win.ini ShowCaptions)
  bool m_bCaptionsChanged = false;  // OK stored another choice: the live picture is built again

  BOOL OnInitDialog() override;
  void OnOK() override;
  void OnSelChangeMode();

 protected:
  void DoDataExchange(CDataExchange* pDX) override;
  bool OnCommand(UINT id, UINT code) override;
  void OnHScroll(UINT code, UINT pos, HWND ctrl) override;

 private:
  int* Member(int index);
  void ShowValue(int index, int value);
};

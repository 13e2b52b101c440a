// The settings sheet's third page: master and line-in volume and mute through a mixer of its own,
// and which volume the panel's volume buttons control.
#pragma once

#include "mixer/Mixer.h"
#include "platform/ui/afxdlgs.h"

class CAudioSetup : public CPropertyPage {
 public:
  CAudioSetup();

  int m_bLineInMute = 0;
  int m_bMasterMute = 0;
  int m_nLineInVolume = 0;
  int m_nMasterVolume = 0;
  CMixer m_mixer;
  UINT m_nSelection = 0;  // 0 master, 1 line-in
  // Sound through: the box shows whether the card's sound plays now, win.ini's automatic choice
  // resolved with `m_bSoundThroughByDefault` (set before the page opens: what auto means for the
  // devices in use). Only a box the user changed is stored, as on or off; auto otherwise stays.
  bool m_bSoundThroughByDefault = false;
  int m_bSoundThrough = 0;
  bool m_bSoundThroughChanged = false;  // OK stored another choice

  BOOL OnInitDialog() override;
  void OnOK() override;
  void OnMute();
  void OnSelection(UINT id);
  LRESULT OnMixerControlChange(WPARAM hmixer, LPARAM control);

 protected:
  void DoDataExchange(CDataExchange* pDX) override;
  bool OnCommand(UINT id, UINT code) override;
  void OnHScroll(UINT code, UINT pos, HWND ctrl) override;
  bool OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;

 private:
  void ReadMixer();
  // Levels the sliders last wrote, -1 for none (see KeepWrittenLevel).
  int m_nWrittenMaster = -1;
  int m_nWrittenLineIn = -1;
};

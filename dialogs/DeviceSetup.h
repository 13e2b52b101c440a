// The settings sheet's fourth page: the video and sound capture devices, the TV standard and the
// region whose channel plans the tuner uses. OK stores them in win.ini's [orvane] section; the
// caller applies them.
#pragma once

#include "common/CaptureDevices.h"
#include "platform/ui/afxdlgs.h"

class CDeviceSetup : public CPropertyPage {
 public:
  explicit CDeviceSetup(CaptureDevices devices);

  // The choices shown: list indexes (-1 for none; a stored device index outside the list shows
  // none and is kept), the standard and region by index in their tables.
  int m_nVideo = -1;
  int m_nAudio = -1;
  int m_nStandard = 0;
  int m_nRegion = 0;
  // Set by OK when something else than before was stored.
  bool m_bChanged = false;

  BOOL OnInitDialog() override;
  void OnOK() override;

 protected:
  bool OnCommand(UINT id, UINT code) override;

 private:
  void FillAudio();
  void EnableStandards();
  void OnVideoChange();
  void OnRegionChange();
  void ReadChoices();
  bool CardTakes(const char* key) const;

  CaptureDevices m_devices;
  int m_nStoredVideo = 0, m_nStoredAudio = 0;
  CComboBox m_video, m_audio, m_standard, m_region;
};

// The tabbed settings sheet (channel, video, audio, device and recording pages) and the flow that
// runs it for the video window.
#pragma once

#include "common/CaptureDevices.h"
#include "platform/ui/afxdlgs.h"

#include <functional>

class CConfigSheet : public CPropertySheet {
 public:
  CConfigSheet(LPCSTR caption, CWnd* parent = nullptr, UINT selectPage = 0);

 protected:
  BOOL OnInitDialog() override;
};

// The settings flow of the video window's command 24. The video window passes itself, the panel's
// handle and its own picture-settings operations: `savePicture` stores the capture device's current
// picture values in the Video key before the sheet opens, `loadPicture` reads them back and applies
// them after the sheet was accepted. The device page lists `devices`; when OK stored another choice
// there, `applyDevices` runs (before `loadPicture`, so the levels reach the new card); when the
// recording page stored another choice, `applyRecording` runs next, and `applySound` when the audio
// page stored another choice of sound through or the video page one of captions (both rebuild the
// live picture). On IDOK the panel gets code 24 first. Returns what
// the sheet returned.
int RunConfigSheet(CWnd* videoWnd, HWND hwndPanel, const std::function<void()>& savePicture,
                   const std::function<void()>& loadPicture, CaptureDevices devices = {},
                   const std::function<void()>& applyDevices = {}, const std::function<void()>& applyRecording = {},
                   const std::function<void()>& applySound = {});

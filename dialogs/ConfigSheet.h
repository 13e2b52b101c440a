// The tabbed settings sheet (channel, video and audio pages) and the flow that runs it for the
// video window.
#pragma once

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
// them after the sheet was accepted. On IDOK the panel gets code 24 first, then `loadPicture` runs.
// Returns what the sheet returned.
int RunConfigSheet(CWnd* videoWnd, HWND hwndPanel, const std::function<void()>& savePicture,
                   const std::function<void()>& loadPicture);

// The application object: start-up checks, the two main windows, their placement, shutdown.
#pragma once

#include "platform/ui/afxwin.h"

class CVideoWnd;
class CPanelWnd;

// Where the two windows open, from the saved placement corrected against the desktop.
struct WindowPlacement {
  int panelLeft, panelTop;
  int videoLeft, videoTop, videoWidth, videoHeight;
};

// Reads the placement values from an open Position key (nullptr: every value takes its default).
WindowPlacement ReadWindowPlacement(HKEY key, const RECT& desktop);

class CTunerApp : public CWinApp {
 public:
  CTunerApp();
  BOOL InitInstance() override;
  int ExitInstance() override;
  BOOL OnCmdMsg(UINT id);  // routes ID_HELP to the default help handler
  void OnTerminateSignal() override;

  // The start-up checks: a running copy, the colour depth. False means the program must end.
  bool StartupChecks();
  // Chooses the resource module for the system language.
  void LoadLanguageModule();

  CVideoWnd* m_pVideoWnd = nullptr;
  CPanelWnd* m_pPanelWnd = nullptr;
};


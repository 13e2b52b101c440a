// The framed, resizable window that shows the live picture, owns the capture engine and carries
// out the panel's and the settings pages' commands.
#pragma once

#include "mixer/Mixer.h"
#include "platform/ui/afxwin.h"

#include <memory>

class CCaptureGraph;
class CLevelsDlg;
class CLevelsSource;

class CVideoWnd : public CWnd {
 public:
  CVideoWnd();
  ~CVideoWnd() override;
  virtual BOOL Create(LPCSTR title, const RECT& rect);

  CCaptureGraph* m_pGraph = nullptr;  // the capture engine, from creation to teardown
  HWND m_hwndPanel = nullptr;         // the control panel; set by start-up once both windows exist
  CDC m_dcFrame;                      // holds the frame bitmap for the life of the window
  int m_nPictureTarget = 0;           // an AdjustTarget
  BOOL m_bTopMost = FALSE;

  static constexpr UINT kClassStyle = CS_DBLCLKS | CS_OWNDC | CS_NOCLOSE;
  static constexpr DWORD kStyle = WS_POPUP | WS_THICKFRAME;

  void PlaceVideo();
  // The picture's place in the client area for the current size and zoom state.
  RECT PictureRect() const;
  void LoadPictureSettings();
  void SavePictureSettings();
  void LoadChannelSettings();
  BOOL SetTopMost(BOOL on);
  // Code 27: the capture settings dialog, then a capture ended by the status dialog or the timer.
  void CaptureFlow();
  // Code 60: the levels window opens beside this window, or an open one comes to the front.
  void OpenLevels();

  int OnCreate(LPCREATESTRUCT cs);
  void OnPaint();
  void OnSize(UINT nType, int cx, int cy);
  void OnGetMinMaxInfo(MINMAXINFO* mmi);
  void OnDestroy();
  void OnLButtonDown(UINT nFlags, CPoint point);
  void OnLButtonDblClk(UINT nFlags, CPoint point);
  void OnRButtonDown(UINT nFlags, CPoint point);
  void OnKeyDown(UINT nChar, UINT nRepCnt, UINT nFlags);
  void OnSysKeyDown(UINT nChar, UINT nRepCnt, UINT nFlags);
  void OnTimer(UINT_PTR nIDEvent);
  LRESULT OnTunerNotify(WPARAM code, LPARAM arg);
  // The speakers' volume or mute changed (the panel's buttons, the audio page, another program).
  LRESULT OnMixerControlChange(WPARAM hmixer, LPARAM control);

  bool TornDown() const { return m_bTornDown; }

 protected:
  bool OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;

 private:
  void ForwardKey(UINT message, UINT nChar, UINT nRepCnt, UINT nFlags);
  void SetPicture(int target, int value);
  // Ends a timed capture as its limit does: the file closed, the panel told, one result box.
  void EndTimedCapture();
  // The capture command during a timed capture: asks whether to end it now.
  void AskEndTimedCapture();
  CBitmap m_bmpFrame;
  std::unique_ptr<CLevelsSource> m_pLevels;  // the engine's measures, for the windows that show them
  std::unique_ptr<CLevelsDlg> m_pLevelsDlg;
  // Where the mixer is virtual its master volume and mute reach no speakers: the sound played
  // through takes them instead.
  CMixer m_mixer;
  void ApplySoundLevel();
  bool m_bTornDown = false;
  bool m_bStartingCapture = false;  // the capture settings dialog is open, or its capture starting
  bool m_bAskingEnd = false;        // the question whether to end a timed capture is open
};

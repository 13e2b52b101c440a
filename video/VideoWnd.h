// The framed, resizable window that shows the live picture and carries out the panel's commands.
#pragma once

#include "platform/ui/afxwin.h"

class CVideoWnd : public CWnd {
 public:
  CVideoWnd();
  ~CVideoWnd() override;
  virtual BOOL Create(LPCSTR title, const RECT& rect);

  HWND m_hwndPanel = nullptr;  // the control panel; set by start-up once both windows exist
  int m_nPictureTarget = 0;    // 0 brightness, 1 contrast, 2 hue, 3 saturation
  BOOL m_bTopMost = FALSE;

  // Window class and style of the video window.
  static constexpr UINT kClassStyle = CS_DBLCLKS | CS_OWNDC | CS_NOCLOSE;
  static constexpr DWORD kStyle = WS_POPUP | WS_THICKFRAME;

  int OnCreate(LPCREATESTRUCT cs);
  void OnDestroy();
  void OnGetMinMaxInfo(MINMAXINFO* mmi);
  void OnKeyDown(UINT nChar, UINT nRepCnt, UINT nFlags);
  void OnSysKeyDown(UINT nChar, UINT nRepCnt, UINT nFlags);
  LRESULT OnTunerNotify(WPARAM code, LPARAM arg);

  bool TornDown() const { return m_bTornDown; }

 protected:
  bool OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;

 private:
  void ForwardKey(UINT message, UINT nChar, UINT nRepCnt, UINT nFlags);
  bool m_bTornDown = false;
};

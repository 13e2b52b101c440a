// The skinned control panel.
#pragma once

#include "platform/ui/afxwin.h"

class CPanelWnd : public CWnd {
 public:
  CPanelWnd();
  ~CPanelWnd() override;
  virtual BOOL Create(LPCSTR title, const RECT& rect);

  HWND m_hwndVideo = nullptr;  // the video window; set by start-up once both windows exist

  static constexpr int kWidth = 550;
  static constexpr int kHeight = 150;

  int OnCreate(LPCREATESTRUCT cs);
  void OnSysKeyDown(UINT nChar, UINT nRepCnt, UINT nFlags);
  LRESULT OnTunerNotify(WPARAM code, LPARAM arg);
  BOOL PreTranslateMessage(MSG* pMsg) override;

  // The exit command: the video window tears down, the channel lists are saved, the loop ends.
  void ExitProgram();

 protected:
  bool OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;
};

// The lid over the panel's lower button row: shown at start, opened by a double-click.
#pragma once

#include "platform/ui/afxwin.h"

class CCoverWnd : public CWnd {
 public:
  CCoverWnd();
  ~CCoverWnd() override;
  virtual BOOL Create(const RECT& rect, CWnd* pParentWnd, UINT nID);

  int OnCreate(LPCREATESTRUCT cs);
  void OnLButtonDblClk(UINT nFlags, CPoint point);
  void OnPaint();

  CDC m_dcCover;

 protected:
  bool OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;

 private:
  CBitmap m_bmpCover;  // stays selected into m_dcCover for the window's lifetime
};

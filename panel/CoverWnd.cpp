#include "panel/CoverWnd.h"

#include "res/layout.h"
#include "res/resource.h"

CCoverWnd::CCoverWnd() = default;

CCoverWnd::~CCoverWnd() {
  if (m_hWnd) DestroyWindow();
}

BOOL CCoverWnd::Create(const RECT& rect, CWnd* pParentWnd, UINT nID) {
  LPCSTR cls = AfxRegisterWndClass(CS_DBLCLKS | CS_OWNDC | CS_NOCLOSE, 0, 0, 0);
  // Created hidden: the panel shows it.
  return CreateEx(0, cls, "COVER", WS_CHILD, rect, pParentWnd, nID);
}

bool CCoverWnd::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  static const MsgMapEntry<CCoverWnd> map[] = {
      {WM_CREATE, afxmsg::Create<&CCoverWnd::OnCreate>},
      {WM_LBUTTONDBLCLK, afxmsg::Mouse<&CCoverWnd::OnLButtonDblClk>},
      {WM_PAINT, afxmsg::Void<&CCoverWnd::OnPaint>},
  };
  return DispatchMsgMap(*this, map, message, wParam, lParam, result) || CWnd::OnWndMsg(message, wParam, lParam, result);
}

int CCoverWnd::OnCreate(LPCREATESTRUCT cs) {
  if (CWnd::OnCreate(cs) == -1) return -1;
  CClientDC dc(this);
  m_dcCover.CreateCompatibleDC(&dc);
  // A missing bitmap leaves the lid blank; it still covers the buttons.
  m_bmpCover.LoadBitmap(IDB_COVER);
  m_dcCover.SelectObject(&m_bmpCover);
  return 0;
}

void CCoverWnd::OnPaint() {
  CPaintDC dc(this);
  dc.BitBlt(0, 0, layout::kCoverWidth, layout::kCoverHeight, &m_dcCover, 0, 0, SRCCOPY);
}

void CCoverWnd::OnLButtonDblClk(UINT, CPoint) {
  ShowWindow(SW_HIDE);
  Default();
}

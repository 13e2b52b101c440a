#include "panel/PanelWnd.h"

#include "app/Commands.h"
#include "res/resource.h"

CPanelWnd::CPanelWnd() = default;
CPanelWnd::~CPanelWnd() = default;

BOOL CPanelWnd::Create(LPCSTR title, const RECT& rect) {
  LPCSTR cls = AfxRegisterWndClass(CS_DBLCLKS, IDC_ARROW, COLOR_BTNFACE + 1, IDI_APP);
  // Only the origin counts: the panel is always 550 by 150.
  return CreateEx(0, cls, title, WS_POPUP | WS_MINIMIZEBOX, rect.left, rect.top, kWidth, kHeight, nullptr, 0);
}

bool CPanelWnd::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  static const MsgMapEntry<CPanelWnd> map[] = {
      {WM_CREATE, afxmsg::Create<&CPanelWnd::OnCreate>},
      {WM_SYSKEYDOWN, afxmsg::Key<&CPanelWnd::OnSysKeyDown>},
      {WM_TUNER_NOTIFY, afxmsg::Raw<&CPanelWnd::OnTunerNotify>},
  };
  return DispatchMsgMap(*this, map, message, wParam, lParam, result) || CWnd::OnWndMsg(message, wParam, lParam, result);
}

int CPanelWnd::OnCreate(LPCREATESTRUCT cs) {
  if (CWnd::OnCreate(cs) == -1) return -1;
  return 0;
}

BOOL CPanelWnd::PreTranslateMessage(MSG* pMsg) {
  // Alt+F4 must not close the panel.
  if (pMsg->message == WM_SYSKEYDOWN && pMsg->wParam == VK_F4) return TRUE;
  return CWnd::PreTranslateMessage(pMsg);
}

void CPanelWnd::OnSysKeyDown(UINT nChar, UINT nRepCnt, UINT nFlags) {
  if (nChar == VK_ADD) ExitProgram();
  CWnd::OnSysKeyDown(nChar, nRepCnt, nFlags);
}

void CPanelWnd::ExitProgram() {
  ::SendMessageA(m_hwndVideo, WM_DESTROY, 0, 0);
  PostQuitMessage(0);
}

LRESULT CPanelWnd::OnTunerNotify(WPARAM, LPARAM) { return 0; }

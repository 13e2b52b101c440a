#include "video/VideoWnd.h"

#include "app/Commands.h"
#include "res/resource.h"

CVideoWnd::CVideoWnd() = default;
CVideoWnd::~CVideoWnd() = default;

BOOL CVideoWnd::Create(LPCSTR title, const RECT& rect) {
  LPCSTR cls = AfxRegisterWndClass(kClassStyle, IDC_ARROW, COLOR_HIGHLIGHTTEXT + 1, IDI_APP);
  return CreateEx(0, cls, title, kStyle, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, nullptr,
                  0);
}

bool CVideoWnd::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  static const MsgMapEntry<CVideoWnd> map[] = {
      {WM_CREATE, afxmsg::Create<&CVideoWnd::OnCreate>},
      {WM_DESTROY, afxmsg::Void<&CVideoWnd::OnDestroy>},
      {WM_GETMINMAXINFO, afxmsg::MinMax<&CVideoWnd::OnGetMinMaxInfo>},
      {WM_KEYDOWN, afxmsg::Key<&CVideoWnd::OnKeyDown>},
      {WM_SYSKEYDOWN, afxmsg::Key<&CVideoWnd::OnSysKeyDown>},
      {WM_TUNER_NOTIFY, afxmsg::Raw<&CVideoWnd::OnTunerNotify>},
  };
  return DispatchMsgMap(*this, map, message, wParam, lParam, result) || CWnd::OnWndMsg(message, wParam, lParam, result);
}

int CVideoWnd::OnCreate(LPCREATESTRUCT cs) {
  if (CWnd::OnCreate(cs) == -1) return -1;
  return 0;
}

void CVideoWnd::OnDestroy() {
  CWnd::OnDestroy();
  // The panel's exit command destroys us before the application deletes the window: once only.
  if (m_bTornDown) return;
  m_bTornDown = true;
}

void CVideoWnd::OnGetMinMaxInfo(MINMAXINFO* mmi) {
  mmi->ptMinTrackSize.x = 128;
  mmi->ptMinTrackSize.y = 100;
}

void CVideoWnd::ForwardKey(UINT message, UINT nChar, UINT nRepCnt, UINT nFlags) {
  // The panel's key map is the program's one keyboard map.
  const LPARAM l = static_cast<LPARAM>(nRepCnt & 0xFFFF) | (static_cast<LPARAM>(nFlags & 0xFFFF) << 16);
  ::SendMessageA(m_hwndPanel, message, nChar, l);
}

void CVideoWnd::OnKeyDown(UINT nChar, UINT nRepCnt, UINT nFlags) { ForwardKey(WM_KEYDOWN, nChar, nRepCnt, nFlags); }

void CVideoWnd::OnSysKeyDown(UINT nChar, UINT nRepCnt, UINT nFlags) {
  ForwardKey(WM_SYSKEYDOWN, nChar, nRepCnt, nFlags);
}

LRESULT CVideoWnd::OnTunerNotify(WPARAM code, LPARAM arg) {
  switch (code) {
    case VideoCmd::AdjustTarget:
      m_nPictureTarget = static_cast<int>(arg);
      break;
    default:
      break;  // codes this window does not know are ignored
  }
  return 0;
}

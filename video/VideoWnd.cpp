#include "video/VideoWnd.h"

#include "common/Commands.h"
#include "common/Settings.h"
#include "capture/CaptureGraph.h"
#include "dialogs/CaptureDlg.h"
#include "dialogs/CaptureStatusDlg.h"
#include "dialogs/ConfigSheet.h"
#include "dialogs/LevelsDlg.h"
#include "platform/ui/afxres.h"
#include "res/layout.h"
#include "res/resource.h"

#include <algorithm>

namespace {

// Pieces of the frame bitmap: source x, y, width, height.
struct Piece {
  int x, y, w, h;
};
constexpr Piece kTop{26, 0, 25, 20}, kBottom{26, 51, 25, 20}, kLeft{0, 21, 24, 20}, kRight{26, 21, 25, 20};
constexpr Piece kTopLeft{0, 0, 25, 20}, kTopRight{52, 0, 25, 20}, kBottomLeft{0, 51, 25, 20},
    kBottomRight{52, 51, 25, 20};

// The capture engine's measures, whichever graph it has at the moment.
class CEngineLevels : public CLevelsSource {
 public:
  explicit CEngineLevels(const CVideoWnd* video) : m_pVideo(video) {}
  void WatchPicture(bool on) override {
    if (m_pVideo->m_pGraph) m_pVideo->m_pGraph->WatchLevels(on ? TRUE : FALSE);
  }
  bool ReadPicture(orv::PictureLevels* levels) override {
    return m_pVideo->m_pGraph && m_pVideo->m_pGraph->ReadPictureLevels(levels);
  }
  bool ReadSound(orv::SoundLevels* levels) override {
    return m_pVideo->m_pGraph && m_pVideo->m_pGraph->ReadSoundLevels(levels);
  }
  void ClearClip() override {
    if (m_pVideo->m_pGraph) m_pVideo->m_pGraph->ClearClipMarks();
  }

 private:
  const CVideoWnd* m_pVideo;
};

}  // namespace

CVideoWnd::CVideoWnd() : m_pLevels(std::make_unique<CEngineLevels>(this)) {}

CVideoWnd::~CVideoWnd() {
  // Destroy while this object is whole; the teardown has normally run already and does not repeat.
  if (m_hWnd) DestroyWindow();
}

BOOL CVideoWnd::Create(LPCSTR title, const RECT& rect) {
  LPCSTR cls = AfxRegisterWndClass(kClassStyle, IDC_ARROW, COLOR_HIGHLIGHTTEXT + 1, IDI_APP);
  return CreateEx(0, cls, title, kStyle, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, nullptr,
                  0);
}

bool CVideoWnd::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  static const MsgMapEntry<CVideoWnd> map[] = {
      {WM_CREATE, afxmsg::Create<&CVideoWnd::OnCreate>},
      {WM_PAINT, afxmsg::Void<&CVideoWnd::OnPaint>},
      {WM_SIZE, afxmsg::Size<&CVideoWnd::OnSize>},
      {WM_GETMINMAXINFO, afxmsg::MinMax<&CVideoWnd::OnGetMinMaxInfo>},
      {WM_DESTROY, afxmsg::Void<&CVideoWnd::OnDestroy>},
      {WM_LBUTTONDOWN, afxmsg::Mouse<&CVideoWnd::OnLButtonDown>},
      {WM_LBUTTONDBLCLK, afxmsg::Mouse<&CVideoWnd::OnLButtonDblClk>},
      {WM_RBUTTONDOWN, afxmsg::Mouse<&CVideoWnd::OnRButtonDown>},
      {WM_KEYDOWN, afxmsg::Key<&CVideoWnd::OnKeyDown>},
      {WM_SYSKEYDOWN, afxmsg::Key<&CVideoWnd::OnSysKeyDown>},
      {WM_TIMER, afxmsg::Timer<&CVideoWnd::OnTimer>},
      {WM_TUNER_NOTIFY, afxmsg::Raw<&CVideoWnd::OnTunerNotify>},
      {MM_MIXM_CONTROL_CHANGE, afxmsg::Raw<&CVideoWnd::OnMixerControlChange>},
  };
  return DispatchMsgMap(*this, map, message, wParam, lParam, result) || CWnd::OnWndMsg(message, wParam, lParam, result);
}

int CVideoWnd::OnCreate(LPCREATESTRUCT cs) {
  if (CWnd::OnCreate(cs) == -1) return -1;
  CClientDC dc(this);
  m_dcFrame.CreateCompatibleDC(&dc);
  if (m_bmpFrame.LoadBitmap(IDB_FRAME)) m_dcFrame.SelectObject(&m_bmpFrame);
  m_pGraph = new CCaptureGraph(this);
  m_pGraph->LoadProfile();
  m_pGraph->Restart();
  LoadPictureSettings();
  LoadChannelSettings();
  m_mixer.m_hwndNotify = m_hWnd;
  m_mixer.m_nMaxLevel = kVolumeMax;
  m_mixer.Open();
  ApplySoundLevel();
  return 0;
}

LRESULT CVideoWnd::OnMixerControlChange(WPARAM, LPARAM) {
  ApplySoundLevel();
  return 0;
}

void CVideoWnd::ApplySoundLevel() {
  if (!m_pGraph) return;
  if (!m_mixer.IsVirtual()) {
    m_pGraph->SetSoundThroughLevel(0xFFFF, FALSE);  // the mixer sets the speakers
    return;
  }
  const int level = std::clamp(m_mixer.GetVolume(MIXLINE_MASTER), 0, kVolumeMax);
  m_pGraph->SetSoundThroughLevel(static_cast<LONG>(level * 0xFFFF / kVolumeMax), m_mixer.GetMute(MIXLINE_MASTER));
}

void CVideoWnd::OnPaint() {
  CPaintDC dc(this);
  if (IsZoomed()) return;
  RECT rc;
  GetClientRect(&rc);
  const int W = rc.right, H = rc.bottom;
  dc.FillSolidRect(&rc, layout::kFrameFill);
  auto stretch = [&](int x, int y, int w, int h, const Piece& p) {
    dc.StretchBlt(x, y, w, h, &m_dcFrame, p.x, p.y, p.w, p.h, SRCCOPY);
  };
  auto copy = [&](int x, int y, const Piece& p) { dc.BitBlt(x, y, p.w, p.h, &m_dcFrame, p.x, p.y, SRCCOPY); };
  stretch(25, 0, W - 50, 20, kTop);
  stretch(25, H - 20, W - 50, 20, kBottom);
  stretch(0, 20, 24, H - 20, kLeft);
  stretch(W - 25, 20, 25, H - 40, kRight);
  copy(0, 0, kTopLeft);
  copy(W - 25, 0, kTopRight);
  copy(0, H - 20, kBottomLeft);
  copy(W - 25, H - 20, kBottomRight);
}

RECT CVideoWnd::PictureRect() const {
  RECT rc;
  GetClientRect(&rc);
  // Width and height travel in right and bottom, as the engine takes them.
  if (IsZoomed()) return RECT{0, 0, rc.right, rc.bottom};
  return RECT{9, 18, rc.right - 18, rc.bottom - 34};
}

void CVideoWnd::PlaceVideo() {
  if (!m_pGraph) return;
  const RECT r = PictureRect();
  m_pGraph->SetVideoPosition(&r);
}

void CVideoWnd::OnSize(UINT nType, int cx, int cy) {
  CWnd::OnSize(nType, cx, cy);
  PlaceVideo();
  InvalidateRect(nullptr, FALSE);
}

void CVideoWnd::OnGetMinMaxInfo(MINMAXINFO* mmi) {
  mmi->ptMinTrackSize.x = 128;
  mmi->ptMinTrackSize.y = 100;
}

void CVideoWnd::OnDestroy() {
  CWnd::OnDestroy();
  // The panel's exit command destroys us before the application deletes the window: once only.
  if (m_bTornDown) return;
  m_bTornDown = true;
  m_pLevelsDlg.reset();  // its place kept while the engine it watches is still here
  if (!m_pGraph) return;
  SavePictureSettings();
  m_pGraph->StopPreview();
  m_pGraph->SaveProfile();
  delete m_pGraph;
  m_pGraph = nullptr;
}

void CVideoWnd::SavePictureSettings() {
  if (!m_pGraph) return;
  HKEY key = OpenSettingsKey(kKeyVideo);
  if (!key) return;
  WriteSettingDword(key, kPictureValueNames[ADJUST_BRIGHTNESS], m_pGraph->GetBrightness());
  WriteSettingDword(key, kPictureValueNames[ADJUST_CONTRAST], m_pGraph->GetContrast());
  WriteSettingDword(key, kPictureValueNames[ADJUST_HUE], m_pGraph->GetHue());
  WriteSettingDword(key, kPictureValueNames[ADJUST_SATURATION], m_pGraph->GetSaturation());
  CloseSettingsKey(key);
}

void CVideoWnd::LoadPictureSettings() {
  if (!m_pGraph) return;
  HKEY key = OpenSettingsKey(kKeyVideo);
  for (int target = 0; target < kAdjustTargets; ++target)
    SetPicture(target, ReadSettingWord(key, kPictureValueNames[target], kDefaultPictureLevel));
  CloseSettingsKey(key);
}

void CVideoWnd::LoadChannelSettings() {
  if (!m_pGraph) return;
  HKEY key = OpenSettingsKey(kKeyChannel);
  const StoredChannels stored = ReadStoredChannels(key);
  CloseSettingsKey(key);
  m_pGraph->SelectSource(stored.source);
  if (stored.source == SOURCE_TV)
    m_pGraph->TuneChannel(stored.tvChannel);
  else if (stored.source == SOURCE_CATV)
    m_pGraph->TuneChannel(stored.catvChannel);
}

BOOL CVideoWnd::SetTopMost(BOOL on) {
  return ::SetWindowPos(m_hWnd, on ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
}

void CVideoWnd::OnLButtonDown(UINT, CPoint point) {
  WINDOWPLACEMENT wp{};
  wp.length = sizeof wp;
  GetWindowPlacement(&wp);
  // Dragging by the picture or the frame moves the window, unless it fills the screen.
  if (wp.showCmd != SW_SHOWMAXIMIZED)
    DefWindowProc(WM_NCLBUTTONDOWN, HTCAPTION, MAKELPARAM(static_cast<WORD>(point.x), static_cast<WORD>(point.y)));
  Default();
}

void CVideoWnd::OnLButtonDblClk(UINT, CPoint) {
  WINDOWPLACEMENT wp{};
  wp.length = sizeof wp;
  GetWindowPlacement(&wp);
  wp.showCmd = wp.showCmd == SW_SHOWMAXIMIZED ? SW_SHOWNORMAL : SW_SHOWMAXIMIZED;
  SetWindowPlacement(&wp);
  Default();
}

void CVideoWnd::OnRButtonDown(UINT, CPoint) {
  if (m_bTopMost) {
    CString text, caption;
    text.LoadString(IDS_TOPMOST_QUESTION);
    caption.LoadString(IDS_TOPMOST_CAPTION);
    if (MessageBox(text, caption, MB_YESNO | MB_ICONQUESTION) == IDYES) {
      m_bTopMost = FALSE;
      SetTopMost(FALSE);
      ::SendMessageA(m_hwndPanel, WM_TUNER_NOTIFY, PanelCmd::TopMostOff, 0);
    }
  }
  // The right button always brings the panel back.
  ::ShowWindow(m_hwndPanel, SW_RESTORE);
  ::SetActiveWindow(m_hwndPanel);
  Default();
}

void CVideoWnd::ForwardKey(UINT message, UINT nChar, UINT nRepCnt, UINT nFlags) {
  // The panel's key map is the program's one keyboard map.
  const LPARAM l = static_cast<LPARAM>(nRepCnt & 0xFFFF) | (static_cast<LPARAM>(nFlags & 0xFFFF) << 16);
  ::SendMessageA(m_hwndPanel, message, nChar, l);
}

void CVideoWnd::OnKeyDown(UINT nChar, UINT nRepCnt, UINT nFlags) {
  ForwardKey(WM_KEYDOWN, nChar, nRepCnt, nFlags);
  Default();
}

void CVideoWnd::OnSysKeyDown(UINT nChar, UINT nRepCnt, UINT nFlags) {
  ForwardKey(WM_SYSKEYDOWN, nChar, nRepCnt, nFlags);
  Default();
}

void CVideoWnd::OnTimer(UINT_PTR nIDEvent) {
  // The capture timer runs while a capture with a time limit does.
  if (nIDEvent == kCaptureTimer && m_pGraph && m_pGraph->IsCaptureTimeUp()) EndTimedCapture();
  Default();
}

void CVideoWnd::EndTimedCapture() {
  m_pGraph->StopFileCapture();
  PlaceVideo();
  ::SendMessageA(m_hwndPanel, WM_TUNER_NOTIFY, PanelCmd::CaptureEnded, 0);
  m_pGraph->ShowCaptureResult();
}

void CVideoWnd::AskEndTimedCapture() {
  if (m_bAskingEnd) return;
  m_bAskingEnd = true;
  const int answer = MessageBox(AfxFormatString(IDS_CAPTURE_END_NOW).c_str(),
                                AfxFormatString(IDS_CAPTURE_END_CAPTION).c_str(), MB_YESNO | MB_ICONQUESTION);
  m_bAskingEnd = false;
  // The limit, a full disk or the exit may have ended it while the question was open.
  if (answer == IDYES && m_pGraph && m_pGraph->m_bCapturing) EndTimedCapture();
}

namespace {
// The status dialog, which also closes when the graph has ended the recording by itself (the disk
// is full), so that the user learns of it at once rather than when pressing the button.
class CCaptureWatchDlg : public CCaptureStatusDlg {
 public:
  CCaptureWatchDlg(const CVideoWnd* video, CLevelsSource* levels) : m_pVideo(video) { m_pLevels = levels; }

 protected:
  bool OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override {
    if (message == WM_TIMER && m_pVideo->m_pGraph && m_pVideo->m_pGraph->CaptureHalted()) {
      OnOK();
      *result = 0;
      return true;
    }
    return CCaptureStatusDlg::OnWndMsg(message, wParam, lParam, result);
  }
  LONG DroppedFrames() override { return m_pVideo->m_pGraph ? m_pVideo->m_pGraph->DroppedSoFar() : 0; }
  UINT StreamStatus() override {
    switch (m_pVideo->m_pGraph ? m_pVideo->m_pGraph->StreamStateSoFar() : CAPTURE_STREAM_OK) {
      case CAPTURE_STREAM_NO_SIGNAL: return IDS_STATUS_NO_SIGNAL;
      case CAPTURE_STREAM_RESTARTING: return IDS_STATUS_RESTARTING;
      default: return 0;
    }
  }

 private:
  const CVideoWnd* m_pVideo;
};
}  // namespace

void CVideoWnd::CaptureFlow() {
  // One capture at a time: while its settings dialog is open or an untimed one records (its status
  // dialog ends it), the command does nothing; a timed one has no dialog, so the command offers to
  // end it. The panel keeps CAP lit until it hears of the end.
  if (m_bStartingCapture) return;
  if (m_pGraph && m_pGraph->m_bCapturing) {
    if (m_pGraph->m_bTimed) AskEndTimedCapture();
    return;
  }
  CCaptureDlg dlg(this);
  m_bStartingCapture = true;
  if (dlg.DoModal() != IDOK || !m_pGraph) {
    m_bStartingCapture = false;
    ::SendMessageA(m_hwndPanel, WM_TUNER_NOTIFY, PanelCmd::CaptureEnded, 0);
    return;
  }
  const BOOL timed = dlg.GetUseTimeLimit() ? TRUE : FALSE;
  const int started = m_pGraph->StartFileCapture(dlg.GetCaptureFile(), timed, dlg.GetTimeLimit());
  m_bStartingCapture = false;
  PlaceVideo();
  if (!started) {
    // The engine has said why; nothing records, so there is nothing to wait for or report.
    ::SendMessageA(m_hwndPanel, WM_TUNER_NOTIFY, PanelCmd::CaptureEnded, 0);
    return;
  }
  if (timed) return;  // the capture timer ends it
  CCaptureWatchDlg status(this, m_pLevels.get());
  status.DoModal();
  // The program may have been ended while the dialog was open.
  if (m_pGraph) m_pGraph->StopFileCapture();
  PlaceVideo();
  ::SendMessageA(m_hwndPanel, WM_TUNER_NOTIFY, PanelCmd::CaptureEnded, 0);
  if (m_pGraph) m_pGraph->ShowCaptureResult();
}

void CVideoWnd::OpenLevels() {
  if (!m_pLevelsDlg || !::IsWindow(m_pLevelsDlg->m_hWnd)) m_pLevelsDlg = std::make_unique<CLevelsDlg>(m_pLevels.get());
  m_pLevelsDlg->Open(this);
}

void CVideoWnd::SetPicture(int target, int value) {
  switch (target) {
    case ADJUST_BRIGHTNESS: m_pGraph->SetBrightness(value); break;
    case ADJUST_CONTRAST: m_pGraph->SetContrast(value); break;
    case ADJUST_HUE: m_pGraph->SetHue(value); break;
    case ADJUST_SATURATION: m_pGraph->SetSaturation(value); break;
    default: break;
  }
}

LRESULT CVideoWnd::OnTunerNotify(WPARAM code, LPARAM arg) {
  const int n = static_cast<int>(arg);
  if (code == VideoCmd::AdjustTarget) {
    m_nPictureTarget = n;
    return 0;
  }
  if (code == VideoCmd::TopMost) {
    m_bTopMost = n;
    SetTopMost(n);
    return 0;
  }
  if (!m_pGraph) return 0;  // torn down: nothing that needs the engine
  switch (code) {
    case VideoCmd::ChannelUp:
    case VideoCmd::ChannelDown:
    case VideoCmd::TuneChannel:
      m_pGraph->TuneChannel(n & 0xFF);
      break;
    case VideoCmd::SelectSource:
      m_pGraph->SelectSource(n);
      PlaceVideo();
      break;
    case VideoCmd::AdjustValue:
    case VideoCmd::AdjustStep:
      SetPicture(m_nPictureTarget, n);
      break;
    case VideoCmd::OpenSettings:
      RunConfigSheet(this, m_hwndPanel, [this] { SavePictureSettings(); }, [this] { LoadPictureSettings(); },
                     m_pGraph->ListDevices(), [this] {
                       // The engine's own rebuild (its messages when a device fails), then the
                       // picture's place and the source and channel on the new graph.
                       m_pGraph->UseStoredDevices();
                       PlaceVideo();
                       LoadChannelSettings();
                     },
                     // The recording page may have changed the live picture's deinterlacing.
                     [this] { m_pGraph->ApplyPreviewDeinterlace(); },
                     [this] {
                       m_pGraph->ApplySoundThrough();
                       PlaceVideo();
                     });
      break;
    case VideoCmd::ScanTV:
      m_pGraph->StartChannelScan(reinterpret_cast<HWND>(arg), SOURCE_TV);
      break;
    case VideoCmd::ScanCATV:
      m_pGraph->StartChannelScan(reinterpret_cast<HWND>(arg), SOURCE_CATV);
      break;
    case VideoCmd::SetBrightness:
      m_pGraph->SetBrightness(n);
      break;
    case VideoCmd::SetContrast:
      m_pGraph->SetContrast(n);
      break;
    case VideoCmd::SetHue:
      m_pGraph->SetHue(n);
      break;
    case VideoCmd::SetSaturation:
      m_pGraph->SetSaturation(n);
      break;
    case VideoCmd::StopScan:
      m_pGraph->StopChannelScan();
      break;
    case VideoCmd::Capture:
      CaptureFlow();
      break;
    case VideoCmd::OpenLevels:
      OpenLevels();
      break;
    default:
      break;  // codes this window does not know are ignored
  }
  return 0;
}

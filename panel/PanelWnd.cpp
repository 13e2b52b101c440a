#include "panel/PanelWnd.h"

#include "common/ChannelPlans.h"
#include "common/Commands.h"
#include "common/Settings.h"
#include "dialogs/AboutDlg.h"
#include "res/layout.h"
#include "res/resource.h"

#include <algorithm>
#include <cstring>

namespace {

// Only a channel of the band: 0 and 1, which number entry can leave, are never stepped to.
void RegisterIfEmpty(char* list, const ChannelBand& band, int channel) {
  if (!std::memchr(list, '1', static_cast<size_t>(band.chars + 1)) && channel >= band.first && channel < band.chars)
    list[channel] = '1';
}

// One step of channel up or down at a time until a registered channel. A list with nothing
// registered in the band would never stop, so the walk gives up after a full pass (one more step
// than the band has covers a start below the band) and leaves the channel where it was.
bool StepToRegistered(int* channel, const char* list, const ChannelBand& band, int dir) {
  int c = *channel;
  // A registered number the region's plan lacks (E13..E20 in Western Europe) is stepped over.
  const orv::plans::Region& region = orv::plans::StoredRegion();
  const orv::plans::ChannelPlan& plan = &band == &kTVBand ? *region.broadcast : *region.cable;
  // The walk covers the plan's range (the band's own in Korea); a number outside the band's list
  // cannot be registered.
  const int first = plan.first, last = std::min(plan.last, band.chars - 1);
  for (int n = 0; n <= last - first + 1; ++n) {
    c += dir;
    if (dir > 0 && c > last) c = first;
    if (dir < 0 && c < first) c = last;
    if (list[c] != '0' && orv::plans::FindChannel(plan, c)) {
      *channel = c;
      return true;
    }
  }
  return false;
}

}  // namespace

CPanelWnd::CPanelWnd() = default;

CPanelWnd::~CPanelWnd() {
  if (m_hWnd) DestroyWindow();
}

BOOL CPanelWnd::Create(LPCSTR title, const RECT& rect) {
  LPCSTR cls = AfxRegisterWndClass(CS_DBLCLKS, IDC_ARROW, COLOR_BTNFACE + 1, IDI_APP);
  // Only the origin counts: the panel is always 550 by 150.
  return CreateEx(0, cls, title, WS_POPUP | WS_MINIMIZEBOX, rect.left, rect.top, kWidth, kHeight, nullptr, 0);
}

bool CPanelWnd::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  static const MsgMapEntry<CPanelWnd> map[] = {
      {WM_CREATE, afxmsg::Create<&CPanelWnd::OnCreate>},
      {WM_PAINT, afxmsg::Void<&CPanelWnd::OnPaint>},
      {WM_LBUTTONDOWN, afxmsg::Mouse<&CPanelWnd::OnLButtonDown>},
      {WM_MOUSEMOVE, afxmsg::Mouse<&CPanelWnd::OnMouseMove>},
      {WM_LBUTTONUP, afxmsg::Mouse<&CPanelWnd::OnLButtonUp>},
      {WM_NCHITTEST, afxmsg::HitTest<&CPanelWnd::OnNcHitTest>},
      {WM_KEYDOWN, afxmsg::Key<&CPanelWnd::OnKeyDown>},
      {WM_SYSKEYDOWN, afxmsg::Key<&CPanelWnd::OnSysKeyDown>},
      {WM_TIMER, afxmsg::Timer<&CPanelWnd::OnTimer>},
      {MM_MIXM_CONTROL_CHANGE, afxmsg::Raw<&CPanelWnd::OnMixerControlChange>},
      {WM_TUNER_NOTIFY, afxmsg::Raw<&CPanelWnd::OnTunerNotify>},
  };
  return DispatchMsgMap(*this, map, message, wParam, lParam, result) || CWnd::OnWndMsg(message, wParam, lParam, result);
}

// ---- Creation and drawing -------------------------------------------------------------------------

int CPanelWnd::OnCreate(LPCREATESTRUCT cs) {
  if (CWnd::OnCreate(cs) == -1) return -1;

  CClientDC dc(this);
  m_dcSkin.CreateCompatibleDC(&dc);
  m_dcSkinPressed.CreateCompatibleDC(&dc);
  m_dcLcd.CreateCompatibleDC(&dc);
  // A missing bitmap leaves its DC empty; the panel still runs.
  m_bmpSkin.LoadBitmap(IDB_SKIN);
  m_dcSkin.SelectObject(&m_bmpSkin);
  m_bmpSkinPressed.LoadBitmap(IDB_SKIN_PRESSED);
  m_dcSkinPressed.SelectObject(&m_bmpSkinPressed);
  m_bmpLcd.LoadBitmap(IDB_LCD);
  m_dcLcd.SelectObject(&m_bmpLcd);

  for (int i = 0; i < kButtonCount; ++i) m_rcButton[i] = layout::kButtons[i];

  m_wndCover.Create(layout::kCover, this, 3);
  m_wndCover.ShowWindow(SW_SHOW);

  SetWindowRgn(CreateRoundRectRgn(0, 0, layout::kSkinWidth, layout::kSkinHeight, 7, 7), TRUE);

  // Line-in feeds the card's sound: unmuted at every start, before the mixer is opened.
  m_mixer.SetMute(MIXLINE_LINEIN, FALSE);

  LoadChannelSettings();
  LoadVideoSettings();
  LoadAudioSettings();

  m_toolTip.Create(this, 0);
  m_toolTip.Activate(TRUE);
  m_toolTip.AddTool(this, "Orvane Tuner", nullptr, 0);
  m_toolTip.SetDelayTime(TTDT_AUTOMATIC, 1000);
  return 0;
}

void CPanelWnd::OnPaint() {
  CPaintDC dc(this);
  dc.BitBlt(0, 0, kWidth, kHeight, &m_dcSkin, 0, 0, SRCCOPY);
  DrawLcd(&dc);
}

void CPanelWnd::DrawLcd(CDC* pDC) {
  using namespace layout;
  const int s = m_nSource;
  const POINT label = SourceLabelAt(s), labelSprite = SourceSprite(s);
  pDC->BitBlt(label.x, label.y, kLabelSize.cx, kLabelSize.cy, &m_dcLcd, labelSprite.x, labelSprite.y, SRCCOPY);

  const BandView band = CurrentBand();
  const POINT ch = band ? kChLitSprite : kChUnlitSprite;
  pDC->BitBlt(kChAt.x, kChAt.y, kIndicatorSize.cx, kIndicatorSize.cy, &m_dcLcd, ch.x, ch.y, SRCCOPY);

  // Ten segments of 6 pixels, one per two levels.
  pDC->BitBlt(kVolumeAt.x, kVolumeAt.y, 6 * (m_nVolume / 2), kVolumeSize.cy, &m_dcLcd, kVolumeSprite.x,
              kVolumeSprite.y, SRCCOPY);
  if (!m_bMute)
    pDC->BitBlt(kSpeakerAt.x, kSpeakerAt.y, kSpeakerSize.cx, kSpeakerSize.cy, &m_dcLcd, kSpeakerSprite.x,
                kSpeakerSprite.y, SRCCOPY);
  if (m_bTopMost)
    pDC->BitBlt(kTopAt.x, kTopAt.y, kIndicatorSize.cx, kIndicatorSize.cy, &m_dcLcd, kTopSprite.x, kTopSprite.y, SRCCOPY);
  if (m_bCapture)
    pDC->BitBlt(kCapAt.x, kCapAt.y, kIndicatorSize.cx, kIndicatorSize.cy, &m_dcLcd, kCapSprite.x, kCapSprite.y, SRCCOPY);
  const POINT adjust = AdjustSprite(m_nAdjustTarget);
  pDC->BitBlt(kAdjustAt.x, kAdjustAt.y, kIndicatorSize.cx, kIndicatorSize.cy, &m_dcLcd, adjust.x, adjust.y, SRCCOPY);

  if (!band) return;  // the skin's unlit cells show
  const int n = *band.channel;
  int digit[3] = {(n / 100) % 10, (n / 10) % 10, n % 10};
  if (digit[0] == 0) {
    digit[0] = kUnlitGlyph;
    if (digit[1] == 0) digit[1] = kUnlitGlyph;
  }
  for (int k = 0; k < 3; ++k) {
    const POINT at = DigitAt(k), glyph = GlyphSprite(digit[k]);
    pDC->BitBlt(at.x, at.y, kGlyphSize.cx, kGlyphSize.cy, &m_dcLcd, glyph.x, glyph.y, SRCCOPY);
  }
}

void CPanelWnd::DrawButton(BOOL bPressed) {
  if (m_nButton < 0 || m_nButton >= kButtonCount) return;
  {
    CClientDC dc(this);
    const CRect r(m_rcButton[m_nButton]);
    dc.BitBlt(r.left, r.top, r.Width(), r.Height(), bPressed ? &m_dcSkinPressed : &m_dcSkin, r.left, r.top, SRCCOPY);
    m_bPressed = bPressed;
  }
}

void CPanelWnd::InvalidateDisplay() { InvalidateRect(&layout::kDisplay, FALSE); }

// ---- Mouse ----------------------------------------------------------------------------------------

int CPanelWnd::ButtonFromPoint(CPoint point) const {
  for (int i = 0; i < kButtonCount; ++i)
    if (::PtInRect(&m_rcButton[i], point)) return i;
  return BTN_NONE;
}

void CPanelWnd::OnLButtonDown(UINT, CPoint point) {
  m_nButton = ButtonFromPoint(point);
  if (m_nButton == BTN_NONE)
    m_bPressed = FALSE;
  else
    DrawButton(TRUE);
  Default();
}

void CPanelWnd::OnMouseMove(UINT nFlags, CPoint point) {
  if (nFlags & MK_LBUTTON) {
    const int i = ButtonFromPoint(point);
    if (i != m_nButton && m_bPressed) DrawButton(FALSE);
    if (i == m_nButton && !m_bPressed && m_nButton != BTN_NONE) DrawButton(TRUE);
  }
  Default();
}

void CPanelWnd::OnLButtonUp(UINT, CPoint) {
  if (m_nButton != BTN_NONE && m_bPressed) {
    DrawButton(FALSE);
    RunButton(m_nButton);
  }
  Default();
}

LRESULT CPanelWnd::OnNcHitTest(CPoint point) {
  CPoint client = point;
  ScreenToClient(&client);
  // Any point of the face that is not a button drags the panel.
  if (ButtonFromPoint(client) == BTN_NONE && !m_bPressed) return HTCAPTION;
  return Default();
}

BOOL CPanelWnd::PreTranslateMessage(MSG* pMsg) {
  // Alt+F4 must not close the panel.
  if (pMsg->message == WM_SYSKEYDOWN && pMsg->wParam == VK_F4) return TRUE;

  // The one tool is the whole panel; its text follows the button under the cursor.
  MSG msg = *pMsg;
  const bool mouse = msg.message >= WM_MOUSEFIRST && msg.message <= WM_MOUSELAST;
  ScreenToClient(&msg.pt);
  const int i = ButtonFromPoint(CPoint(msg.pt.x, msg.pt.y));
  if (msg.message == WM_LBUTTONDOWN || msg.message == WM_RBUTTONDOWN || i == BTN_NONE) {
    HideTip();
  } else {
    CString text;
    text.LoadString(IDS_TOOLTIP_FIRST + static_cast<UINT>(i));
    m_toolTip.UpdateTipText(text, this, 0);
    if (mouse) {
      msg.hwnd = m_hWnd;
      msg.lParam = MAKELPARAM(static_cast<WORD>(msg.pt.x), static_cast<WORD>(msg.pt.y));
    }
    m_toolTip.RelayEvent(&msg);
  }
  return CWnd::PreTranslateMessage(pMsg);
}

void CPanelWnd::HideTip() {
  m_toolTip.Pop();
}

// ---- Commands -------------------------------------------------------------------------------------

void CPanelWnd::SendVideoCommand(WPARAM code, LPARAM arg) { ::SendMessageA(m_hwndVideo, WM_TUNER_NOTIFY, code, arg); }

int CPanelWnd::MixerLine() const { return m_nAudioSelect ? MIXLINE_LINEIN : MIXLINE_MASTER; }

void CPanelWnd::RunButton(int nIndex) {
  switch (nIndex) {
    case BTN_EXIT:
      ExitProgram();
      break;
    case BTN_MINIMIZE:
      ShowWindow(SW_MINIMIZE);
      break;
    case BTN_VOLUME_UP:
      SetVolumeLevel(m_nVolume + 1 > kVolumeMax ? kVolumeMax : m_nVolume + 1);
      break;
    case BTN_VOLUME_DOWN:
      SetVolumeLevel(m_nVolume - 1 < 0 ? 0 : m_nVolume - 1);
      break;
    case BTN_CHANNEL_UP:
      ChannelUp();
      break;
    case BTN_CHANNEL_DOWN:
      ChannelDown();
      break;
    case BTN_ADD_CHANNEL:
      SetCurrentChannelFlag('1');
      break;
    case BTN_ERASE_CHANNEL:
      SetCurrentChannelFlag('0');
      break;
    case BTN_MUTE:
      m_bMute = !m_bMute;
      m_mixer.SetMute(MixerLine(), m_bMute);
      break;
    case BTN_SOURCE:
      NextSource();
      break;
    case BTN_LOGO: {
      CAboutDlg about;
      about.DoModal();
      break;
    }
    case BTN_ADJUST_TARGET:
      m_nAdjustTarget = (m_nAdjustTarget + 1) % kAdjustTargets;
      SendVideoCommand(VideoCmd::AdjustTarget, m_nAdjustTarget);
      break;
    case BTN_ADJUST_DOWN:
      AdjustPicture(-1);
      break;
    case BTN_ADJUST_UP:
      AdjustPicture(+1);
      break;
    case BTN_SETTINGS:
      // The channel page starts from the lists as they are now.
      SaveChannelSettings();
      SendVideoCommand(VideoCmd::OpenSettings, 0);
      break;
    case BTN_COVER:
      m_wndCover.ShowWindow(SW_SHOW);
      break;
    case BTN_TOPMOST:
      m_bTopMost = !m_bTopMost;
      SendVideoCommand(VideoCmd::TopMost, m_bTopMost);
      break;
    case BTN_CAPTURE:
      // While CAP is lit a capture (or its dialog) is under way and the video window decides: it
      // never starts a second one, but offers to end a timed one early.
      if (!m_bCapture) {
        // Lit before the send: the video window runs the whole capture inside it.
        m_bCapture = TRUE;
        Invalidate(TRUE);
      }
      SendVideoCommand(VideoCmd::Capture, 0);
      break;
    default:
      // The digits 1 to 9 and 0.
      if (nIndex >= BTN_DIGIT_1 && nIndex <= BTN_DIGIT_0) EnterDigit();
      break;
  }
  InvalidateDisplay();
}

void CPanelWnd::SetVolumeLevel(int level) {
  m_nVolume = level;
  m_nWrittenVolume = level;
  m_mixer.SetVolume(MixerLine(), level);
}

void CPanelWnd::ExitProgram() {
  // Never from inside a box or dialog (an engine error, the capture result, the settings sheet):
  // its caller would return into a torn-down engine. They are closed first; the end follows.
  const HWND self = m_hWnd;
  orv::ui::RunOutsideModalLoops([self] {
    auto* panel = dynamic_cast<CPanelWnd*>(CWnd::FromHandle(self));
    if (!panel) return;
    ::SendMessageA(panel->m_hwndVideo, WM_DESTROY, 0, 0);
    panel->SaveChannelSettings();
    PostQuitMessage(0);
  });
}

void CPanelWnd::NextSource() {
  // A number entry belongs to the band it was typed for; it ends when the band changes.
  CancelNumberEntry();
  m_nSource = m_nSource >= SOURCE_SVIDEO ? SOURCE_TV : m_nSource + 1;
  SendVideoCommand(VideoCmd::SelectSource, m_nSource);
  if (const BandView b = CurrentBand()) SendVideoCommand(VideoCmd::TuneChannel, *b.channel);
}

int* CPanelWnd::PictureValue(int target) {
  int* value[kAdjustTargets] = {&m_nBright, &m_nContrast, &m_nHue, &m_nSaturation};
  return value[target];
}

void CPanelWnd::AdjustPicture(int delta) {
  int& v = *PictureValue(m_nAdjustTarget);
  v += delta;
  if (v < 0) v = 0;
  if (v > kPictureLevelMax) v = kPictureLevelMax;
  SendVideoCommand(VideoCmd::AdjustStep, v);
}

// ---- Keyboard and number entry --------------------------------------------------------------------

int CPanelWnd::KeyToButton(UINT nChar) {
  switch (nChar) {
    case VK_UP: return BTN_CHANNEL_UP;
    case VK_DOWN: return BTN_CHANNEL_DOWN;
    case VK_RIGHT: return BTN_VOLUME_UP;
    case VK_LEFT: return BTN_VOLUME_DOWN;
    case VK_DELETE: return BTN_MUTE;
    case VK_DIVIDE: return BTN_SOURCE;
    case VK_ADD: return BTN_ADD_CHANNEL;
    case VK_SUBTRACT: return BTN_ERASE_CHANNEL;
    case VK_INSERT: return BTN_ADJUST_TARGET;
    case VK_HOME: return BTN_ADJUST_UP;
    case VK_END: return BTN_ADJUST_DOWN;
    case VK_MULTIPLY:
      ::SendMessageA(m_hwndVideo, WM_LBUTTONDBLCLK, 0, 0);  // zoom
      return BTN_NONE;
    default:
      break;
  }
  if (nChar >= '1' && nChar <= '9') return static_cast<int>(nChar - '1') + BTN_DIGIT_1;
  if (nChar >= VK_NUMPAD1 && nChar <= VK_NUMPAD9) return static_cast<int>(nChar - VK_NUMPAD1) + BTN_DIGIT_1;
  if (nChar == '0' || nChar == VK_NUMPAD0) return BTN_DIGIT_0;
  return BTN_NONE;
}

void CPanelWnd::OnKeyDown(UINT nChar, UINT nRepCnt, UINT nFlags) {
  if (nFlags != 0) {
    // A button held with the mouse is let go first: the key takes over m_nButton, and the
    // mouse's release must not run the key's button (or a button of index -1).
    if (m_bPressed) DrawButton(FALSE);
    m_nButton = KeyToButton(nChar);
    // Buttons under a shown cover run without the flash.
    if (m_nButton != BTN_NONE && (!m_wndCover.IsWindowVisible() || m_nButton <= BTN_LOGO)) {
      DrawButton(TRUE);
      Sleep(50);
      DrawButton(FALSE);
    }
    RunButton(m_nButton);
    m_nButton = BTN_NONE;  // the key's press is over; nothing is left for the mouse to track
  }
  Default();
}

void CPanelWnd::OnSysKeyDown(UINT nChar, UINT nRepCnt, UINT nFlags) {
  if (nChar == VK_ADD) ExitProgram();
  Default();
}

void CPanelWnd::EnterDigit() {
  const int d = m_nButton == BTN_DIGIT_0 ? 0 : m_nButton - BTN_DIGIT_1 + 1;
  // The current channel itself holds the number typed so far, so the display shows it.
  if (const BandView b = CurrentBand()) {
    if (m_nDigitCount == 0) {
      m_nSavedChannel = *b.channel;
      *b.channel = d;
    } else {
      KillTimer(kEntryTimer);
      *b.channel = *b.channel * 10 + d;
    }
    if (++m_nDigitCount < b.band->digits) {
      SetTimer(kEntryTimer, kEntryTimeout, nullptr);
    } else {
      // The full count of digits commits at once, unless past the band's end.
      m_nDigitCount = 0;
      if (*b.channel > b.band->last) *b.channel = m_nSavedChannel;
      SendVideoCommand(VideoCmd::TuneChannel, *b.channel);
    }
  }
  InvalidateDisplay();
}

void CPanelWnd::CancelNumberEntry() {
  if (m_nDigitCount == 0) return;
  KillTimer(kEntryTimer);
  if (const BandView b = CurrentBand()) *b.channel = m_nSavedChannel;
  m_nDigitCount = 0;
}

void CPanelWnd::OnTimer(UINT_PTR nIDEvent) {
  if (nIDEvent == kEntryTimer) {
    KillTimer(kEntryTimer);
    // A number below the band's first channel brings the previous channel back.
    if (const BandView b = CurrentBand()) {
      if (*b.channel < b.band->first) *b.channel = m_nSavedChannel;
      SendVideoCommand(VideoCmd::TuneChannel, *b.channel);
    }
    m_nDigitCount = 0;
  }
  InvalidateDisplay();
  Default();
}

// ---- Notices --------------------------------------------------------------------------------------

LRESULT CPanelWnd::OnMixerControlChange(WPARAM, LPARAM) {
  m_nVolume = KeepWrittenLevel(m_mixer.GetVolume(MixerLine()), m_nWrittenVolume);
  m_bMute = m_mixer.GetMute(MixerLine());
  InvalidateDisplay();
  return 0;
}

LRESULT CPanelWnd::OnTunerNotify(WPARAM code, LPARAM) {
  switch (code) {
    case PanelCmd::SettingsAccepted:
      // The settings command repaints the display when its own send returns.
      LoadChannelSettings();
      LoadAudioSettings();
      LoadVideoSettings();
      break;
    case PanelCmd::TopMostOff:
      m_bTopMost = FALSE;
      Invalidate(TRUE);
      break;
    case PanelCmd::CaptureEnded:
      m_bCapture = FALSE;
      Invalidate(TRUE);
      break;
    default:
      break;
  }
  return 0;
}

// ---- Settings -------------------------------------------------------------------------------------

void CPanelWnd::LoadAudioSettings() {
  m_mixer.m_hwndNotify = m_hWnd;
  m_mixer.m_nMaxLevel = kVolumeMax;
  m_mixer.Open();
  m_nWrittenVolume = -1;
  HKEY key = OpenSettingsKey(kKeyAudio);
  m_nAudioSelect = ReadSettingWord(key, "Selection", 0);
  // The master line whatever the selection: the next mixer notice brings the selected line.
  m_nVolume = m_mixer.GetVolume(MIXLINE_MASTER);
  m_bMute = m_mixer.GetMute(MIXLINE_MASTER);
  CloseSettingsKey(key);
}

void CPanelWnd::LoadVideoSettings() {
  HKEY key = OpenSettingsKey(kKeyVideo);
  for (int target = 0; target < kAdjustTargets; ++target)
    *PictureValue(target) = ReadSettingWord(key, kPictureValueNames[target], kDefaultPictureLevel);
  CloseSettingsKey(key);
}

void CPanelWnd::LoadChannelSettings() {
  // Reloaded channels replace whatever number was being typed.
  if (m_nDigitCount) {
    KillTimer(kEntryTimer);
    m_nDigitCount = 0;
  }
  HKEY key = OpenSettingsKey(kKeyChannel);
  for (int source : {SOURCE_TV, SOURCE_CATV}) {
    const BandView b = BandOf(source);
    ReadChannelList(key, *b.band, b.list);
  }
  const StoredChannels stored = ReadStoredChannels(key);
  m_nSource = stored.source;
  m_nTVChannel = stored.tvChannel;
  m_nCATVChannel = stored.catvChannel;

  // A list stored empty comes back with its current channel registered.
  for (int source : {SOURCE_TV, SOURCE_CATV}) {
    const BandView b = BandOf(source);
    RegisterIfEmpty(b.list, *b.band, *b.channel);
  }
  CloseSettingsKey(key);
}

void CPanelWnd::SaveChannelSettings() {
  HKEY key = OpenSettingsKey(kKeyChannel);
  WriteSettingDword(key, "Source", static_cast<DWORD>(m_nSource));
  WriteSettingString(key, kTVBand.valueName, m_szTVChannels);
  WriteSettingString(key, kCATVBand.valueName, m_szCATVChannels);
  WriteSettingDword(key, "TVChannel", static_cast<DWORD>(m_nTVChannel));
  WriteSettingDword(key, "CATVChannel", static_cast<DWORD>(m_nCATVChannel));
  CloseSettingsKey(key);
}

// ---- Channel list ---------------------------------------------------------------------------------

CPanelWnd::BandView CPanelWnd::BandOf(int source) {
  if (source == SOURCE_TV) return {&kTVBand, m_szTVChannels, &m_nTVChannel};
  if (source == SOURCE_CATV) return {&kCATVBand, m_szCATVChannels, &m_nCATVChannel};
  return {};
}

void CPanelWnd::StepChannel(int dir, WPARAM code) {
  const BandView b = CurrentBand();
  if (b && StepToRegistered(b.channel, b.list, *b.band, dir)) SendVideoCommand(code, *b.channel);
}

void CPanelWnd::ChannelUp() { StepChannel(+1, VideoCmd::ChannelUp); }

void CPanelWnd::ChannelDown() { StepChannel(-1, VideoCmd::ChannelDown); }

void CPanelWnd::SetCurrentChannelFlag(char flag) {
  const BandView b = CurrentBand();
  if (b && *b.channel >= 0 && *b.channel < b.band->chars) b.list[*b.channel] = flag;
}

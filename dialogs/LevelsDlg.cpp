#include "dialogs/LevelsDlg.h"

#include "common/Settings.h"
#include "res/resource.h"

#include <algorithm>

namespace {

constexpr UINT_PTR kRefreshTimer = 1;  // on the window's own handle
constexpr const char* kLeftValue = "Levels_left";
constexpr const char* kTopValue = "Levels_top";
constexpr int kBesideGap = 8;  // between the window given and the levels window opened beside it
constexpr int kTitleRoom = 32;  // above the window's own area, for a window manager's title bar

}  // namespace

CLevelsDlg::CLevelsDlg(CLevelsSource* source) : CDialog(IDD_LEVELS, nullptr), m_pSource(source) {}

CLevelsDlg::~CLevelsDlg() {
  if (m_hWnd) DestroyWindow();
}

BOOL CLevelsDlg::Open(CWnd* beside) {
  if (!m_hWnd) {
    if (!CreateFromTemplate(nullptr, false, 0, 0)) return FALSE;
    Place(beside);
  }
  ShowWindow(SW_SHOW);
  SetActiveWindow();
  return TRUE;
}

BOOL CLevelsDlg::OnInitDialog() {
  CDialog::OnInitDialog();
  m_waveform.CreateOver(this, IDC_LEVELS_WAVEFORM);
  m_histogram.CreateOver(this, IDC_LEVELS_HISTOGRAM);
  m_meters.CreateOver(this, IDC_LEVELS_METERS);
  if (m_pSource) m_pSource->WatchPicture(true);
  Refresh();
  SetTimer(kRefreshTimer, kRefreshMs, nullptr);
  return TRUE;
}

void CLevelsDlg::OnCancel() { DestroyWindow(); }

bool CLevelsDlg::OnCommand(UINT id, UINT code) {
  if ((id == IDC_LEVELS_CLEAR_CLIP || id == IDC_LEVELS_METERS) && code == BN_CLICKED) {
    if (m_pSource) m_pSource->ClearClip();
    Refresh();
    return true;
  }
  return false;
}

bool CLevelsDlg::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  static const MsgMapEntry<CLevelsDlg> map[] = {
      {WM_TIMER, afxmsg::Timer<&CLevelsDlg::OnTimer>},
  };
  if (message == WM_DESTROY) {
    KillTimer(kRefreshTimer);
    if (m_pSource) m_pSource->WatchPicture(false);
    SavePlace();
  }
  return DispatchMsgMap(*this, map, message, wParam, lParam, result) || CDialog::OnWndMsg(message, wParam, lParam, result);
}

void CLevelsDlg::OnTimer(UINT_PTR) { Refresh(); }

void CLevelsDlg::Refresh() {
  const bool picture = m_pSource && m_pSource->ReadPicture(m_picture.get());
  orv::SoundLevels sound;
  if (m_pSource) m_pSource->ReadSound(&sound);
  m_waveform.Show(m_picture.get(), picture);
  m_histogram.Show(m_picture.get(), picture);
  m_meters.Show(sound);
  SetDlgItemText(IDC_LEVELS_PICTURE, PictureReadout(m_picture.get(), picture).c_str());
  SetDlgItemText(IDC_LEVELS_SOUND, SoundReadout(sound).c_str());
}

// Where it last was, when the whole window still fits the desktop there; else beside the window
// given (right of it, else left of it), at its top.
void CLevelsDlg::Place(CWnd* beside) {
  RECT desk{}, own{};
  ::GetWindowRect(GetDesktopWindow(), &desk);
  GetWindowRect(&own);
  const int width = own.right - own.left, height = own.bottom - own.top;
  auto fits = [&](int x, int y) {
    return x >= desk.left && y >= desk.top && x + width <= desk.right && y + height <= desk.bottom;
  };
  HKEY key = OpenSettingsKey(kKeyPosition);
  int x = ReadSettingWord(key, kLeftValue, -1), y = ReadSettingWord(key, kTopValue, -1);
  CloseSettingsKey(key);
  if (x < 0 || y < 0 || !fits(x, y)) {
    x = own.left, y = own.top;  // centred, where it was made
    if (beside && beside->m_hWnd) {
      RECT near{};
      beside->GetWindowRect(&near);
      x = near.right + kBesideGap + width <= desk.right ? near.right + kBesideGap
          : near.left - kBesideGap - width >= desk.left ? near.left - kBesideGap - width
                                                        : desk.right - width;
      const int top = static_cast<int>(desk.top) + kTitleRoom;
      y = std::clamp(static_cast<int>(near.top), top, std::max(top, static_cast<int>(desk.bottom) - height));
    }
  }
  // The placement, not MoveWindow: it puts back exactly what GetWindowRect gave, frame or none.
  WINDOWPLACEMENT placement{};
  GetWindowPlacement(&placement);
  placement.showCmd = SW_HIDE;
  placement.rcNormalPosition = RECT{x, y, x + width, y + height};
  SetWindowPlacement(&placement);
}

void CLevelsDlg::SavePlace() {
  if (!m_hWnd || IsIconic()) return;
  RECT r{};
  GetWindowRect(&r);
  HKEY key = OpenSettingsKey(kKeyPosition);
  WriteSettingDword(key, kLeftValue, static_cast<DWORD>(r.left));
  WriteSettingDword(key, kTopValue, static_cast<DWORD>(r.top));
  CloseSettingsKey(key);
}

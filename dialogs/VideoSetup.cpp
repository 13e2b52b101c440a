#include "dialogs/VideoSetup.h"

#include "common/Commands.h"
#include "common/Recording.h"
#include "common/Settings.h"
#include "dialogs/LevelViews.h"
#include "res/resource.h"

namespace {

// By picture-adjust target.
constexpr int kSliders[kAdjustTargets] = {IDC_VIDEO_BRIGHT, IDC_VIDEO_CONTRAST, IDC_VIDEO_HUE, IDC_VIDEO_SATURATION};
constexpr int kValues[kAdjustTargets] = {IDC_VIDEO_BRIGHT_VALUE, IDC_VIDEO_CONTRAST_VALUE, IDC_VIDEO_HUE_VALUE,
                                         IDC_VIDEO_SATURATION_VALUE};
constexpr WPARAM kCodes[kAdjustTargets] = {VideoCmd::SetBrightness, VideoCmd::SetContrast, VideoCmd::SetHue,
                                           VideoCmd::SetSaturation};

// Colour modes 1..3 of the mode box; mode 0 is whatever the sliders show.
constexpr int kPresets[3][kAdjustTargets] = {
    {127, 127, 127, 127},  // "기본값 정의"
    {100, 89, 123, 128},   // "주변이 밝을 때"
    {185, 120, 110, 128},  // "주변이 어두울 때"
};

void SendToMainWindow(WPARAM code, int value) {
  if (CWnd* main = AfxGetMainWnd()) SendMessageA(main->m_hWnd, WM_TUNER_NOTIFY, code, static_cast<LPARAM>(value));
}

}  // namespace

CVideoSetup::CVideoSetup() : CPropertyPage(IDD_VIDEO_SETUP) {}

int* CVideoSetup::Member(int index) {
  switch (index) {
    case ADJUST_BRIGHTNESS: return &m_nBright;
    case ADJUST_CONTRAST: return &m_nContrast;
    case ADJUST_HUE: return &m_nHue;
    default: return &m_nSaturation;
  }
}

void CVideoSetup::ShowValue(int index, int value) {
  char text[16];
  wsprintfA(text, "%d", value);
  SetDlgItemText(kValues[index], text);
}

void CVideoSetup::DoDataExchange(CDataExchange* pDX) {
  CPropertyPage::DoDataExchange(pDX);
  DDX_Slider(pDX, IDC_VIDEO_BRIGHT, m_nBright);
  DDX_Slider(pDX, IDC_VIDEO_CONTRAST, m_nContrast);
  DDX_Slider(pDX, IDC_VIDEO_HUE, m_nHue);
  DDX_Slider(pDX, IDC_VIDEO_SATURATION, m_nSaturation);
  DDX_Check(pDX, IDC_VIDEO_CAPTIONS, m_bCaptions);
}

BOOL CVideoSetup::OnInitDialog() {
  CPropertyPage::OnInitDialog();
  HKEY key = OpenSettingsKey(kKeyVideo);
  for (int i = 0; i < kAdjustTargets; ++i) {
    CSliderCtrl slider;
    slider.Attach(::GetDlgItem(m_hWnd, kSliders[i]));
    slider.SetRange(0, kPictureLevelMax, FALSE);
    slider.SetPos(ReadSettingWord(key, kPictureValueNames[i], kDefaultPictureLevel));
    // What the slider reports, so a stored value past the range shows as the range's end.
    ShowValue(i, slider.GetPos());
  }
  CComboBox mode;
  mode.Attach(::GetDlgItem(m_hWnd, IDC_VIDEO_MODE));
  mode.SetCurSel(0);
  CloseSettingsKey(key);
  CheckDlgButton(m_hWnd, IDC_VIDEO_CAPTIONS, orv::record::StoredShowCaptions() ? BST_CHECKED : BST_UNCHECKED);
  return TRUE;
}

bool CVideoSetup::OnCommand(UINT id, UINT code) {
  if (id == IDC_VIDEO_MODE && code == CBN_SELCHANGE) {
    OnSelChangeMode();
    return true;
  }
  if (id == IDC_VIDEO_LEVELS && code == BN_CLICKED) {
    AskForLevelsWindow();
    return true;
  }
  return false;
}

void CVideoSetup::OnHScroll(UINT code, UINT pos, HWND ctrl) {
  UpdateData(TRUE);
  for (int i = 0; i < kAdjustTargets; ++i) {
    if (ctrl != ::GetDlgItem(m_hWnd, kSliders[i])) continue;
    ShowValue(i, *Member(i));
    SendToMainWindow(kCodes[i], *Member(i));
  }
  CPropertyPage::OnHScroll(code, pos, ctrl);
}

void CVideoSetup::OnSelChangeMode() {
  CComboBox mode;
  mode.Attach(::GetDlgItem(m_hWnd, IDC_VIDEO_MODE));
  const int sel = mode.GetCurSel();
  if (sel >= 1 && sel <= 3) {
    for (int i = 0; i < kAdjustTargets; ++i) *Member(i) = kPresets[sel - 1][i];
  } else {
    // "사용자 정의", or no choice at all: the sliders stay as they are.
    UpdateData(TRUE);
  }
  UpdateData(FALSE);
  for (int i = 0; i < kAdjustTargets; ++i) SendToMainWindow(kCodes[i], *Member(i));
  for (int i = 0; i < kAdjustTargets; ++i) ShowValue(i, *Member(i));
}

void CVideoSetup::OnOK() {
  const bool captions = IsDlgButtonChecked(m_hWnd, IDC_VIDEO_CAPTIONS) == BST_CHECKED;
  if (captions != orv::record::StoredShowCaptions()) {
    orv::record::StoreShowCaptions(captions);
    m_bCaptionsChanged = true;
  }
  HKEY key = OpenSettingsKey(kKeyVideo);
  for (int i = 0; i < kAdjustTargets; ++i)
    WriteSettingDword(key, kPictureValueNames[i], static_cast<DWORD>(*Member(i)));
  CPropertyPage::OnOK();
  CloseSettingsKey(key);
}

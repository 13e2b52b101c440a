#include "dialogs/VideoSetup.h"

#include "common/Commands.h"
#include "common/Settings.h"
#include "res/resource.h"

namespace {

constexpr int kFirstSlider = 1000;  // brightness, contrast, hue, saturation: 1000..1003
constexpr int kFirstLabel = 1004;   // their values: 1004..1007
constexpr int kMode = 1008;
constexpr const char* kValueNames[4] = {"Bright", "Contrast", "Hue", "Saturation"};
constexpr WPARAM kCodes[4] = {VideoCmd::SetBrightness, VideoCmd::SetContrast, VideoCmd::SetHue,
                              VideoCmd::SetSaturation};

// Colour modes 1..3 of the mode box; mode 0 is whatever the sliders show.
constexpr int kPresets[3][4] = {
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
    case 0: return &m_nBright;
    case 1: return &m_nContrast;
    case 2: return &m_nHue;
    default: return &m_nSaturation;
  }
}

void CVideoSetup::ShowValue(int index, int value) {
  char text[16];
  wsprintfA(text, "%d", value);
  SetDlgItemText(kFirstLabel + index, text);
}

void CVideoSetup::DoDataExchange(CDataExchange* pDX) {
  CPropertyPage::DoDataExchange(pDX);
  DDX_Slider(pDX, kFirstSlider + 0, m_nBright);
  DDX_Slider(pDX, kFirstSlider + 1, m_nContrast);
  DDX_Slider(pDX, kFirstSlider + 2, m_nHue);
  DDX_Slider(pDX, kFirstSlider + 3, m_nSaturation);
}

BOOL CVideoSetup::OnInitDialog() {
  CPropertyPage::OnInitDialog();
  HKEY key = OpenSettingsKey(kKeyVideo);
  for (int i = 0; i < 4; ++i) {
    CSliderCtrl slider;
    slider.Attach(::GetDlgItem(m_hWnd, kFirstSlider + i));
    slider.SetRange(0, 255, FALSE);
    slider.SetPos(ReadSettingWord(key, kValueNames[i], 127));
    // What the slider reports, so a stored value past the range shows as the range's end.
    ShowValue(i, slider.GetPos());
  }
  CComboBox mode;
  mode.Attach(::GetDlgItem(m_hWnd, kMode));
  mode.SetCurSel(0);
  CloseSettingsKey(key);
  return TRUE;
}

bool CVideoSetup::OnCommand(UINT id, UINT code) {
  if (id == kMode && code == CBN_SELCHANGE) {
    OnSelChangeMode();
    return true;
  }
  return false;
}

void CVideoSetup::OnHScroll(UINT code, UINT pos, HWND ctrl) {
  UpdateData(TRUE);
  for (int i = 0; i < 4; ++i) {
    if (ctrl != ::GetDlgItem(m_hWnd, kFirstSlider + i)) continue;
    ShowValue(i, *Member(i));
    SendToMainWindow(kCodes[i], *Member(i));
  }
  CPropertyPage::OnHScroll(code, pos, ctrl);
}

void CVideoSetup::OnSelChangeMode() {
  CComboBox mode;
  mode.Attach(::GetDlgItem(m_hWnd, kMode));
  const int sel = mode.GetCurSel();
  if (sel >= 1 && sel <= 3) {
    for (int i = 0; i < 4; ++i) *Member(i) = kPresets[sel - 1][i];
  } else {
    // "사용자 정의", or no choice at all: the sliders stay as they are.
    UpdateData(TRUE);
  }
  UpdateData(FALSE);
  for (int i = 0; i < 4; ++i) SendToMainWindow(kCodes[i], *Member(i));
  for (int i = 0; i < 4; ++i) ShowValue(i, *Member(i));
}

void CVideoSetup::OnOK() {
  HKEY key = OpenSettingsKey(kKeyVideo);
  for (int i = 0; i < 4; ++i) WriteSettingDword(key, kValueNames[i], static_cast<DWORD>(*Member(i)));
  CPropertyPage::OnOK();
  CloseSettingsKey(key);
}

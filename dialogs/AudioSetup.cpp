#include "dialogs/AudioSetup.h"

#include "common/Settings.h"
#include "res/resource.h"

namespace {
constexpr int kMasterSlider = 1000;
constexpr int kLineInSlider = 1001;
constexpr int kMasterMute = 1002;
constexpr int kLineInMute = 1003;
constexpr int kSelectMaster = 1004;
constexpr int kSelectLineIn = 1005;
constexpr int kMaxLevel = 20;
}  // namespace

CAudioSetup::CAudioSetup() : CPropertyPage(IDD_AUDIO_SETUP) {}

bool CAudioSetup::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  static const MsgMapEntry<CAudioSetup> map[] = {
      {MM_MIXM_CONTROL_CHANGE, afxmsg::Raw<&CAudioSetup::OnMixerControlChange>},
  };
  return DispatchMsgMap(*this, map, message, wParam, lParam, result) ||
         CPropertyPage::OnWndMsg(message, wParam, lParam, result);
}

void CAudioSetup::DoDataExchange(CDataExchange* pDX) {
  CPropertyPage::DoDataExchange(pDX);
  DDX_Check(pDX, kLineInMute, m_bLineInMute);
  DDX_Check(pDX, kMasterMute, m_bMasterMute);
  DDX_Slider(pDX, kLineInSlider, m_nLineInVolume);
  DDX_Slider(pDX, kMasterSlider, m_nMasterVolume);
}

void CAudioSetup::ReadMixer() {
  m_nMasterVolume = KeepWrittenLevel(m_mixer.GetVolume(MIXLINE_MASTER), m_nWrittenMaster);
  m_bMasterMute = m_mixer.GetMute(MIXLINE_MASTER);
  m_nLineInVolume = KeepWrittenLevel(m_mixer.GetVolume(MIXLINE_LINEIN), m_nWrittenLineIn);
  m_bLineInMute = m_mixer.GetMute(MIXLINE_LINEIN);
}

BOOL CAudioSetup::OnInitDialog() {
  CPropertyPage::OnInitDialog();
  for (int id : {kMasterSlider, kLineInSlider}) {
    CSliderCtrl slider;
    slider.Attach(::GetDlgItem(m_hWnd, id));
    slider.SetRange(0, kMaxLevel, FALSE);
  }

  m_mixer.m_hwndNotify = m_hWnd;
  m_mixer.m_nMaxLevel = kMaxLevel;
  m_mixer.Open();
  ReadMixer();

  HKEY key = OpenSettingsKey(kKeyAudio);
  m_nSelection = static_cast<UINT>(ReadSettingWord(key, "Selection", 0));
  // A stored value other than 0 or 1 checks neither button and is kept until one is clicked.
  CheckRadioButton(m_hWnd, kSelectMaster, kSelectLineIn, kSelectMaster + static_cast<int>(m_nSelection));
  CloseSettingsKey(key);

  UpdateData(FALSE);
  return TRUE;
}

bool CAudioSetup::OnCommand(UINT id, UINT code) {
  if (code != BN_CLICKED) return false;
  switch (id) {
    case kMasterMute:
    case kLineInMute: OnMute(); return true;
    case kSelectMaster:
    case kSelectLineIn: OnSelection(id); return true;
    default: return false;
  }
}

void CAudioSetup::OnHScroll(UINT code, UINT pos, HWND ctrl) {
  UpdateData(TRUE);
  // Only the line whose slider moved: the other slider may show a level the mixer rounded.
  if (ctrl == ::GetDlgItem(m_hWnd, kMasterSlider)) {
    m_nWrittenMaster = m_nMasterVolume;
    m_mixer.SetVolume(MIXLINE_MASTER, m_nMasterVolume);
  } else if (ctrl == ::GetDlgItem(m_hWnd, kLineInSlider)) {
    m_nWrittenLineIn = m_nLineInVolume;
    m_mixer.SetVolume(MIXLINE_LINEIN, m_nLineInVolume);
  }
  CPropertyPage::OnHScroll(code, pos, ctrl);
}

void CAudioSetup::OnMute() {
  UpdateData(TRUE);
  m_mixer.SetMute(MIXLINE_LINEIN, m_bLineInMute);
  m_mixer.SetMute(MIXLINE_MASTER, m_bMasterMute);
}

void CAudioSetup::OnSelection(UINT id) {
  UpdateData(TRUE);
  m_nSelection = id == kSelectMaster ? 0 : 1;
}

LRESULT CAudioSetup::OnMixerControlChange(WPARAM, LPARAM) {
  ReadMixer();
  UpdateData(FALSE);
  return 0;
}

void CAudioSetup::OnOK() {
  HKEY key = OpenSettingsKey(kKeyAudio);
  WriteSettingDword(key, "Selection", m_nSelection);
  CPropertyPage::OnOK();
  CloseSettingsKey(key);
}

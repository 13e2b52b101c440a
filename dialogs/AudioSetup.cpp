#include "dialogs/AudioSetup.h"

#include "common/Settings.h"
#include "common/SoundThrough.h"
#include "dialogs/LevelViews.h"
#include "res/resource.h"

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
  DDX_Check(pDX, IDC_AUDIO_LINEIN_MUTE, m_bLineInMute);
  DDX_Check(pDX, IDC_AUDIO_MASTER_MUTE, m_bMasterMute);
  DDX_Slider(pDX, IDC_AUDIO_LINEIN, m_nLineInVolume);
  DDX_Slider(pDX, IDC_AUDIO_MASTER, m_nMasterVolume);
  DDX_Check(pDX, IDC_AUDIO_SOUND_THROUGH, m_bSoundThrough);
}

void CAudioSetup::ReadMixer() {
  m_nMasterVolume = KeepWrittenLevel(m_mixer.GetVolume(MIXLINE_MASTER), m_nWrittenMaster);
  m_bMasterMute = m_mixer.GetMute(MIXLINE_MASTER);
  m_nLineInVolume = KeepWrittenLevel(m_mixer.GetVolume(MIXLINE_LINEIN), m_nWrittenLineIn);
  m_bLineInMute = m_mixer.GetMute(MIXLINE_LINEIN);
}

BOOL CAudioSetup::OnInitDialog() {
  CPropertyPage::OnInitDialog();
  for (int id : {IDC_AUDIO_MASTER, IDC_AUDIO_LINEIN}) {
    CSliderCtrl slider;
    slider.Attach(::GetDlgItem(m_hWnd, id));
    slider.SetRange(0, kVolumeMax, FALSE);
  }

  m_mixer.m_hwndNotify = m_hWnd;
  m_mixer.m_nMaxLevel = kVolumeMax;
  m_mixer.Open();
  ReadMixer();

  HKEY key = OpenSettingsKey(kKeyAudio);
  m_nSelection = static_cast<UINT>(ReadSettingWord(key, "Selection", 0));
  // A stored value other than 0 or 1 checks neither button and is kept until one is clicked.
  CheckRadioButton(m_hWnd, IDC_AUDIO_SELECT_MASTER, IDC_AUDIO_SELECT_LINEIN, IDC_AUDIO_SELECT_MASTER + static_cast<int>(m_nSelection));
  CloseSettingsKey(key);
  m_bSoundThrough = orv::sound::PlaysThrough(orv::sound::StoredThrough(), m_bSoundThroughByDefault) ? 1 : 0;

  UpdateData(FALSE);
  return TRUE;
}

bool CAudioSetup::OnCommand(UINT id, UINT code) {
  if (code != BN_CLICKED) return false;
  switch (id) {
    case IDC_AUDIO_MASTER_MUTE:
    case IDC_AUDIO_LINEIN_MUTE: OnMute(); return true;
    case IDC_AUDIO_SELECT_MASTER:
    case IDC_AUDIO_SELECT_LINEIN: OnSelection(id); return true;
    case IDC_AUDIO_LEVELS: AskForLevelsWindow(); return true;
    case IDC_AUDIO_SOUND_THROUGH: UpdateData(TRUE); return true;
    default: return false;
  }
}

void CAudioSetup::OnHScroll(UINT code, UINT pos, HWND ctrl) {
  UpdateData(TRUE);
  // Only the line whose slider moved: the other slider may show a level the mixer rounded.
  if (ctrl == ::GetDlgItem(m_hWnd, IDC_AUDIO_MASTER)) {
    m_nWrittenMaster = m_nMasterVolume;
    m_mixer.SetVolume(MIXLINE_MASTER, m_nMasterVolume);
  } else if (ctrl == ::GetDlgItem(m_hWnd, IDC_AUDIO_LINEIN)) {
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
  m_nSelection = id == IDC_AUDIO_SELECT_MASTER ? 0 : 1;
}

LRESULT CAudioSetup::OnMixerControlChange(WPARAM, LPARAM) {
  ReadMixer();
  UpdateData(FALSE);
  return 0;
}

void CAudioSetup::OnOK() {
  const bool through = IsDlgButtonChecked(m_hWnd, IDC_AUDIO_SOUND_THROUGH) == BST_CHECKED;
  if (through != orv::sound::PlaysThrough(orv::sound::StoredThrough(), m_bSoundThroughByDefault)) {
    orv::sound::StoreThrough(through ? orv::sound::Through::On : orv::sound::Through::Off);
    m_bSoundThroughChanged = true;
  }
  HKEY key = OpenSettingsKey(kKeyAudio);
  WriteSettingDword(key, "Selection", m_nSelection);
  CPropertyPage::OnOK();
  CloseSettingsKey(key);
}

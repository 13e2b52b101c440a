#include "dialogs/ChannelSetup.h"

#include "common/Commands.h"
#include "common/Settings.h"
#include "res/resource.h"

#include <cstdlib>
#include <cstring>

CChannelSetup::CChannelSetup() : CPropertyPage(IDD_CHANNEL_SETUP) {
  std::memcpy(m_szTV, kTVBand.defaults, sizeof m_szTV);
  std::memcpy(m_szCATV, kCATVBand.defaults, sizeof m_szCATV);
  std::memcpy(m_szTVSaved, m_szTV, sizeof m_szTVSaved);
  std::memcpy(m_szCATVSaved, m_szCATV, sizeof m_szCATVSaved);
}

bool CChannelSetup::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  static const MsgMapEntry<CChannelSetup> map[] = {
      {WM_TUNER_NOTIFY, afxmsg::Raw<&CChannelSetup::OnTunerNotify>},
  };
  return DispatchMsgMap(*this, map, message, wParam, lParam, result) ||
         CPropertyPage::OnWndMsg(message, wParam, lParam, result);
}

void CChannelSetup::DoDataExchange(CDataExchange* pDX) {
  CPropertyPage::DoDataExchange(pDX);
  DDX_Control(pDX, IDC_CHANNEL_REGISTERED, m_lstRegistered);
  DDX_Control(pDX, IDC_CHANNEL_UNREGISTERED, m_lstUnregistered);
}

bool CChannelSetup::OnCommand(UINT id, UINT code) {
  if (code != BN_CLICKED) return false;
  switch (id) {
    case IDC_CHANNEL_REGISTER: OnRegister(); return true;
    case IDC_CHANNEL_UNREGISTER: OnUnregister(); return true;
    case IDC_CHANNEL_REGISTER_ALL: OnRegisterAll(); return true;
    case IDC_CHANNEL_UNREGISTER_ALL: OnUnregisterAll(); return true;
    case IDC_CHANNEL_RESTORE: OnRestore(); return true;
    case IDC_CHANNEL_TV:
    case IDC_CHANNEL_CATV: OnBand(id); return true;
    default: return false;
  }
}

BOOL CChannelSetup::OnInitDialog() {
  CPropertyPage::OnInitDialog();
  CheckRadioButton(m_hWnd, IDC_CHANNEL_TV, IDC_CHANNEL_CATV, IDC_CHANNEL_TV);

  HKEY key = OpenSettingsKey(kKeyChannel);
  ReadChannelList(key, kTVBand, m_szTV);
  ReadChannelList(key, kCATVBand, m_szCATV);
  CloseSettingsKey(key);

  m_nBand = 0;
  std::memcpy(m_szTVSaved, m_szTV, sizeof m_szTVSaved);
  std::memcpy(m_szCATVSaved, m_szCATV, sizeof m_szCATVSaved);
  FillLists();
  return TRUE;
}

const ChannelBand& CChannelSetup::Band() const { return m_nBand == 0 ? kTVBand : kCATVBand; }
char* CChannelSetup::Working() { return m_nBand == 0 ? m_szTV : m_szCATV; }
const char* CChannelSetup::Saved() const { return m_nBand == 0 ? m_szTVSaved : m_szCATVSaved; }

void CChannelSetup::FillLists() {
  m_lstRegistered.ResetContent();
  m_lstUnregistered.ResetContent();
  m_registeredNumbers.clear();
  m_unregisteredNumbers.clear();
  const char* list = Working();
  // The region's plan for the band: its channels by name (Korea: 2..69 and 1..125 by number).
  for (const orv::plans::PlanChannel& c : Plan().channels) {
    if (c.number >= Band().chars) continue;
    const bool registered = list[c.number] == '1';
    (registered ? m_lstRegistered : m_lstUnregistered).AddString(c.name);
    (registered ? m_registeredNumbers : m_unregisteredNumbers).push_back(c.number);
  }
}

const orv::plans::ChannelPlan& CChannelSetup::Plan() const {
  const orv::plans::Region& region = orv::plans::StoredRegion();
  return m_nBand == 0 ? *region.broadcast : *region.cable;
}

void CChannelSetup::MoveSelected(CListBox& from, char mark) {
  int items[127];
  const int n = from.GetSelItems(127, items);
  char* list = Working();
  const std::vector<int>& numbers = &from == &m_lstRegistered ? m_registeredNumbers : m_unregisteredNumbers;
  for (int i = 0; i < n; ++i)
    if (items[i] >= 0 && static_cast<std::size_t>(items[i]) < numbers.size()) list[numbers[items[i]]] = mark;
  FillLists();
}

void CChannelSetup::OnRegister() { MoveSelected(m_lstUnregistered, '1'); }
void CChannelSetup::OnUnregister() { MoveSelected(m_lstRegistered, '0'); }

void CChannelSetup::OnRegisterAll() {
  std::memset(Working(), '1', static_cast<size_t>(Band().chars));
  FillLists();
}

void CChannelSetup::OnUnregisterAll() {
  std::memset(Working(), '0', static_cast<size_t>(Band().chars));
  FillLists();
}

void CChannelSetup::OnRestore() {
  std::memcpy(Working(), Saved(), static_cast<size_t>(Band().chars) + 1);
  FillLists();
}

void CChannelSetup::OnBand(UINT id) {
  m_nBand = id == IDC_CHANNEL_TV ? 0 : 1;
  FillLists();
}

LRESULT CChannelSetup::OnTunerNotify(WPARAM, LPARAM channel) {
  // The scan may run in the other band; only a channel this band has can be marked.
  if (channel < 0 || channel >= Band().chars || !orv::plans::FindChannel(Plan(), static_cast<int>(channel))) return 0;
  Working()[channel] = '1';
  FillLists();
  return 0;
}

void CChannelSetup::OnOK() {
  HKEY key = OpenSettingsKey(kKeyChannel);
  WriteSettingString(key, kTVBand.valueName, m_szTV);
  WriteSettingString(key, kCATVBand.valueName, m_szCATV);
  CloseSettingsKey(key);
  CPropertyPage::OnOK();
}

#include "dialogs/ChannelSetup.h"

#include "common/Commands.h"
#include "common/Settings.h"
#include "res/resource.h"

#include <cstdlib>
#include <cstring>

namespace {

constexpr int kUnregisteredList = 1001;
constexpr int kRegisteredList = 1002;
constexpr int kRadioTV = 1003;
constexpr int kRadioCATV = 1004;
constexpr int kRegister = 1006;
constexpr int kUnregister = 1007;
constexpr int kRegisterAll = 1008;
constexpr int kUnregisterAll = 1009;
constexpr int kRestore = 1010;

}  // namespace

CChannelSetup::CChannelSetup() : CPropertyPage(IDD_CHANNEL_SETUP) {
  std::memcpy(m_szTV, kDefaultTVChannels, sizeof m_szTV);
  std::memcpy(m_szCATV, kDefaultCATVChannels, sizeof m_szCATV);
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
  DDX_Control(pDX, kRegisteredList, m_lstRegistered);
  DDX_Control(pDX, kUnregisteredList, m_lstUnregistered);
}

bool CChannelSetup::OnCommand(UINT id, UINT code) {
  if (code != BN_CLICKED) return false;
  switch (id) {
    case kRegister: OnRegister(); return true;
    case kUnregister: OnUnregister(); return true;
    case kRegisterAll: OnRegisterAll(); return true;
    case kUnregisterAll: OnUnregisterAll(); return true;
    case kRestore: OnRestore(); return true;
    case kRadioTV:
    case kRadioCATV: OnBand(id); return true;
    default: return false;
  }
}

BOOL CChannelSetup::OnInitDialog() {
  CPropertyPage::OnInitDialog();
  CheckRadioButton(m_hWnd, kRadioTV, kRadioCATV, kRadioTV);

  HKEY key = OpenSettingsKey(kKeyChannel);
  ReadChannelList(key, "TV", m_szTV, kTVChars);
  ReadChannelList(key, "CATV", m_szCATV, kCATVChars);
  CloseSettingsKey(key);

  m_nBand = 0;
  std::memcpy(m_szTVSaved, m_szTV, sizeof m_szTVSaved);
  std::memcpy(m_szCATVSaved, m_szCATV, sizeof m_szCATVSaved);
  FillLists();
  return TRUE;
}

char* CChannelSetup::Working() { return m_nBand == 0 ? m_szTV : m_szCATV; }
const char* CChannelSetup::Saved() const { return m_nBand == 0 ? m_szTVSaved : m_szCATVSaved; }
int CChannelSetup::Chars() const { return m_nBand == 0 ? kTVChars : kCATVChars; }
int CChannelSetup::First() const { return m_nBand == 0 ? kTVFirst : kCATVFirst; }
int CChannelSetup::Last() const { return m_nBand == 0 ? kTVLast : kCATVLast; }

void CChannelSetup::FillLists() {
  m_lstRegistered.ResetContent();
  m_lstUnregistered.ResetContent();
  const char* list = Working();
  for (int ch = First(); ch <= Last(); ++ch) {
    char text[16];
    wsprintfA(text, "%d", ch);
    (list[ch] == '1' ? m_lstRegistered : m_lstUnregistered).AddString(text);
  }
}

void CChannelSetup::MoveSelected(CListBox& from, char mark) {
  int items[127];
  const int n = from.GetSelItems(127, items);
  char* list = Working();
  for (int i = 0; i < n; ++i) {
    CString text;
    if (from.GetText(items[i], text) == LB_ERR) continue;
    const int ch = std::atoi(text);
    if (ch >= First() && ch <= Last()) list[ch] = mark;
  }
  FillLists();
}

void CChannelSetup::OnRegister() { MoveSelected(m_lstUnregistered, '1'); }
void CChannelSetup::OnUnregister() { MoveSelected(m_lstRegistered, '0'); }

void CChannelSetup::OnRegisterAll() {
  std::memset(Working(), '1', static_cast<size_t>(Chars()));
  FillLists();
}

void CChannelSetup::OnUnregisterAll() {
  std::memset(Working(), '0', static_cast<size_t>(Chars()));
  FillLists();
}

void CChannelSetup::OnRestore() {
  std::memcpy(Working(), Saved(), static_cast<size_t>(Chars()) + 1);
  FillLists();
}

void CChannelSetup::OnBand(UINT id) {
  m_nBand = id == kRadioTV ? 0 : 1;
  FillLists();
}

LRESULT CChannelSetup::OnTunerNotify(WPARAM, LPARAM channel) {
  // The scan may run in the other band; only a channel this band has can be marked.
  if (channel < First() || channel > Last()) return 0;
  Working()[channel] = '1';
  FillLists();
  return 0;
}

void CChannelSetup::OnOK() {
  HKEY key = OpenSettingsKey(kKeyChannel);
  WriteSettingString(key, "TV", m_szTV);
  WriteSettingString(key, "CATV", m_szCATV);
  CloseSettingsKey(key);
  CPropertyPage::OnOK();
}

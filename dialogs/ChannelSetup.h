// The settings sheet's first page: which channels of each band are registered.
#pragma once

#include "common/ChannelPlans.h"
#include "common/Settings.h"

#include "platform/ui/afxdlgs.h"

#include <vector>

class CChannelSetup : public CPropertyPage {
 public:
  CChannelSetup();

  CListBox m_lstRegistered;
  CListBox m_lstUnregistered;
  UINT m_nBand = 0;  // 0 terrestrial, 1 cable
  char m_szTV[kTVBand.chars + 1];
  char m_szCATV[kCATVBand.chars + 1];
  char m_szTVSaved[kTVBand.chars + 1];
  char m_szCATVSaved[kCATVBand.chars + 1];

  BOOL OnInitDialog() override;
  void OnOK() override;

  void OnRegister();       // ">"
  void OnUnregister();     // "<"
  void OnRegisterAll();    // ">>"
  void OnUnregisterAll();  // "<<"
  void OnRestore();        // "복원"
  void OnBand(UINT id);    // the band radio buttons
  LRESULT OnTunerNotify(WPARAM code, LPARAM channel);

  void FillLists();

 protected:
  void DoDataExchange(CDataExchange* pDX) override;
  bool OnCommand(UINT id, UINT code) override;
  bool OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;

 private:
  // The current band, its working copy and its opening copy.
  const ChannelBand& Band() const;
  char* Working();
  const char* Saved() const;
  const orv::plans::ChannelPlan& Plan() const;
  void MoveSelected(CListBox& from, char mark);
  // The channel number of each list's entries, in list order (entries show the plan's names).
  std::vector<int> m_registeredNumbers, m_unregisteredNumbers;
};

// The settings sheet's first page: which channels of each band are registered.
#pragma once

#include "common/Settings.h"

#include "platform/ui/afxdlgs.h"

class CChannelSetup : public CPropertyPage {
 public:
  CChannelSetup();

  static constexpr int kTVChars = ::kTVChars;
  static constexpr int kCATVChars = ::kCATVChars;

  CListBox m_lstRegistered;
  CListBox m_lstUnregistered;
  UINT m_nBand = 0;  // 0 terrestrial, 1 cable
  char m_szTV[kTVChars + 1];
  char m_szCATV[kCATVChars + 1];
  char m_szTVSaved[kTVChars + 1];
  char m_szCATVSaved[kCATVChars + 1];

  BOOL OnInitDialog() override;
  void OnOK() override;

  void OnRegister();       // ">"
  void OnUnregister();     // "<"
  void OnRegisterAll();    // ">>"
  void OnUnregisterAll();  // "<<"
  void OnRestore();        // "복원"
  void OnBand(UINT id);    // radio buttons 1003 and 1004
  LRESULT OnTunerNotify(WPARAM code, LPARAM channel);

  void FillLists();

 protected:
  void DoDataExchange(CDataExchange* pDX) override;
  bool OnCommand(UINT id, UINT code) override;
  bool OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;

 private:
  // The current band's working copy, its opening copy, its length and its channel range.
  char* Working();
  const char* Saved() const;
  int Chars() const;
  int First() const;
  int Last() const;
  void MoveSelected(CListBox& from, char mark);
};

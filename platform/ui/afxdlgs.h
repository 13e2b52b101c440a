// Dialogs built from templates, their controls, data exchange, property sheets, tooltips and the
// save-as file chooser. Qt-free header.
#pragma once

#include "platform/ui/afxwin.h"
#include "platform/ui/dlgtemplate.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

constexpr UINT WM_INITDIALOG = 0x0110;
constexpr UINT WM_COMMAND = 0x0111;
constexpr UINT WM_HSCROLL = 0x0114;
constexpr UINT WM_VSCROLL = 0x0115;

// Notification codes in the high word of WM_COMMAND's wParam.
constexpr UINT BN_CLICKED = 0;
constexpr UINT LBN_SELCHANGE = 1;
constexpr UINT CBN_SELCHANGE = 1;
constexpr UINT EN_CHANGE = 0x0300;
constexpr WPARAM MAKEWPARAM(WORD lo, WORD hi) { return static_cast<WPARAM>(lo) | (static_cast<WPARAM>(hi) << 16); }

// Scroll codes of WM_HSCROLL / WM_VSCROLL.
constexpr UINT SB_LINEUP = 0;
constexpr UINT SB_LINEDOWN = 1;
constexpr UINT SB_PAGEUP = 2;
constexpr UINT SB_PAGEDOWN = 3;
constexpr UINT SB_THUMBPOSITION = 4;
constexpr UINT SB_THUMBTRACK = 5;
constexpr UINT SB_TOP = 6;
constexpr UINT SB_BOTTOM = 7;
constexpr UINT SB_ENDSCROLL = 8;
constexpr UINT TB_THUMBTRACK = 5;
constexpr UINT TB_ENDTRACK = 8;

constexpr int BST_UNCHECKED = 0;
constexpr int BST_CHECKED = 1;
constexpr int LB_ERR = -1;
constexpr int CB_ERR = -1;

// Common button ids.
constexpr int IDHELP = 9;
constexpr int ID_APPLY_NOW = 12321;

// Dialog-item helpers on any window that holds controls.
HWND GetDlgItem(HWND hDlg, int id);
BOOL SetDlgItemTextA(HWND hDlg, int id, LPCSTR text);
UINT GetDlgItemTextA(HWND hDlg, int id, LPSTR buf, int max);
BOOL CheckRadioButton(HWND hDlg, int first, int last, int check);
BOOL CheckDlgButton(HWND hDlg, int id, UINT check);
UINT IsDlgButtonChecked(HWND hDlg, int id);

// ---- Controls -------------------------------------------------------------------------------------
// Wrappers over a control's handle: they do not own the control, the dialog does.
class CCtrl : public CWnd {
 public:
  ~CCtrl() override { m_hWnd = nullptr; }
  void Attach(HWND h) { m_hWnd = h; }
  void EnableWindow(BOOL enable) { ::EnableWindow(m_hWnd, enable); }
};

class CButton : public CCtrl {
 public:
  int GetCheck() const;
  void SetCheck(int check);
};

class CEdit : public CCtrl {};
class CStatic : public CCtrl {};

class CListBox : public CCtrl {
 public:
  int AddString(LPCSTR text);
  void ResetContent();
  int GetCount() const;
  int GetSelCount() const;
  int GetSelItems(int max, int* indexes) const;
  int GetText(int index, LPSTR buf) const;  // buf must hold the item's text
  int GetText(int index, CString& text) const;
  int SetSel(int index, BOOL select = TRUE);
  int GetSel(int index) const;
};

class CComboBox : public CCtrl {
 public:
  int GetCurSel() const;
  int SetCurSel(int index);
  int GetCount() const;
  int AddString(LPCSTR text);
  int GetLBText(int index, CString& text) const;
  void ResetContent();
  // An item shown but not choosable (greyed in the list).
  void EnableItem(int index, BOOL enable);
  BOOL IsItemEnabled(int index) const;
};

class CSliderCtrl : public CCtrl {
 public:
  void SetRange(int minimum, int maximum, BOOL redraw = FALSE);
  int GetPos() const;
  void SetPos(int pos);
  int GetRangeMin() const;
  int GetRangeMax() const;
};

class CSpinButtonCtrl : public CCtrl {
 public:
  void SetRange32(int lower, int upper);
  int SetPos(int pos);  // returns the previous position
  int GetPos() const;   // the control's own position
};

// ---- Data exchange --------------------------------------------------------------------------------
class CDataExchange {
 public:
  CDataExchange(CWnd* dlg, BOOL saveAndValidate) : m_pDlgWnd(dlg), m_bSaveAndValidate(saveAndValidate) {}
  CWnd* m_pDlgWnd;
  BOOL m_bSaveAndValidate;
  bool m_bFailed = false;  // set by the first field that refused; later fields are skipped
  HWND PrepareCtrl(int id);
  // Refuses the exchange: shows the message, puts the focus on the control.
  void Fail(int id, LPCSTR message);
};

void DDX_Text(CDataExchange* pDX, int id, CString& value);
void DDX_Text(CDataExchange* pDX, int id, UINT& value);
void DDX_Text(CDataExchange* pDX, int id, int& value);
void DDX_Check(CDataExchange* pDX, int id, int& value);
void DDX_Slider(CDataExchange* pDX, int id, int& value);
void DDX_Control(CDataExchange* pDX, int id, CCtrl& control);

// ---- Dialogs --------------------------------------------------------------------------------------
class CDialog : public CWnd {
 public:
  CDialog(UINT templateId, CWnd* parent = nullptr);
  ~CDialog() override;

  // Shows the dialog modally in a nested loop; returns what EndDialog was given.
  virtual int DoModal();
  void EndDialog(int result);
  BOOL UpdateData(BOOL saveAndValidate = TRUE);
  CWnd* GetDlgItem(int id) const;
  void SetDlgItemText(int id, LPCSTR text) { ::SetDlgItemTextA(m_hWnd, id, text); }
  bool IsModalRunning() const { return running_; }

  virtual BOOL OnInitDialog();
  virtual void OnOK();
  virtual void OnCancel();

  UINT m_nIDTemplate;
  CWnd* m_pParentWnd;

 protected:
  virtual void DoDataExchange(CDataExchange* pDX) {}
  // A control's WM_COMMAND (BN_CLICKED, CBN_SELCHANGE ...); true when handled.
  virtual bool OnCommand(UINT id, UINT code) { return false; }
  virtual void OnHScroll(UINT code, UINT pos, HWND ctrl) { Default(); }
  virtual void OnVScroll(UINT code, UINT pos, HWND ctrl) { Default(); }
  bool OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;

  // Builds the window and its controls from the template, as a popup or as a child page.
  BOOL CreateFromTemplate(HWND parent, bool child, int x, int y);
  SIZE TemplateSizePixels() const;

 private:
  friend class CPropertySheet;
  bool running_ = false;
  bool ended_ = false;
  int result_ = IDCANCEL;
  void* loop_ = nullptr;
  std::vector<std::unique_ptr<CWnd>> controls_;
  void* keyFilter_ = nullptr;
};

// ---- Property sheets ------------------------------------------------------------------------------
constexpr DWORD PSH_NOAPPLYNOW = 0x00000080;

struct PROPSHEETHEADER {
  DWORD dwFlags = 0;
};

class CPropertyPage : public CDialog {
 public:
  explicit CPropertyPage(UINT templateId) : CDialog(templateId, nullptr) {}
  virtual BOOL OnSetActive() { return TRUE; }
  virtual BOOL OnKillActive() { return UpdateData(TRUE); }
  // The page's OK processing, run when the sheet is accepted, for pages that were shown.
  void OnOK() override {}
  void OnCancel() override {}
  bool WasShown() const { return m_hWnd != nullptr; }
};

class CPropertySheet : public CWnd {
 public:
  CPropertySheet(LPCSTR caption, CWnd* parent = nullptr, UINT selectPage = 0);
  ~CPropertySheet() override;
  void AddPage(CPropertyPage* page);
  int GetPageCount() const { return static_cast<int>(pages_.size()); }
  CPropertyPage* GetPage(int i) const { return pages_[static_cast<size_t>(i)]; }
  CPropertyPage* GetActivePage() const;
  BOOL SetActivePage(int index);
  // Shows the page `step` places on, round the ends, as Ctrl+Tab and Ctrl+PgDn do (back when negative).
  void StepPage(int step);
  virtual int DoModal();
  void EndDialog(int result);
  CWnd* GetDlgItem(int id) const;

  PROPSHEETHEADER m_psh;

 protected:
  virtual BOOL OnInitDialog() { return TRUE; }
  bool OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;

 private:
  void PressOK();
  // A page the user asked for, with the focus into it (given for `reason`, a Qt::FocusReason).
  void ShowPageForUser(int index, int reason);
  // Tab runs from the tabs through the page shown to the buttons, though pages are made later.
  void ChainFocus(CPropertyPage* page);
  std::string caption_;
  CWnd* parent_;
  UINT startPage_;
  int active_ = -1;
  std::vector<CPropertyPage*> pages_;
  RECT pageArea_{};
  HWND tabs_ = nullptr;
  bool ended_ = false;
  int result_ = IDCANCEL;
  void* loop_ = nullptr;
  std::vector<std::unique_ptr<CWnd>> controls_;
  void* keyFilter_ = nullptr;
};

// ---- Tooltips -------------------------------------------------------------------------------------
constexpr UINT TTDT_AUTOMATIC = 0;

class CToolTipCtrl {
 public:
  CToolTipCtrl();
  ~CToolTipCtrl();
  BOOL Create(CWnd* parent, DWORD style = 0);
  void Activate(BOOL activate);
  BOOL AddTool(CWnd* wnd, LPCSTR text, const RECT* rect = nullptr, UINT_PTR toolId = 0);
  void UpdateTipText(LPCSTR text, CWnd* wnd, UINT_PTR toolId = 0);
  void SetDelayTime(UINT which, int ms);
  // Passes a mouse message on: the tip shows after the delay while the mouse rests over the tool.
  void RelayEvent(const MSG* msg);
  // Hides the tip now and cancels one about to show.
  void Pop();
  const std::string& Text() const { return text_; }
  bool IsActive() const { return active_; }

 private:
  HWND parent_ = nullptr;
  std::string text_;
  bool active_ = false;
  int delay_ = 500;
  void* timer_ = nullptr;
  POINT last_{};
};

// ---- File chooser ---------------------------------------------------------------------------------
constexpr DWORD OFN_HIDEREADONLY = 0x00000004;
constexpr DWORD OFN_OVERWRITEPROMPT = 0x00000002;

class CFileDialog {
 public:
  CFileDialog(BOOL openFileDialog, LPCSTR defExt = nullptr, LPCSTR fileName = nullptr, DWORD flags = 0,
              LPCSTR filter = nullptr, CWnd* parent = nullptr);
  int DoModal();
  CString GetPathName() const { return path_; }
  CString GetFileName() const;
  CString GetFileExt() const;
  CString GetFolderPath() const;  // the chosen folder with its trailing separator

  // The question the save chooser asks before it returns a file that exists (OFN_OVERWRITEPROMPT):
  // true when the user agrees to replace it. A caller that changes the chosen name asks it again.
  static bool ConfirmReplace(CWnd* owner, LPCSTR path);

  // What the chooser was asked to show, for tests.
  struct Request {
    bool open;
    std::string initialPath, filter;
    DWORD flags;
    HWND owner;
  };
  // Tests answer the chooser through this hook: return false for Cancel, or true and the path.
  using Hook = std::function<bool(const Request&, std::string* path)>;
  static void SetHook(Hook hook);

 private:
  Request req_;
  std::string path_;
};

// Free bytes on the file system that holds `folder`; false (and 0) when it cannot be asked.
bool GetFreeDiskBytes(const std::string& folder, unsigned long long* bytes);

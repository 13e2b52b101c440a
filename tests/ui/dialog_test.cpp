// Dialogs from templates: modal loop, keys, data exchange, controls and their notices, sheets.
#include "platform/ui/afxdlgs.h"
#include "platform/ui/controls_p.h"
#include "tests/support/uitest.h"

#include <QAbstractButton>
#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QSlider>
#include <QTabBar>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <gtest/gtest.h>

using orv::test::MessageBoxAnswerer;

namespace {

const DialogTemplate kForm = {
    "Form", 200, 120, "굴림", 10, DS_MODALFRAME,
    {
        {IDOK, CtlKind::Button, BS_DEFPUSHBUTTON, "OK", 10, 100, 50, 14},
        {IDCANCEL, CtlKind::Button, BS_PUSHBUTTON, "Cancel", 70, 100, 50, 14},
        {1000, CtlKind::Edit, ES_AUTOHSCROLL, "", 10, 10, 100, 12},
        {1002, CtlKind::Edit, ES_NUMBER, "", 10, 30, 60, 12},
        {1003, CtlKind::UpDown, UDS_ALIGNRIGHT | UDS_ARROWKEYS, "", 0, 0, 0, 0},
        {1007, CtlKind::Button, BS_AUTOCHECKBOX, "Use", 10, 50, 60, 10},
        {1010, CtlKind::Trackbar, TBS_BOTH | TBS_NOTICKS | WS_TABSTOP, "", 10, 70, 100, 14},
        {1011, CtlKind::Static, SS_RIGHT, "", 120, 10, 40, 8},
        {1020, CtlKind::ListBox, LBS_NOTIFY | LBS_MULTIPLESEL | WS_VSCROLL, "", 120, 20, 70, 60},
        {1030, CtlKind::ComboBox, CBS_DROPDOWN, "", 120, 84, 70, 40, {"one", "two", "three"}},
        {1040, CtlKind::Button, BS_AUTORADIOBUTTON, "A", 10, 85, 30, 10},
        {1041, CtlKind::Button, BS_AUTORADIOBUTTON, "B", 40, 85, 30, 10},
    }};

const DialogTemplate kPageA = {"Page A", 150, 80, "굴림", 10, 0,
                               {{1100, CtlKind::Edit, ES_NUMBER, "", 10, 10, 50, 12}}};
const DialogTemplate kPageB = {"Page B", 180, 90, "굴림", 10, 0,
                               {{1200, CtlKind::Button, BS_AUTOCHECKBOX, "x", 10, 10, 50, 10}}};

class TestModule : public ResourceModule {
 public:
  const char* String(UINT) const override { return nullptr; }
  const DialogTemplate* Dialog(UINT id) const override {
    switch (id) {
      case 900: return &kForm;
      case 901: return &kPageA;
      case 902: return &kPageB;
      default: return nullptr;
    }
  }
  bool BitmapPng(UINT, std::string*) const override { return false; }
};

class Dialogs : public ::testing::Test {
 protected:
  void SetUp() override { AfxSetResourceModule(&module); }
  void TearDown() override { AfxSetResourceModule(AfxGetOwnResourceModule()); }
  TestModule module;
};

// Runs `body` inside the dialog's modal loop, once the dialog is up.
void WhileModal(std::function<void()> body) { QTimer::singleShot(0, [body] { body(); }); }

template <class W>
W* Inner(HWND dlg, int id) {
  auto* d = orv::ui::ControlData(GetDlgItem(dlg, id));
  return d ? qobject_cast<W*>(d->inner) : nullptr;
}

class FormDlg : public CDialog {
 public:
  FormDlg() : CDialog(900) {}
  CString m_strFile = "C:\\Capture.avi";
  UINT m_nLimit = 1;
  int m_bUse = 0;
  int m_nLevel = 40;
  std::vector<std::pair<UINT, UINT>> hscroll, vscroll;
  std::vector<std::pair<UINT, UINT>> commands;
  CSpinButtonCtrl m_spin;
  CListBox m_list;
  CComboBox m_combo;
  std::function<void()> onInit;

  BOOL OnInitDialog() override {
    CDialog::OnInitDialog();
    m_spin.SetRange32(1, 999);
    m_spin.SetPos(static_cast<int>(m_nLimit));
    for (const char* s : {"2", "5", "7", "9"}) m_list.AddString(s);
    if (onInit) onInit();
    return TRUE;
  }

 protected:
  void DoDataExchange(CDataExchange* pDX) override {
    DDX_Control(pDX, 1003, m_spin);
    DDX_Control(pDX, 1020, m_list);
    DDX_Control(pDX, 1030, m_combo);
    DDX_Text(pDX, 1000, m_strFile);
    DDX_Text(pDX, 1002, m_nLimit);
    DDX_Check(pDX, 1007, m_bUse);
    DDX_Slider(pDX, 1010, m_nLevel);
  }
  bool OnCommand(UINT id, UINT code) override {
    commands.push_back({id, code});
    return false;
  }
  void OnHScroll(UINT code, UINT pos, HWND) override { hscroll.push_back({code, pos}); }
  void OnVScroll(UINT code, UINT pos, HWND) override {
    vscroll.push_back({code, pos});
    m_nLimit = pos;
    UpdateData(FALSE);
  }
};

TEST_F(Dialogs, DataGoesInOnOpenAndComesBackOnOK) {
  FormDlg dlg;
  HWND h = nullptr;
  std::string shownFile, shownLimit;
  WhileModal([&] {
    h = dlg.m_hWnd;
    shownFile = Inner<QLineEdit>(h, 1000)->text().toStdString();
    shownLimit = Inner<QLineEdit>(h, 1002)->text().toStdString();
    Inner<QLineEdit>(h, 1002)->setText("25");
    Inner<QAbstractButton>(h, 1007)->click();
    Inner<QAbstractButton>(h, IDOK)->click();
  });
  EXPECT_EQ(IDOK, dlg.DoModal());
  EXPECT_EQ("C:\\Capture.avi", shownFile);
  EXPECT_EQ("1", shownLimit);
  EXPECT_EQ(25u, dlg.m_nLimit);
  EXPECT_EQ(1, dlg.m_bUse);
  EXPECT_FALSE(IsWindow(h));
}

TEST_F(Dialogs, NonNumericNumberRefusesOKWithAMessageAndTheDialogStays) {
  FormDlg dlg;
  MessageBoxAnswerer boxes(IDOK);
  int stillOpen = -1;
  WhileModal([&] {
    Inner<QLineEdit>(dlg.m_hWnd, 1002)->setText("");
    Inner<QAbstractButton>(dlg.m_hWnd, IDOK)->click();
    stillOpen = IsWindowVisible(dlg.m_hWnd);
    Inner<QLineEdit>(dlg.m_hWnd, 1002)->setText("7");
    Inner<QAbstractButton>(dlg.m_hWnd, IDOK)->click();
  });
  EXPECT_EQ(IDOK, dlg.DoModal());
  EXPECT_EQ(1, stillOpen);
  ASSERT_EQ(1u, boxes.calls.size());
  EXPECT_EQ(MB_OK | MB_ICONEXCLAMATION, boxes.calls[0].type);
  EXPECT_EQ(7u, dlg.m_nLimit);
}

TEST_F(Dialogs, EnterEscapeAndTheCloseBox) {
  struct Case {
    std::function<void(HWND)> act;
    int want;
  };
  const Case cases[] = {
      {[](HWND h) { QTest::keyClick(Inner<QLineEdit>(h, 1000), Qt::Key_Return); }, IDOK},
      {[](HWND h) { QTest::keyClick(Inner<QLineEdit>(h, 1000), Qt::Key_Escape); }, IDCANCEL},
      {[](HWND h) { orv::test::Widget(h)->close(); }, IDCANCEL},
      {[](HWND h) { Inner<QAbstractButton>(h, IDCANCEL)->click(); }, IDCANCEL},
      // A disabled default button is not pressed, neither by Enter in another control nor by its
      // click notice; the dialog stays open.
      {[](HWND h) {
         ::EnableWindow(GetDlgItem(h, IDOK), FALSE);
         QTest::keyClick(Inner<QAbstractButton>(h, 1007), Qt::Key_Return);
         ::SendMessageA(h, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
         if (IsWindowVisible(h)) QTest::keyClick(Inner<QLineEdit>(h, 1000), Qt::Key_Escape);
       },
       IDCANCEL},
  };
  for (const Case& c : cases) {
    FormDlg dlg;
    WhileModal([&] { c.act(dlg.m_hWnd); });
    EXPECT_EQ(c.want, dlg.DoModal());
  }
}

// The program's end asked for inside nested dialogs closes them, innermost first, and comes once
// the outermost has returned; a dialog or box opened meanwhile gives its cancelling answer.
TEST_F(Dialogs, EndingInsideNestedDialogsClosesThemFirst) {
  FormDlg outer, inner, later;
  QTimer guard;  // answers every dialog still waiting after a while, so that a failure is not a hang
  QObject::connect(&guard, &QTimer::timeout, [&] {
    for (FormDlg* d : {&later, &inner, &outer})
      if (d->IsModalRunning()) d->EndDialog(IDOK);
  });
  guard.start(3000);
  std::vector<std::string> order;
  int innerResult = 0, laterResult = 0, boxAnswer = 0;
  std::size_t boxesShown = 9;
  WhileModal([&] {
    WhileModal([&] {
      orv::ui::RunOutsideModalLoops([&] { order.push_back("ended"); });
      order.push_back("asked");
    });
    innerResult = inner.DoModal();
    order.push_back("inner returned");
    laterResult = later.DoModal();
    MessageBoxAnswerer answer(IDYES);
    boxAnswer = MessageBoxA(nullptr, "계속?", nullptr, MB_YESNO);
    boxesShown = answer.calls.size();
  });
  EXPECT_EQ(IDCANCEL, outer.DoModal());
  order.push_back("outer returned");
  EXPECT_EQ(IDCANCEL, innerResult);
  EXPECT_EQ(IDCANCEL, laterResult);
  EXPECT_EQ(IDNO, boxAnswer);
  EXPECT_EQ(0u, boxesShown);
  orv::test::Pump();
  EXPECT_EQ((std::vector<std::string>{"asked", "inner returned", "outer returned", "ended"}), order);
  // Once ended, what comes next runs as always.
  orv::ui::RunOutsideModalLoops([&] { order.push_back("at once"); });
  EXPECT_EQ("at once", order.back());
}

TEST_F(Dialogs, OwnerIsDisabledWhileTheDialogRuns) {
  orv::test::RecordingWnd owner;
  FormDlg dlg;
  dlg.m_pParentWnd = &owner;
  BOOL enabledInside = TRUE;
  WhileModal([&] {
    enabledInside = IsWindowEnabled(owner.m_hWnd);
    dlg.EndDialog(IDCANCEL);
  });
  dlg.DoModal();
  EXPECT_FALSE(enabledInside);
  EXPECT_TRUE(IsWindowEnabled(owner.m_hWnd));
}

TEST_F(Dialogs, SliderNoticesEveryUserMoveButNotProgramSets) {
  FormDlg dlg;
  WhileModal([&] {
    auto* s = Inner<QSlider>(dlg.m_hWnd, 1010);
    CSliderCtrl ctl;
    ctl.Attach(GetDlgItem(dlg.m_hWnd, 1010));
    ctl.SetRange(0, 255);
    ctl.SetPos(100);  // no notice
    s->setSliderDown(true);
    for (int v : {101, 102, 103}) s->setValue(v);  // a drag passes each position
    s->setSliderDown(false);
    QTest::keyClick(s, Qt::Key_Right);
    dlg.EndDialog(IDCANCEL);
  });
  dlg.DoModal();
  ASSERT_GE(dlg.hscroll.size(), 4u);
  EXPECT_EQ(std::make_pair(TB_THUMBTRACK, 101u), dlg.hscroll[0]);
  EXPECT_EQ(std::make_pair(TB_THUMBTRACK, 103u), dlg.hscroll[2]);
  bool sawKey = false;
  for (auto& n : dlg.hscroll) sawKey |= n.second == 104u;
  EXPECT_TRUE(sawKey);
}

TEST_F(Dialogs, UpDownKeepsItsOwnPositionWhateverIsTyped) {
  FormDlg dlg;
  std::string afterClick;
  WhileModal([&] {
    Inner<QLineEdit>(dlg.m_hWnd, 1002)->setText("50");
    auto* d = orv::ui::ControlData(GetDlgItem(dlg.m_hWnd, 1003));
    d->inner->findChildren<QToolButton*>()[0]->click();  // up
    afterClick = Inner<QLineEdit>(dlg.m_hWnd, 1002)->text().toStdString();
    dlg.EndDialog(IDCANCEL);
  });
  dlg.DoModal();
  ASSERT_EQ(1u, dlg.vscroll.size());
  EXPECT_EQ(std::make_pair(SB_THUMBPOSITION, 2u), dlg.vscroll[0]);
  EXPECT_EQ("2", afterClick);
}

TEST_F(Dialogs, UpDownStopsAtItsRangeAndSitsBesideItsEdit) {
  FormDlg dlg;
  RECT edit{}, spin{};
  int pos = 0;
  WhileModal([&] {
    dlg.m_spin.SetPos(999);
    orv::ui::StepUpDown(dlg.m_spin.m_hWnd, +1);
    pos = dlg.m_spin.GetPos();
    GetWindowRect(GetDlgItem(dlg.m_hWnd, 1002), &edit);
    GetWindowRect(dlg.m_spin.m_hWnd, &spin);
    dlg.EndDialog(IDCANCEL);
  });
  dlg.DoModal();
  EXPECT_EQ(999, pos);
  EXPECT_TRUE(dlg.vscroll.empty());
  EXPECT_EQ(edit.right, spin.left);
  EXPECT_EQ(edit.top, spin.top);
}

TEST_F(Dialogs, ListComboAndRadioControls) {
  FormDlg dlg;
  int selCount = 0, items[8] = {}, comboSel = -2;
  CString second, comboText;
  UINT a = 9, b = 9;
  WhileModal([&] {
    auto* l = Inner<QListWidget>(dlg.m_hWnd, 1020);
    l->item(1)->setSelected(true);  // as a user's click toggles it
    l->item(3)->setSelected(true);
    selCount = dlg.m_list.GetSelItems(8, items);
    dlg.m_list.GetText(items[0], second);
    dlg.m_combo.SetCurSel(2);
    comboSel = dlg.m_combo.GetCurSel();
    dlg.m_combo.GetLBText(2, comboText);
    Inner<QAbstractButton>(dlg.m_hWnd, 1041)->click();
    CheckRadioButton(dlg.m_hWnd, 1040, 1041, 1040);
    a = IsDlgButtonChecked(dlg.m_hWnd, 1040);
    b = IsDlgButtonChecked(dlg.m_hWnd, 1041);
    dlg.EndDialog(IDCANCEL);
  });
  dlg.DoModal();
  EXPECT_EQ(2, selCount);
  EXPECT_EQ(1, items[0]);
  EXPECT_EQ(3, items[1]);
  EXPECT_EQ(second, "5");
  EXPECT_EQ(2, comboSel);
  EXPECT_EQ(comboText, "three");
  EXPECT_EQ(static_cast<UINT>(BST_CHECKED), a);
  EXPECT_EQ(static_cast<UINT>(BST_UNCHECKED), b);
  // Each list change by the user is a notice; the radio click is a click.
  int selChanges = 0, radioClicks = 0;
  for (auto& c : dlg.commands) {
    selChanges += c.first == 1020 && c.second == LBN_SELCHANGE;
    radioClicks += c.first == 1041 && c.second == BN_CLICKED;
  }
  EXPECT_EQ(2, selChanges);
  EXPECT_EQ(1, radioClicks);
}

TEST_F(Dialogs, ControlsSitWhereTheTemplateSaysInDialogUnits) {
  FormDlg dlg;
  RECT dlgRect{}, ok{}, cancel{};
  WhileModal([&] {
    GetClientRect(dlg.m_hWnd, &dlgRect);
    GetWindowRect(GetDlgItem(dlg.m_hWnd, IDOK), &ok);
    GetWindowRect(GetDlgItem(dlg.m_hWnd, IDCANCEL), &cancel);
    dlg.EndDialog(IDCANCEL);
  });
  dlg.DoModal();
  // Cancel lies 60 dialog units right of OK; the dialog is 200 units wide.
  const double unitsPerPixel = 200.0 / dlgRect.right;
  EXPECT_NEAR(60.0, (cancel.left - ok.left) * unitsPerPixel, 2.0);
  EXPECT_NEAR(50.0, (ok.right - ok.left) * unitsPerPixel, 2.0);
}

TEST_F(Dialogs, MissingTemplateFailsInsteadOfCrashing) {
  CDialog dlg(12345);
  EXPECT_EQ(-1, dlg.DoModal());
}

class PageA : public CPropertyPage {
 public:
  PageA() : CPropertyPage(901) {}
  UINT value = 3;
  int oks = 0, inits = 0;
  BOOL OnInitDialog() override {
    ++inits;
    return CPropertyPage::OnInitDialog();
  }
  void OnOK() override { ++oks; }

 protected:
  void DoDataExchange(CDataExchange* pDX) override { DDX_Text(pDX, 1100, value); }
};

class PageB : public CPropertyPage {
 public:
  PageB() : CPropertyPage(902) {}
  int oks = 0;
  void OnOK() override { ++oks; }
};

TEST_F(Dialogs, SheetCreatesPagesWhenShownAndOnlyShownPagesStore) {
  orv::test::RecordingWnd owner;
  CPropertySheet sheet("Sheet", &owner, 0);
  PageA a;
  PageB b;
  sheet.AddPage(&a);
  sheet.AddPage(&b);
  sheet.m_psh.dwFlags |= PSH_NOAPPLYNOW;
  bool bCreatedAtStart = true, applyVisible = true, helpExists = false;
  WhileModal([&] {
    bCreatedAtStart = b.m_hWnd != nullptr;
    applyVisible = IsWindowVisible(GetDlgItem(sheet.m_hWnd, ID_APPLY_NOW));
    helpExists = GetDlgItem(sheet.m_hWnd, IDHELP) != nullptr;
    Inner<QAbstractButton>(sheet.m_hWnd, IDOK)->click();
  });
  EXPECT_EQ(IDOK, sheet.DoModal());
  EXPECT_FALSE(bCreatedAtStart);
  EXPECT_FALSE(applyVisible);
  EXPECT_TRUE(helpExists);
  EXPECT_EQ(1, a.oks);
  EXPECT_EQ(0, b.oks);
  EXPECT_EQ(1, a.inits);
}

TEST_F(Dialogs, SheetTabsSwitchPagesAndCancelStoresNothing) {
  CPropertySheet sheet("Sheet", nullptr, 0);
  PageA a;
  PageB b;
  sheet.AddPage(&a);
  sheet.AddPage(&b);
  bool aHidden = false, bShown = false;
  WhileModal([&] {
    auto* d = orv::ui::ControlData(GetDlgItem(sheet.m_hWnd, 0x3020));
    qobject_cast<QTabBar*>(d->inner)->setCurrentIndex(1);  // the user picks the second tab
    aHidden = !IsWindowVisible(a.m_hWnd);
    bShown = IsWindowVisible(b.m_hWnd);
    Inner<QAbstractButton>(sheet.m_hWnd, IDCANCEL)->click();
  });
  EXPECT_EQ(IDCANCEL, sheet.DoModal());
  EXPECT_TRUE(aHidden);
  EXPECT_TRUE(bShown);
  EXPECT_EQ(0, a.oks);
  EXPECT_EQ(0, b.oks);
}

TEST_F(Dialogs, SheetWithARefusedFieldStaysOnThatPage) {
  CPropertySheet sheet("Sheet", nullptr, 0);
  PageA a;
  PageB b;
  sheet.AddPage(&a);
  sheet.AddPage(&b);
  MessageBoxAnswerer boxes(IDOK);
  int activeAfter = -1;
  WhileModal([&] {
    Inner<QLineEdit>(a.m_hWnd, 1100)->setText("");
    sheet.SetActivePage(1);
    activeAfter = sheet.GetActivePage() == &a ? 0 : 1;
    Inner<QLineEdit>(a.m_hWnd, 1100)->setText("8");
    Inner<QAbstractButton>(sheet.m_hWnd, IDOK)->click();
  });
  EXPECT_EQ(IDOK, sheet.DoModal());
  EXPECT_EQ(0, activeAfter);
  EXPECT_EQ(1u, boxes.calls.size());
  EXPECT_EQ(8u, a.value);
}

TEST(FileChooser, HookAnswersAndNamePartsAreSplit) {
  CFileDialog::Request seen{};
  CFileDialog::SetHook([&](const CFileDialog::Request& r, std::string* path) {
    seen = r;
    *path = "/home/user/video/clip";
    return true;
  });
  CFileDialog fd(FALSE, nullptr, "/tmp/Capture.avi", OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT, "AVI Files (*.avi)|*.avi|");
  EXPECT_EQ(IDOK, fd.DoModal());
  EXPECT_FALSE(seen.open);
  EXPECT_EQ("/tmp/Capture.avi", seen.initialPath);
  EXPECT_EQ(fd.GetFileExt(), "");
  EXPECT_EQ(fd.GetFileName(), "clip");
  EXPECT_EQ(fd.GetFolderPath(), "/home/user/video/");
  CFileDialog::SetHook([](const CFileDialog::Request&, std::string*) { return false; });
  CFileDialog cancelled(FALSE);
  EXPECT_EQ(IDCANCEL, cancelled.DoModal());
  CFileDialog::SetHook(nullptr);
}

TEST(FreeSpace, ExistingFolderHasSpaceAndAMissingOneHasNone) {
  unsigned long long bytes = 0;
  EXPECT_TRUE(GetFreeDiskBytes("/tmp", &bytes));
  EXPECT_GT(bytes, 0u);
  EXPECT_FALSE(GetFreeDiskBytes("/no/such/folder/here", &bytes));
  EXPECT_EQ(0u, bytes);
}

}  // namespace

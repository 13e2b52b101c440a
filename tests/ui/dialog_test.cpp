// Dialogs from templates: modal loop, keys, data exchange and sheets.
#include "platform/ui/afxdlgs.h"
#include "tests/support/uitest.h"

#include <QAbstractButton>
#include <QLineEdit>
#include <QTabBar>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

using orv::test::Inner;
using orv::test::MessageBoxAnswerer;

namespace {

const DialogTemplate kForm = {"Form", 200, 120, "굴림", 10, DS_MODALFRAME,
                              {
                                  {IDOK, CtlKind::Button, BS_DEFPUSHBUTTON, "OK", 10, 100, 50, 14},
                                  {IDCANCEL, CtlKind::Button, BS_PUSHBUTTON, "Cancel", 70, 100, 50, 14},
                                  {1000, CtlKind::Edit, ES_AUTOHSCROLL, "", 10, 10, 100, 12},
                                  {1007, CtlKind::Button, BS_AUTOCHECKBOX, "Use", 10, 50, 60, 10},
                              }};
const DialogTemplate kPageA = {"Page A", 150, 80, "굴림", 10, 0, {{1100, CtlKind::Edit, ES_NUMBER, "", 10, 10, 50, 12}}};

class TestModule : public ResourceModule {
 public:
  const char* String(UINT) const override { return nullptr; }
  const DialogTemplate* Dialog(UINT id) const override {
    return id == 900 ? &kForm : id == 901 ? &kPageA : nullptr;
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

struct FormDlg : CDialog {
  FormDlg() : CDialog(900) {}
};

TEST_F(Dialogs, EnterEscapeAndTheCloseBox) {
  const struct { std::function<void(HWND)> act; int want; } cases[] = {
      {[](HWND h) { QTest::keyClick(Inner<QLineEdit>(h, 1000), Qt::Key_Return); }, IDOK},
      {[](HWND h) { QTest::keyClick(Inner<QLineEdit>(h, 1000), Qt::Key_Escape); }, IDCANCEL},
      {[](HWND h) { orv::test::Widget(h)->close(); }, IDCANCEL},
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
  for (const auto& c : cases) {
    FormDlg dlg;
    WhileModal([&] { c.act(dlg.m_hWnd); });
    EXPECT_EQ(c.want, dlg.DoModal());
  }
  EXPECT_EQ(-1, CDialog(12345).DoModal()) << "a missing template fails instead of crashing";
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

class Page : public CPropertyPage {
 public:
  Page() : CPropertyPage(901) {}
  UINT value = 3;
  int oks = 0;
  void OnOK() override { ++oks; }

 protected:
  void DoDataExchange(CDataExchange* pDX) override { DDX_Text(pDX, 1100, value); }
};

// Pages are created when first shown; a refused field keeps its page and the sheet open.
TEST_F(Dialogs, SheetPagesAreMadeWhenShownAndARefusedFieldKeepsItsPage) {
  CPropertySheet sheet("Sheet", nullptr, 0);
  Page a, b;
  sheet.AddPage(&a);
  sheet.AddPage(&b);
  MessageBoxAnswerer boxes(IDOK);
  bool bCreatedAtStart = true;
  int activeAfter = -1;
  std::vector<QWidget*> tabStops;
  QWidget *pageEdit = nullptr, *okButton = nullptr;
  WhileModal([&] {
    bCreatedAtStart = b.m_hWnd != nullptr;
    Inner<QLineEdit>(a.m_hWnd, 1100)->setText("");
    sheet.SetActivePage(1);
    activeAfter = sheet.GetActivePage() == &a ? 0 : 1;
    // Tab goes from the tabs into the page, then to OK, though the page was made after the buttons.
    QWidget* tabs = Inner<QTabBar>(sheet.m_hWnd, 0x3020);
    for (QWidget* w = tabs ? tabs->nextInFocusChain() : nullptr; w && w != tabs && tabStops.size() < 2;
         w = w->nextInFocusChain())
      if (w->isVisible() && (w->focusPolicy() & Qt::TabFocus)) tabStops.push_back(w);
    pageEdit = Inner<QLineEdit>(a.m_hWnd, 1100);
    okButton = Inner<QAbstractButton>(sheet.m_hWnd, IDOK);
    Inner<QLineEdit>(a.m_hWnd, 1100)->setText("8");
    Inner<QAbstractButton>(sheet.m_hWnd, IDOK)->click();
  });
  EXPECT_EQ(IDOK, sheet.DoModal());
  EXPECT_FALSE(bCreatedAtStart);
  EXPECT_EQ(0, activeAfter);
  EXPECT_EQ(1u, boxes.calls.size());
  EXPECT_EQ(8u, a.value);
  EXPECT_EQ(1, a.oks);
  EXPECT_EQ(0, b.oks) << "a page never shown stores nothing";
  EXPECT_EQ((std::vector<QWidget*>{pageEdit, okButton}), tabStops);
}

}  // namespace

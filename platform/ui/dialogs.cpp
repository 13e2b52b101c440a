// Modal dialogs from templates, data exchange, property sheets, tooltips and the file chooser.
#include "platform/ui/controls_p.h"
#include "platform/ui/afxres.h"
#include "platform/log.h"
#include "platform/ui/testing.h"

#include <QAbstractButton>
#include <QApplication>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QScreen>
#include <QTimer>
#include <QToolTip>
#include <sys/statvfs.h>

namespace orv::ui {
namespace {

// Enter or Escape that closes an open drop-down list belongs to the list. Qt lets the list act on
// the key's shortcut check, then delivers the same key press to the focused control, where it would
// also be the dialog's OK or Cancel. This sees every key event first and marks that key press.
class PopupKeys : public QObject {
 public:
  static PopupKeys& Instance() {
    static PopupKeys* keys = [] {
      auto* k = new PopupKeys;
      QCoreApplication::instance()->installEventFilter(k);
      return k;
    }();
    return *keys;
  }
  bool TakenByList(const QEvent* e) const { return taken_ && Same(e); }
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::ShortcutOverride && QApplication::activePopupWidget()) {
      pendingKey_ = static_cast<QKeyEvent*>(e)->key();
    } else if (e->type() == QEvent::KeyPress && !Same(e)) {
      // A key press reaches this once for each widget it propagates to; a new one starts afresh.
      auto* k = static_cast<const QKeyEvent*>(e);
      last_ = {e, k->key(), k->timestamp()};
      taken_ = k->key() == pendingKey_ && !QApplication::activePopupWidget();
      pendingKey_ = 0;
    }
    return false;
  }

 private:
  // Events live on the stack, so an address alone may come back for the next key.
  bool Same(const QEvent* e) const {
    auto* k = static_cast<const QKeyEvent*>(e);
    return e == last_.event && k->key() == last_.key && k->timestamp() == last_.stamp;
  }
  struct Press {
    const QEvent* event = nullptr;
    int key = 0;
    quint64 stamp = 0;
  } last_;
  int pendingKey_ = 0;
  bool taken_ = false;
};

// Enter and Escape in any control of a dialog are the dialog's OK and Cancel.
class DialogKeys : public QObject {
 public:
  explicit DialogKeys(HWND top) : top_(top) { PopupKeys::Instance(); }
  bool eventFilter(QObject* o, QEvent* e) override {
    if (e->type() != QEvent::KeyPress) return false;
    // An open drop-down list takes its own keys.
    if (QApplication::activePopupWidget() || PopupKeys::Instance().TakenByList(e)) return false;
    auto* k = static_cast<QKeyEvent*>(e);
    // Ctrl+Tab and Ctrl+PgDn show a sheet's next page, Ctrl+Shift+Tab and Ctrl+PgUp the one before.
    if (const int step = PageStep(k))
      if (auto* sheet = dynamic_cast<CPropertySheet*>(CWnd::FromHandle(top_))) {
        sheet->StepPage(step);
        return true;
      }
    if (k->key() == Qt::Key_Escape) {
      SendMessageA(top_, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
      return true;
    }
    if (k->key() == Qt::Key_Return || k->key() == Qt::Key_Enter) {
      // A focused push button is pressed; anywhere else Enter is the default button.
      if (auto* b = qobject_cast<QAbstractButton*>(o); b && b->inherits("QPushButton")) {
        b->click();
        return true;
      }
      SendMessageA(top_, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
      return true;
    }
    return false;
  }
  static int PageStep(const QKeyEvent* k) {
    const Qt::KeyboardModifiers mods = k->modifiers() & (Qt::ControlModifier | Qt::ShiftModifier | Qt::AltModifier);
    const bool shift = mods & Qt::ShiftModifier;
    if (!(mods & Qt::ControlModifier) || (mods & Qt::AltModifier)) return 0;
    switch (k->key()) {
      case Qt::Key_Tab: return shift ? -1 : 1;
      case Qt::Key_Backtab: return -1;
      case Qt::Key_PageDown: return shift ? 0 : 1;
      case Qt::Key_PageUp: return shift ? 0 : -1;
      default: return 0;
    }
  }
  void Watch(QWidget* w) {
    w->installEventFilter(this);
    for (QWidget* c : w->findChildren<QWidget*>()) c->installEventFilter(this);
  }

 private:
  HWND top_;
};

// A control's focus is its inner widget's (the edit of a spin field, the list of a combo ...).
QWidget* FocusOf(HWND h) {
  const CtlData* d = ControlData(h);
  return d && d->inner ? d->inner : WidgetForHandle(h);
}

// The window itself is no Tab stop: the focus goes round its controls only.
void NoTabStopOnWindow(HWND h) {
  if (QWidget* w = WidgetForHandle(h)) w->setFocusPolicy(Qt::NoFocus);
}

QRect CentreOnScreen(QSize s) {
  QScreen* scr = QGuiApplication::primaryScreen();
  const QRect a = scr ? scr->availableGeometry() : QRect(0, 0, 1024, 768);
  return QRect(a.x() + (a.width() - s.width()) / 2, a.y() + (a.height() - s.height()) / 2, s.width(), s.height());
}

HWND OwnerOf(CWnd* parent) {
  CWnd* w = parent ? parent : AfxGetMainWnd();
  return w ? w->m_hWnd : nullptr;
}

// Shows a created dialog window modally to its owner: the owner is disabled while a nested loop
// runs until `ended` is set (the loop object lives in `slot` meanwhile); then the window goes
// and the owner is active again. `cancel` ends it as its Cancel button would end it.
void RunModal(CWnd* wnd, HWND owner, void** slot, const bool& ended, const std::function<void()>& cancel) {
  ModalLoopScope scope(cancel);
  if (!scope.MayRun()) cancel();
  const BOOL ownerWasEnabled = owner && IsWindowEnabled(owner);
  if (owner) ::EnableWindow(owner, FALSE);
  if (!ended) {
    wnd->ShowWindow(SW_SHOW);
    ::SetActiveWindow(wnd->m_hWnd);
    QEventLoop loop;
    *slot = &loop;
    loop.exec();
    *slot = nullptr;
  }
  if (owner && ownerWasEnabled) ::EnableWindow(owner, TRUE);
  if (wnd->m_hWnd) wnd->DestroyWindow();
  if (owner) ::SetActiveWindow(owner);
}

void ExitNested(void* slot) {
  if (slot) static_cast<QEventLoop*>(slot)->exit(0);
}

// Whether the dialog's button `id` may be pressed: it is enabled itself (the dialog may be
// disabled for a while under a box of its own). A dialog without such a button takes the id.
bool ButtonEnabled(HWND dlg, int id) {
  const HWND b = ::GetDlgItem(dlg, id);
  QWidget* w = b ? WidgetForHandle(b) : nullptr;
  return !w || w->isEnabledTo(WidgetForHandle(dlg));
}

}  // namespace
}  // namespace orv::ui

using namespace orv::ui;

// ---- CDialog --------------------------------------------------------------------------------------

CDialog::CDialog(UINT templateId, CWnd* parent) : m_nIDTemplate(templateId), m_pParentWnd(parent) {}

CDialog::~CDialog() {
  if (m_hWnd) DestroyWindow();
  delete static_cast<DialogKeys*>(keyFilter_);
}

static const DialogTemplate* FindTemplate(UINT id) {
  if (const ResourceModule* m = AfxGetResourceModule())
    if (const DialogTemplate* t = m->Dialog(id)) return t;
  const ResourceModule* own = AfxGetOwnResourceModule();
  return own ? own->Dialog(id) : nullptr;
}

SIZE CDialog::TemplateSizePixels() const {
  const DialogTemplate* t = FindTemplate(m_nIDTemplate);
  if (!t) return SIZE{0, 0};
  const QFont f = DialogFont(t->fontFace, t->pointSize);
  const QRect r = DluToPixels(DialogBaseUnits(f), 0, 0, t->cx, t->cy);
  return SIZE{r.width(), r.height()};
}

BOOL CDialog::CreateFromTemplate(HWND parent, bool child, int x, int y) {
  const DialogTemplate* t = FindTemplate(m_nIDTemplate);
  if (!t) {
    orv::LogError("ui", "dialog template %u is missing", m_nIDTemplate);
    return FALSE;
  }
  const QFont font = DialogFont(t->fontFace, t->pointSize);
  const QSize base = DialogBaseUnits(font);
  const QRect size = DluToPixels(base, 0, 0, t->cx, t->cy);
  QRect place(x, y, size.width(), size.height());
  DWORD style = child ? WS_CHILD : (WS_POPUP | WS_CAPTION | WS_SYSMENU);
  if (!child) place = CentreOnScreen(size.size());
  if (!CreateEx(0, AfxRegisterWndClass(0, IDC_ARROW, COLOR_BTNFACE + 1), t->caption, style, place.x(), place.y(),
                place.width(), place.height(), parent, 0))
    return FALSE;
  for (const DlgItem& item : t->items) {
    QRect px = DluToPixels(base, item.x, item.y, item.cx, item.cy);
    if (item.kind == CtlKind::UpDown && (item.style & UDS_ALIGNRIGHT) && !controls_.empty()) {
      // Attached to the right side of the control before it, which gives up that room.
      const HWND buddy = controls_.back()->m_hWnd;
      RECT br;
      ::GetWindowRect(buddy, &br);
      POINT tl{br.left, br.top};
      ::ScreenToClient(m_hWnd, &tl);
      const int w = std::max(12, base.width() * 10 / 4);
      const int bw = br.right - br.left, bh = br.bottom - br.top;
      ::MoveWindow(buddy, tl.x, tl.y, std::max(0, bw - w), bh, TRUE);
      px = QRect(tl.x + bw - w, tl.y, w, bh);
    }
    CreateControl(m_hWnd, item, px, font, &controls_);
  }
  if (!child) NoTabStopOnWindow(m_hWnd);
  auto* keys = new DialogKeys(child ? ::GetParent(m_hWnd) : m_hWnd);
  if (QWidget* w = WidgetForHandle(m_hWnd)) keys->Watch(w);
  delete static_cast<DialogKeys*>(keyFilter_);
  keyFilter_ = keys;
  SendMessageA(m_hWnd, WM_INITDIALOG, 0, 0);
  return TRUE;
}

int CDialog::DoModal() {
  ended_ = false;
  result_ = IDCANCEL;
  const HWND owner = OwnerOf(m_pParentWnd);
  if (!CreateFromTemplate(owner, false, 0, 0)) return -1;
  running_ = true;
  RunModal(this, owner, &loop_, ended_, [this] { EndDialog(IDCANCEL); });
  running_ = false;
  controls_.clear();
  return result_;
}

void CDialog::EndDialog(int result) {
  result_ = result;
  ended_ = true;
  if (m_hWnd) ShowWindow(SW_HIDE);
  ExitNested(loop_);
}

BOOL CDialog::UpdateData(BOOL saveAndValidate) {
  CDataExchange dx(this, saveAndValidate);
  DoDataExchange(&dx);
  return dx.m_bFailed ? FALSE : TRUE;
}

CWnd* CDialog::GetDlgItem(int id) const { return CWnd::FromHandle(::GetDlgItem(m_hWnd, id)); }

BOOL CDialog::OnInitDialog() {
  UpdateData(FALSE);
  return TRUE;
}

void CDialog::OnOK() {
  if (!UpdateData(TRUE)) return;
  EndDialog(IDOK);
}

void CDialog::OnCancel() { EndDialog(IDCANCEL); }

bool CDialog::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  switch (message) {
    case WM_INITDIALOG:
      *result = OnInitDialog();
      return true;
    case WM_COMMAND: {
      const UINT id = LOWORD(wParam), code = HIWORD(wParam);
      *result = 0;
      // A disabled button is never pressed, whoever sends its click: Enter in another control
      // sends the default button's.
      if (code == BN_CLICKED && !ButtonEnabled(m_hWnd, static_cast<int>(id))) return true;
      if (OnCommand(id, code)) return true;
      if (id == IDOK && code == BN_CLICKED) {
        OnOK();
        return true;
      }
      if (id == IDCANCEL && code == BN_CLICKED) {
        OnCancel();
        return true;
      }
      return true;
    }
    case WM_HSCROLL:
      OnHScroll(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam));
      *result = 0;
      return true;
    case WM_VSCROLL:
      OnVScroll(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam));
      *result = 0;
      return true;
    case WM_CLOSE:
      // The close box is Cancel.
      SendMessageA(m_hWnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
      *result = 0;
      return true;
    default:
      return false;
  }
}

// ---- Data exchange --------------------------------------------------------------------------------

HWND CDataExchange::PrepareCtrl(int id) { return m_pDlgWnd ? ::GetDlgItem(m_pDlgWnd->m_hWnd, id) : nullptr; }

void CDataExchange::Fail(int id, LPCSTR message) {
  if (m_bFailed) return;
  m_bFailed = true;
  MessageBoxA(m_pDlgWnd ? m_pDlgWnd->m_hWnd : nullptr, message, nullptr, MB_OK | MB_ICONEXCLAMATION);
  if (HWND h = PrepareCtrl(id)) {
    if (CtlData* d = ControlData(h); d && d->inner) d->inner->setFocus(Qt::OtherFocusReason);
  }
}

void DDX_Text(CDataExchange* pDX, int id, CString& value) {
  if (pDX->m_bFailed) return;
  const HWND h = pDX->PrepareCtrl(id);
  if (!h) return;
  if (pDX->m_bSaveAndValidate)
    value = CString(ControlText(h).toUtf8().toStdString());
  else
    SetControlText(h, QString::fromUtf8(value.str().c_str()));
}

void DDX_Text(CDataExchange* pDX, int id, UINT& value) {
  if (pDX->m_bFailed) return;
  const HWND h = pDX->PrepareCtrl(id);
  if (!h) return;
  if (!pDX->m_bSaveAndValidate) {
    SetControlText(h, QString::number(value));
    return;
  }
  bool ok = false;
  const QString text = ControlText(h).trimmed();
  const qulonglong v = text.toULongLong(&ok);
  if (!ok || v > 0xFFFFFFFFull || text.startsWith('+')) {
    pDX->Fail(id, AfxFormatString(AFX_IDS_PARSE_UINT).c_str());
    return;
  }
  value = static_cast<UINT>(v);
}

void DDX_Text(CDataExchange* pDX, int id, int& value) {
  if (pDX->m_bFailed) return;
  const HWND h = pDX->PrepareCtrl(id);
  if (!h) return;
  if (!pDX->m_bSaveAndValidate) {
    SetControlText(h, QString::number(value));
    return;
  }
  bool ok = false;
  const int v = ControlText(h).trimmed().toInt(&ok);
  if (!ok) {
    pDX->Fail(id, AfxFormatString(AFX_IDS_PARSE_INT).c_str());
    return;
  }
  value = v;
}

void DDX_Check(CDataExchange* pDX, int id, int& value) {
  if (pDX->m_bFailed) return;
  const HWND h = pDX->PrepareCtrl(id);
  if (!h) return;
  if (pDX->m_bSaveAndValidate)
    value = static_cast<int>(IsDlgButtonChecked(pDX->m_pDlgWnd->m_hWnd, id));
  else
    CheckDlgButton(pDX->m_pDlgWnd->m_hWnd, id, value ? BST_CHECKED : BST_UNCHECKED);
}

void DDX_Slider(CDataExchange* pDX, int id, int& value) {
  if (pDX->m_bFailed) return;
  CSliderCtrl s;
  s.Attach(pDX->PrepareCtrl(id));
  if (!s.m_hWnd) return;
  if (pDX->m_bSaveAndValidate)
    value = s.GetPos();
  else
    s.SetPos(value);
}

void DDX_Control(CDataExchange* pDX, int id, CCtrl& control) {
  if (!control.m_hWnd) control.Attach(pDX->PrepareCtrl(id));
}

// ---- Property sheets ------------------------------------------------------------------------------

namespace {
constexpr int kTabsId = 0x3020;
constexpr int kMargin = 7;
constexpr int kButtonW = 75, kButtonH = 23, kButtonGap = 6, kTabsH = 24;
}  // namespace

CPropertySheet::CPropertySheet(LPCSTR caption, CWnd* parent, UINT selectPage)
    : caption_(caption ? caption : ""), parent_(parent), startPage_(selectPage) {}

CPropertySheet::~CPropertySheet() {
  if (m_hWnd) DestroyWindow();
  delete static_cast<DialogKeys*>(keyFilter_);
}

void CPropertySheet::AddPage(CPropertyPage* page) { pages_.push_back(page); }

CPropertyPage* CPropertySheet::GetActivePage() const {
  return active_ >= 0 && active_ < GetPageCount() ? pages_[static_cast<size_t>(active_)] : nullptr;
}

CWnd* CPropertySheet::GetDlgItem(int id) const { return CWnd::FromHandle(::GetDlgItem(m_hWnd, id)); }

BOOL CPropertySheet::SetActivePage(int index) {
  if (index < 0 || index >= GetPageCount()) return FALSE;
  if (CPropertyPage* cur = GetActivePage()) {
    if (index == active_) return TRUE;
    if (!cur->OnKillActive()) {  // a page whose fields are refused keeps the focus
      SetTabIndex(tabs_, active_);
      return FALSE;
    }
    cur->ShowWindow(SW_HIDE);
  }
  CPropertyPage* page = pages_[static_cast<size_t>(index)];
  active_ = index;
  // A page is created the first time it is shown.
  if (!page->m_hWnd) static_cast<CDialog*>(page)->CreateFromTemplate(m_hWnd, true, pageArea_.left, pageArea_.top);
  page->OnSetActive();
  page->ShowWindow(SW_SHOW);
  SetTabIndex(tabs_, index);
  ChainFocus(page);
  return TRUE;
}

void CPropertySheet::StepPage(int step) {
  const int n = GetPageCount();
  if (n > 0) ShowPageForUser(((active_ + step) % n + n) % n, Qt::TabFocusReason);
}

void CPropertySheet::ShowPageForUser(int index, int reason) {
  if (!SetActivePage(index)) return;
  CPropertyPage* page = GetActivePage();
  QWidget* pageWidget = WidgetForHandle(page->m_hWnd);
  for (const auto& c : page->controls_) {
    QWidget* w = FocusOf(c->m_hWnd);
    if (w && (w->focusPolicy() & Qt::TabFocus) && w->isEnabled() && w->isVisibleTo(pageWidget)) {
      w->setFocus(static_cast<Qt::FocusReason>(reason));
      return;
    }
  }
  if (QWidget* tabs = FocusOf(tabs_)) tabs->setFocus(static_cast<Qt::FocusReason>(reason));
}

void CPropertySheet::ChainFocus(CPropertyPage* page) {
  QWidget* prev = FocusOf(tabs_);
  const auto link = [&prev](HWND h) {
    if (QWidget* w = FocusOf(h); w && prev) {
      QWidget::setTabOrder(prev, w);
      prev = w;
    }
  };
  for (const auto& c : page->controls_) link(c->m_hWnd);
  for (const int id : {IDOK, IDCANCEL, ID_APPLY_NOW, IDHELP}) link(::GetDlgItem(m_hWnd, id));
}

int CPropertySheet::DoModal() {
  ended_ = false;
  result_ = IDCANCEL;
  const HWND owner = OwnerOf(parent_);
  int pw = 0, ph = 0;
  for (CPropertyPage* p : pages_) {
    const SIZE s = static_cast<const CDialog*>(p)->TemplateSizePixels();
    pw = std::max(pw, static_cast<int>(s.cx));
    ph = std::max(ph, static_cast<int>(s.cy));
  }
  pw = std::max(pw, 4 * kButtonW + 3 * kButtonGap);
  const int w = pw + 2 * kMargin + 4, h = kMargin + kTabsH + ph + 4 + kMargin + kButtonH + kMargin;
  const QRect place = CentreOnScreen(QSize(w, h));
  if (!CreateEx(0, AfxRegisterWndClass(0, IDC_ARROW, COLOR_BTNFACE + 1), caption_.c_str(),
                WS_POPUP | WS_CAPTION | WS_SYSMENU, place.x(), place.y(), w, h, owner, 0))
    return -1;
  const QFont font = DialogFont(nullptr, 10);
  pageArea_ = RECT{kMargin + 2, kMargin + kTabsH + 2, kMargin + 2 + pw, kMargin + kTabsH + 2 + ph};

  DlgItem tabs{kTabsId, CtlKind::Tabs, 0, "", 0, 0, 0, 0};
  std::vector<std::string> captions;
  for (CPropertyPage* p : pages_) {
    const DialogTemplate* t = FindTemplate(p->m_nIDTemplate);
    captions.push_back(t ? t->caption : "");
  }
  for (auto& c : captions) tabs.initialItems.push_back(c.c_str());
  tabs_ = CreateControl(m_hWnd, tabs, QRect(kMargin, kMargin, pw + 4, kTabsH), font, &controls_);

  // The standard buttons, left to right: OK, Cancel, Apply, Help.
  const int y = h - kMargin - kButtonH;
  int x = w - kMargin - 4 * kButtonW - 3 * kButtonGap;
  const struct {
    int id;
    UINT text;
    DWORD style;
  } buttons[] = {{IDOK, AFX_IDS_OK, BS_DEFPUSHBUTTON},
                 {IDCANCEL, AFX_IDS_CANCEL, BS_PUSHBUTTON},
                 {ID_APPLY_NOW, AFX_IDS_APPLY, BS_PUSHBUTTON | WS_DISABLED},
                 {IDHELP, AFX_IDS_HELP, BS_PUSHBUTTON}};
  for (const auto& b : buttons) {
    const std::string text = AfxFormatString(b.text);
    DlgItem item{b.id, CtlKind::Button, b.style, text.c_str(), 0, 0, 0, 0};
    const HWND bh = CreateControl(m_hWnd, item, QRect(x, y, kButtonW, kButtonH), font, &controls_);
    // Without Apply the button is there to keep its place, but nobody can use it.
    if (b.id == ID_APPLY_NOW && (m_psh.dwFlags & PSH_NOAPPLYNOW)) ::ShowWindow(bh, SW_HIDE);
    x += kButtonW + kButtonGap;
  }
  NoTabStopOnWindow(m_hWnd);
  auto* keys = new DialogKeys(m_hWnd);
  delete static_cast<DialogKeys*>(keyFilter_);
  keyFilter_ = keys;
  SetActivePage(std::min<int>(static_cast<int>(startPage_), GetPageCount() - 1));
  SendMessageA(m_hWnd, WM_INITDIALOG, 0, 0);
  if (QWidget* wdg = WidgetForHandle(m_hWnd)) keys->Watch(wdg);

  RunModal(this, owner, &loop_, ended_, [this] { EndDialog(IDCANCEL); });
  controls_.clear();
  active_ = -1;
  return result_;
}

void CPropertySheet::EndDialog(int result) {
  result_ = result;
  ended_ = true;
  if (m_hWnd) ShowWindow(SW_HIDE);
  ExitNested(loop_);
}

void CPropertySheet::PressOK() {
  if (CPropertyPage* cur = GetActivePage(); cur && !cur->OnKillActive()) return;
  // Every page that was shown stores its values; the others store nothing.
  for (CPropertyPage* p : pages_)
    if (p->WasShown()) p->OnOK();
  EndDialog(IDOK);
}

bool CPropertySheet::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  switch (message) {
    case WM_INITDIALOG:
      *result = OnInitDialog();
      return true;
    case WM_COMMAND: {
      const UINT id = LOWORD(wParam), code = HIWORD(wParam);
      *result = 0;
      if (id == kTabsId) {
        // With the focus on the tabs it stays there, for their arrow keys; from a page it goes into the new one.
        QWidget* tabs = FocusOf(tabs_);
        if (tabs && tabs->window()->focusWidget() == tabs)
          SetActivePage(static_cast<int>(code));
        else
          ShowPageForUser(static_cast<int>(code), Qt::MouseFocusReason);
      } else if (id == IDOK && code == BN_CLICKED) {
        PressOK();
      } else if (id == IDCANCEL && code == BN_CLICKED) {
        for (CPropertyPage* p : pages_)
          if (p->WasShown()) p->OnCancel();
        EndDialog(IDCANCEL);
      }
      return true;
    }
    case WM_CLOSE:
      SendMessageA(m_hWnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
      *result = 0;
      return true;
    default:
      return false;
  }
}

// ---- Tooltips -------------------------------------------------------------------------------------

CToolTipCtrl::CToolTipCtrl() = default;

CToolTipCtrl::~CToolTipCtrl() { delete static_cast<QTimer*>(timer_); }

BOOL CToolTipCtrl::Create(CWnd* parent, DWORD) {
  parent_ = parent ? parent->m_hWnd : nullptr;
  auto* t = new QTimer;
  t->setSingleShot(true);
  QObject::connect(t, &QTimer::timeout, t, [this] {
    QWidget* w = WidgetForHandle(parent_);
    if (!w || !active_ || text_.empty()) return;
    QToolTip::showText(w->mapToGlobal(QPoint(last_.x, last_.y + 20)), QString::fromUtf8(text_.c_str()), w);
  });
  timer_ = t;
  return parent_ ? TRUE : FALSE;
}

void CToolTipCtrl::Activate(BOOL activate) {
  active_ = activate != FALSE;
  if (!active_) QToolTip::hideText();
}

BOOL CToolTipCtrl::AddTool(CWnd*, LPCSTR text, const RECT*, UINT_PTR) {
  text_ = text ? text : "";
  return TRUE;
}

void CToolTipCtrl::UpdateTipText(LPCSTR text, CWnd*, UINT_PTR) {
  const std::string t = text ? text : "";
  if (t != text_ && QToolTip::isVisible()) QToolTip::hideText();
  text_ = t;
}

void CToolTipCtrl::SetDelayTime(UINT, int ms) { delay_ = ms; }

void CToolTipCtrl::Pop() {
  if (auto* t = static_cast<QTimer*>(timer_)) t->stop();
  QToolTip::hideText();
}

void CToolTipCtrl::RelayEvent(const MSG* msg) {
  auto* t = static_cast<QTimer*>(timer_);
  if (!t || !msg) return;
  if (msg->message == WM_MOUSEMOVE) {
    const POINT p{GET_X_LPARAM(msg->lParam), GET_Y_LPARAM(msg->lParam)};
    if (p.x == last_.x && p.y == last_.y && t->isActive()) return;
    last_ = p;
    t->start(delay_);
  } else if (msg->message >= WM_LBUTTONDOWN && msg->message <= WM_MBUTTONDBLCLK) {
    t->stop();
    QToolTip::hideText();
  }
}

// ---- File chooser ---------------------------------------------------------------------------------

namespace {
CFileDialog::Hook g_fileHook;
}

void CFileDialog::SetHook(Hook hook) { g_fileHook = std::move(hook); }

CFileDialog::CFileDialog(BOOL open, LPCSTR, LPCSTR fileName, DWORD flags, LPCSTR filter, CWnd* parent) {
  req_.open = open != FALSE;
  req_.initialPath = fileName ? fileName : "";
  req_.filter = filter ? filter : "";
  req_.flags = flags;
  req_.owner = parent ? parent->m_hWnd : nullptr;
}

bool CFileDialog::ConfirmReplace(CWnd* owner, LPCSTR path) {
  const std::string p = path ? path : "";
  const auto slash = p.rfind('/');
  const std::string name = slash == std::string::npos ? p : p.substr(slash + 1);
  const std::string text = AfxFormatString(AFX_IDS_REPLACE_QUESTION, name.c_str());
  return MessageBoxA(owner ? owner->m_hWnd : nullptr, text.c_str(), AfxFormatString(AFX_IDS_REPLACE_CAPTION).c_str(),
                     MB_YESNO | MB_ICONEXCLAMATION) == IDYES;
}

int CFileDialog::DoModal() {
  std::string chosen;
  bool ok = false;
  if (g_fileHook) {
    ModalLoopScope scope([] {});
    ok = scope.MayRun() && g_fileHook(req_, &chosen);
  } else {
    // "Name (*.x)|*.x|" pairs become the chooser's "Name (*.x)" filters.
    QStringList filters;
    const QStringList parts = QString::fromUtf8(req_.filter.c_str()).split('|');
    for (int i = 0; i + 1 < parts.size(); i += 2)
      if (!parts[i].isEmpty()) filters << parts[i];
    // The question about an existing file is ours, so that it reads the same wherever it is asked.
    QString initial = QString::fromUtf8(req_.initialPath.c_str());
    for (;;) {
      QFileDialog chooser(WidgetForHandle(req_.owner), QString(), initial, filters.join(";;"));
      chooser.setAcceptMode(req_.open ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
      chooser.setFileMode(req_.open ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
      chooser.setOption(QFileDialog::DontConfirmOverwrite);
      ModalLoopScope scope([&chooser] { chooser.reject(); });
      ok = scope.MayRun() && chooser.exec() == QDialog::Accepted && !chooser.selectedFiles().isEmpty();
      chosen = ok ? chooser.selectedFiles().first().toUtf8().toStdString() : std::string();
      ok = ok && !chosen.empty();
      // "No" gives the chooser back, at the name that was refused.
      if (ok && !req_.open && (req_.flags & OFN_OVERWRITEPROMPT) && QFileInfo::exists(QString::fromStdString(chosen)) &&
          !ConfirmReplace(CWnd::FromHandle(req_.owner), chosen.c_str())) {
        initial = QString::fromStdString(chosen);
        continue;
      }
      break;
    }
  }
  if (!ok) return IDCANCEL;
  path_ = chosen;
  return IDOK;
}

CString CFileDialog::GetFileName() const {
  const auto slash = path_.rfind('/');
  return CString(slash == std::string::npos ? path_ : path_.substr(slash + 1));
}

CString CFileDialog::GetFileExt() const {
  const std::string name = GetFileName().str();
  const auto dot = name.rfind('.');
  return CString(dot == std::string::npos ? std::string() : name.substr(dot + 1));
}

CString CFileDialog::GetFolderPath() const {
  const auto slash = path_.rfind('/');
  return CString(slash == std::string::npos ? std::string() : path_.substr(0, slash + 1));
}

static std::function<bool(const std::string&, unsigned long long*)> g_freeHook;

void SetFreeDiskHookForTests(std::function<bool(const std::string&, unsigned long long*)> hook) {
  g_freeHook = std::move(hook);
}

bool GetFreeDiskBytes(const std::string& folder, unsigned long long* bytes) {
  if (g_freeHook) return g_freeHook(folder, bytes);
  struct statvfs st {};
  if (folder.empty() || ::statvfs(folder.c_str(), &st) != 0) {
    if (bytes) *bytes = 0;
    return false;
  }
  if (bytes) *bytes = static_cast<unsigned long long>(st.f_bavail) * st.f_frsize;
  return true;
}

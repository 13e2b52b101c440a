// Controls built from dialog-template items: a window of ours hosting a Qt widget, turning the
// widget's signals into WM_COMMAND, WM_HSCROLL and WM_VSCROLL for the window that holds it.
#include "platform/ui/controls_p.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QStandardItemModel>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QProxyStyle>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QSlider>
#include <QTabBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <map>

namespace orv::ui {
namespace {

std::map<std::uintptr_t, CtlData>& Table() {
  static std::map<std::uintptr_t, CtlData> t;
  return t;
}

void Notify(HWND ctl, UINT message, WPARAM w) {
  const HWND parent = ::GetParent(ctl);
  if (parent) SendMessageA(parent, message, w, reinterpret_cast<LPARAM>(ctl));
}

void Command(HWND ctl, UINT code) {
  CtlData* d = ControlData(ctl);
  if (d) Notify(ctl, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(d->id), static_cast<WORD>(code)));
}

// The control's own window: nothing but the host of a Qt widget.
class CtlWnd : public CWnd {
 protected:
  void PostNcDestroy() override { Table().erase(reinterpret_cast<std::uintptr_t>(handle_)); }

 public:
  HWND handle_ = nullptr;
};

// An up-down control keeps its own position; it never writes into its buddy.
QWidget* MakeUpDown(HWND h) {
  auto* box = new QWidget;
  auto* lay = new QVBoxLayout(box);
  lay->setContentsMargins(0, 0, 0, 0);
  lay->setSpacing(0);
  auto* up = new QToolButton(box);
  auto* down = new QToolButton(box);
  up->setArrowType(Qt::UpArrow);
  down->setArrowType(Qt::DownArrow);
  up->setAutoRepeat(true);
  down->setAutoRepeat(true);
  for (auto* b : {up, down}) {
    b->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    b->setFocusPolicy(Qt::NoFocus);
    lay->addWidget(b);
  }
  QObject::connect(up, &QToolButton::clicked, box, [h] { StepUpDown(h, +1); });
  QObject::connect(down, &QToolButton::clicked, box, [h] { StepUpDown(h, -1); });
  return box;
}

// The style in use, and a dotted frame inside a push button whenever it has the focus: the style
// alone may show the focus only once a key has moved it, and Enter presses the focused button.
class FocusFrameStyle : public QProxyStyle {
 public:
  using QProxyStyle::QProxyStyle;
  void drawControl(ControlElement element, const QStyleOption* opt, QPainter* p, const QWidget* w) const override {
    QProxyStyle::drawControl(element, opt, p, w);
    if (element != CE_PushButton || !(opt->state & State_HasFocus)) return;
    p->save();
    p->setRenderHint(QPainter::Antialiasing, false);
    p->setPen(QPen(opt->palette.color(QPalette::ButtonText), 1, Qt::DotLine));
    p->setBrush(Qt::NoBrush);
    p->drawRect(opt->rect.adjusted(kFocusInset, kFocusInset, -kFocusInset - 1, -kFocusInset - 1));
    p->restore();
  }

 private:
  static constexpr int kFocusInset = 3;
};

}  // namespace

QStyle* ButtonStyle() {
  static QStyle* style = new FocusFrameStyle(QApplication::style()->name());
  return style;
}

CtlData* ControlData(HWND h) {
  auto it = Table().find(reinterpret_cast<std::uintptr_t>(h));
  return it == Table().end() ? nullptr : &it->second;
}

void StepUpDown(HWND h, int delta) {
  CtlData* d = ControlData(h);
  if (!d || !IsWindowEnabled(h)) return;
  const int next = std::clamp(d->upPos + delta, std::min(d->upLower, d->upUpper), std::max(d->upLower, d->upUpper));
  if (next == d->upPos) return;
  d->upPos = next;
  Notify(h, WM_VSCROLL, MAKEWPARAM(SB_THUMBPOSITION, static_cast<WORD>(next)));
}

QFont DialogFont(const char* face, int points) {
  // The templates name a Windows Korean font; NanumGothic is what Linux systems carry.
  QFont f(QStringLiteral("NanumGothic"));
  (void)face;
  f.setPointSize(points > 0 ? points : 9);
  return f;
}

QSize DialogBaseUnits(const QFont& f) {
  const QFontMetrics fm(f);
  const int avg = (fm.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")) / 26 + 1) / 2;
  return QSize(std::max(avg, 1), std::max(fm.height(), 1));
}

QRect DluToPixels(const QSize& base, int x, int y, int cx, int cy) {
  return QRect(x * base.width() / 4, y * base.height() / 8, cx * base.width() / 4, cy * base.height() / 8);
}

HWND CreateControl(HWND parent, const DlgItem& item, const QRect& px, const QFont& font,
                   std::vector<std::unique_ptr<CWnd>>* owner) {
  auto wnd = std::make_unique<CtlWnd>();
  const DWORD style = WS_CHILD | (item.style & (WS_DISABLED | WS_TABSTOP | WS_GROUP | WS_VISIBLE)) | WS_VISIBLE;
  if (!wnd->CreateEx(0, AfxRegisterWndClass(0), item.text ? item.text : "", style & ~WS_DISABLED, px.x(), px.y(),
                     px.width(), px.height(), parent, static_cast<UINT>(item.id)))
    return nullptr;
  const HWND h = wnd->m_hWnd;
  wnd->handle_ = h;
  CtlData& d = Table()[reinterpret_cast<std::uintptr_t>(h)];
  d.id = item.id;
  d.kind = item.kind;
  d.style = item.style;
  const QString text = QString::fromUtf8(item.text ? item.text : "");
  QWidget* w = nullptr;
  switch (item.kind) {
    case CtlKind::Button: {
      const DWORD type = item.style & BS_TYPEMASK;
      if (type == BS_GROUPBOX) {
        auto* g = new QGroupBox(text);
        g->setAttribute(Qt::WA_TransparentForMouseEvents);
        w = g;
      } else if (type == BS_AUTOCHECKBOX) {
        auto* c = new QCheckBox(text);
        QObject::connect(c, &QCheckBox::clicked, c, [h] { Command(h, BN_CLICKED); });
        w = c;
      } else if (type == BS_AUTORADIOBUTTON) {
        auto* r = new QRadioButton(text);
        r->setAutoExclusive(false);  // the dialog keeps radio groups, as CheckRadioButton does
        QObject::connect(r, &QRadioButton::clicked, r, [h] {
          RadioClicked(h);
          Command(h, BN_CLICKED);
        });
        w = r;
      } else {
        auto* b = new QPushButton(text);
        b->setStyle(ButtonStyle());
        b->setDefault(type == BS_DEFPUSHBUTTON);
        b->setAutoDefault(false);
        QObject::connect(b, &QPushButton::clicked, b, [h] { Command(h, BN_CLICKED); });
        w = b;
      }
      break;
    }
    case CtlKind::Edit: {
      auto* e = new QLineEdit(text);
      if (item.style & ES_NUMBER)
        e->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), e));
      QObject::connect(e, &QLineEdit::textEdited, e, [h] { Command(h, EN_CHANGE); });
      w = e;
      break;
    }
    case CtlKind::Static: {
      auto* l = new QLabel(text);
      l->setTextFormat(Qt::PlainText);
      Qt::Alignment a = Qt::AlignLeft | Qt::AlignTop;
      if ((item.style & 0x0F) == SS_CENTER) a = Qt::AlignHCenter | Qt::AlignTop;
      if ((item.style & 0x0F) == SS_RIGHT) a = Qt::AlignRight | Qt::AlignTop;
      if (item.style & SS_CENTERIMAGE) a = (a & Qt::AlignHorizontal_Mask) | Qt::AlignVCenter;
      l->setAlignment(a);
      if ((item.style & 0x0F) == SS_BITMAP) {
        CBitmap bmp;
        if (bmp.LoadBitmap(item.bitmapId))
          if (QImage* img = ImageOf(&bmp)) l->setPixmap(QPixmap::fromImage(*img));
        l->setScaledContents(true);
      }
      w = l;
      break;
    }
    case CtlKind::ListBox: {
      auto* l = new QListWidget;
      l->setSelectionMode((item.style & LBS_MULTIPLESEL) ? QAbstractItemView::MultiSelection
                                                         : QAbstractItemView::SingleSelection);
      l->setVerticalScrollBarPolicy((item.style & WS_VSCROLL) ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAsNeeded);
      QObject::connect(l, &QListWidget::itemSelectionChanged, l, [h] {
        CtlData* dd = ControlData(h);
        if (dd && !dd->quiet && (dd->style & LBS_NOTIFY)) Command(h, LBN_SELCHANGE);
      });
      w = l;
      break;
    }
    case CtlKind::ComboBox: {
      auto* c = new QComboBox;
      c->setEditable((item.style & 0x3) == CBS_DROPDOWN);
      c->setInsertPolicy(QComboBox::NoInsert);
      for (const char* s : item.initialItems) c->addItem(QString::fromUtf8(s));
      c->setCurrentIndex(-1);
      QObject::connect(c, QOverload<int>::of(&QComboBox::activated), c, [h](int) { Command(h, CBN_SELCHANGE); });
      w = c;
      break;
    }
    case CtlKind::Trackbar: {
      auto* s = new QSlider(Qt::Horizontal);
      s->setRange(0, 100);
      s->setTickPosition(QSlider::NoTicks);
      s->setFocusPolicy((item.style & WS_TABSTOP) ? Qt::StrongFocus : Qt::NoFocus);
      // Every user move is a scroll notice, also while the thumb is dragged; set positions are not.
      QObject::connect(s, &QSlider::valueChanged, s, [h, s](int v) {
        CtlData* dd = ControlData(h);
        if (!dd || dd->quiet) return;
        Notify(h, WM_HSCROLL, MAKEWPARAM(static_cast<WORD>(s->isSliderDown() ? TB_THUMBTRACK : SB_THUMBPOSITION),
                                         static_cast<WORD>(v)));
      });
      QObject::connect(s, &QSlider::sliderReleased, s, [h, s] {
        Notify(h, WM_HSCROLL, MAKEWPARAM(static_cast<WORD>(TB_ENDTRACK), static_cast<WORD>(s->value())));
      });
      w = s;
      break;
    }
    case CtlKind::Tabs: {
      // A property sheet's tab strip: the items are the page captions; a user's choice is a command
      // whose code is the chosen index.
      auto* t = new QTabBar;
      for (const char* s : item.initialItems) t->addTab(QString::fromUtf8(s));
      QObject::connect(t, &QTabBar::currentChanged, t, [h](int i) {
        CtlData* dd = ControlData(h);
        if (dd && !dd->quiet && i >= 0) Command(h, static_cast<UINT>(i));
      });
      w = t;
      break;
    }
    case CtlKind::UpDown: {
      d.upLower = 100;  // the platform's default range runs downward
      d.upUpper = 0;
      d.upPos = 0;
      w = MakeUpDown(h);
      break;
    }
  }
  w->setFont(font);
  // A combo box's template height includes its drop-down list; the box itself is one line.
  if (item.kind == CtlKind::ComboBox) ::MoveWindow(h, px.x(), px.y(), px.width(), std::min(px.height(), w->sizeHint().height()), TRUE);
  if (auto* ww = dynamic_cast<WndWidget*>(WidgetForHandle(h))) ww->SetInner(w);
  d.inner = w;
  if (item.style & WS_DISABLED) ::EnableWindow(h, FALSE);
  owner->push_back(std::move(wnd));
  return h;
}

void RadioClicked(HWND h) {
  // An automatic radio button clears the other radio buttons of its dialog.
  const HWND parent = ::GetParent(h);
  for (HWND c : ChildrenOf(parent)) {
    CtlData* d = ControlData(c);
    if (!d || c == h || d->kind != CtlKind::Button || (d->style & BS_TYPEMASK) != BS_AUTORADIOBUTTON) continue;
    static_cast<QRadioButton*>(d->inner)->setChecked(false);
  }
  if (CtlData* d = ControlData(h)) static_cast<QRadioButton*>(d->inner)->setChecked(true);
}

void SetTabIndex(HWND h, int index) {
  CtlData* d = ControlData(h);
  if (!d) return;
  if (auto* t = qobject_cast<QTabBar*>(d->inner)) {
    d->quiet = true;
    t->setCurrentIndex(index);
    d->quiet = false;
  }
}

QString ControlText(HWND h) {
  CtlData* d = ControlData(h);
  if (!d) {
    WndRecord* r = FindRecord(h);
    return r ? QString::fromUtf8(r->title.c_str()) : QString();
  }
  if (auto* e = qobject_cast<QLineEdit*>(d->inner)) return e->text();
  if (auto* l = qobject_cast<QLabel*>(d->inner)) return l->text();
  if (auto* b = qobject_cast<QAbstractButton*>(d->inner)) return b->text();
  if (auto* g = qobject_cast<QGroupBox*>(d->inner)) return g->title();
  if (auto* c = qobject_cast<QComboBox*>(d->inner)) return c->currentText();
  return QString();
}

void SetControlText(HWND h, const QString& text) {
  CtlData* d = ControlData(h);
  if (!d) {
    ::SetWindowTextA(h, text.toUtf8().constData());
    return;
  }
  if (auto* e = qobject_cast<QLineEdit*>(d->inner)) {
    if (e->text() != text) e->setText(text);
  } else if (auto* l = qobject_cast<QLabel*>(d->inner)) {
    l->setText(text);
  } else if (auto* b = qobject_cast<QAbstractButton*>(d->inner)) {
    b->setText(text);
  } else if (auto* g = qobject_cast<QGroupBox*>(d->inner)) {
    g->setTitle(text);
  } else if (auto* c = qobject_cast<QComboBox*>(d->inner)) {
    c->setEditText(text);
  }
}

}  // namespace orv::ui

using namespace orv::ui;

template <class W>
static W* Inner(HWND h) {
  CtlData* d = ControlData(h);
  return d ? qobject_cast<W*>(d->inner) : nullptr;
}

HWND GetDlgItem(HWND hDlg, int id) {
  for (HWND c : ChildrenOf(hDlg)) {
    WndRecord* r = FindRecord(c);
    if (r && r->id == id && id != -1) return c;
  }
  return nullptr;
}

BOOL SetDlgItemTextA(HWND hDlg, int id, LPCSTR text) {
  HWND h = GetDlgItem(hDlg, id);
  if (!h) return FALSE;
  SetControlText(h, QString::fromUtf8(text ? text : ""));
  return TRUE;
}

UINT GetDlgItemTextA(HWND hDlg, int id, LPSTR buf, int max) {
  HWND h = GetDlgItem(hDlg, id);
  if (!buf || max <= 0) return 0;
  lstrcpynA(buf, h ? ControlText(h).toUtf8().constData() : "", max);
  return static_cast<UINT>(lstrlenA(buf));
}

BOOL CheckRadioButton(HWND hDlg, int first, int last, int check) {
  for (int id = first; id <= last; ++id)
    if (auto* b = Inner<QAbstractButton>(GetDlgItem(hDlg, id))) b->setChecked(id == check);
  return TRUE;
}

BOOL CheckDlgButton(HWND hDlg, int id, UINT check) {
  auto* b = Inner<QAbstractButton>(GetDlgItem(hDlg, id));
  if (!b) return FALSE;
  b->setChecked(check == BST_CHECKED);
  return TRUE;
}

UINT IsDlgButtonChecked(HWND hDlg, int id) {
  auto* b = Inner<QAbstractButton>(GetDlgItem(hDlg, id));
  return b && b->isChecked() ? BST_CHECKED : BST_UNCHECKED;
}

// ---- Control wrappers -----------------------------------------------------------------------------

int CButton::GetCheck() const {
  auto* b = Inner<QAbstractButton>(m_hWnd);
  return b && b->isChecked() ? BST_CHECKED : BST_UNCHECKED;
}

void CButton::SetCheck(int check) {
  if (auto* b = Inner<QAbstractButton>(m_hWnd)) b->setChecked(check == BST_CHECKED);
}

int CListBox::AddString(LPCSTR text) {
  auto* l = Inner<QListWidget>(m_hWnd);
  if (!l) return LB_ERR;
  l->addItem(QString::fromUtf8(text ? text : ""));
  return l->count() - 1;
}

void CListBox::ResetContent() {
  if (auto* l = Inner<QListWidget>(m_hWnd)) {
    CtlData* d = ControlData(m_hWnd);
    d->quiet = true;
    l->clear();
    d->quiet = false;
  }
}

int CListBox::GetCount() const {
  auto* l = Inner<QListWidget>(m_hWnd);
  return l ? l->count() : LB_ERR;
}

int CListBox::GetSelCount() const {
  auto* l = Inner<QListWidget>(m_hWnd);
  return l ? static_cast<int>(l->selectedItems().size()) : LB_ERR;
}

int CListBox::GetSelItems(int max, int* indexes) const {
  auto* l = Inner<QListWidget>(m_hWnd);
  if (!l || !indexes) return LB_ERR;
  int n = 0;
  for (int i = 0; i < l->count() && n < max; ++i)
    if (l->item(i)->isSelected()) indexes[n++] = i;
  return n;
}

int CListBox::GetText(int index, CString& text) const {
  auto* l = Inner<QListWidget>(m_hWnd);
  if (!l || index < 0 || index >= l->count()) return LB_ERR;
  text = CString(l->item(index)->text().toUtf8().toStdString());
  return text.GetLength();
}

int CListBox::GetText(int index, LPSTR buf) const {
  CString s;
  const int n = GetText(index, s);
  if (n == LB_ERR || !buf) return LB_ERR;
  std::memcpy(buf, s.str().c_str(), s.str().size() + 1);
  return n;
}

int CListBox::SetSel(int index, BOOL select) {
  auto* l = Inner<QListWidget>(m_hWnd);
  if (!l) return LB_ERR;
  CtlData* d = ControlData(m_hWnd);
  d->quiet = true;
  if (index == -1)
    for (int i = 0; i < l->count(); ++i) l->item(i)->setSelected(select != FALSE);
  else if (index >= 0 && index < l->count())
    l->item(index)->setSelected(select != FALSE);
  d->quiet = false;
  return 0;
}

int CListBox::GetSel(int index) const {
  auto* l = Inner<QListWidget>(m_hWnd);
  if (!l || index < 0 || index >= l->count()) return LB_ERR;
  return l->item(index)->isSelected() ? 1 : 0;
}

int CComboBox::GetCurSel() const {
  auto* c = Inner<QComboBox>(m_hWnd);
  return c ? c->currentIndex() : CB_ERR;
}

int CComboBox::SetCurSel(int index) {
  auto* c = Inner<QComboBox>(m_hWnd);
  if (!c || index < -1 || index >= c->count()) return CB_ERR;
  c->setCurrentIndex(index);
  return index;
}

int CComboBox::GetCount() const {
  auto* c = Inner<QComboBox>(m_hWnd);
  return c ? c->count() : CB_ERR;
}

int CComboBox::AddString(LPCSTR text) {
  auto* c = Inner<QComboBox>(m_hWnd);
  if (!c) return CB_ERR;
  c->addItem(QString::fromUtf8(text ? text : ""));
  return c->count() - 1;
}

int CComboBox::GetLBText(int index, CString& text) const {
  auto* c = Inner<QComboBox>(m_hWnd);
  if (!c || index < 0 || index >= c->count()) return CB_ERR;
  text = CString(c->itemText(index).toUtf8().toStdString());
  return text.GetLength();
}

void CComboBox::ResetContent() {
  if (auto* c = Inner<QComboBox>(m_hWnd)) c->clear();
}

void CComboBox::EnableItem(int index, BOOL enable) {
  auto* c = Inner<QComboBox>(m_hWnd);
  auto* model = c ? qobject_cast<QStandardItemModel*>(c->model()) : nullptr;
  if (model && index >= 0 && index < model->rowCount()) model->item(index)->setEnabled(enable != FALSE);
}

BOOL CComboBox::IsItemEnabled(int index) const {
  auto* c = Inner<QComboBox>(m_hWnd);
  auto* model = c ? qobject_cast<QStandardItemModel*>(c->model()) : nullptr;
  return model && index >= 0 && index < model->rowCount() && model->item(index)->isEnabled();
}

void CSliderCtrl::SetRange(int minimum, int maximum, BOOL) {
  if (auto* s = Inner<QSlider>(m_hWnd)) {
    CtlData* d = ControlData(m_hWnd);
    d->quiet = true;
    s->setRange(minimum, maximum);
    d->quiet = false;
  }
}

int CSliderCtrl::GetPos() const {
  auto* s = Inner<QSlider>(m_hWnd);
  return s ? s->value() : 0;
}

void CSliderCtrl::SetPos(int pos) {
  if (auto* s = Inner<QSlider>(m_hWnd)) {
    CtlData* d = ControlData(m_hWnd);
    d->quiet = true;
    s->setValue(pos);  // clamped to the range, as the platform's trackbar does
    d->quiet = false;
  }
}

int CSliderCtrl::GetRangeMin() const {
  auto* s = Inner<QSlider>(m_hWnd);
  return s ? s->minimum() : 0;
}

int CSliderCtrl::GetRangeMax() const {
  auto* s = Inner<QSlider>(m_hWnd);
  return s ? s->maximum() : 0;
}

void CSpinButtonCtrl::SetRange32(int lower, int upper) {
  if (CtlData* d = ControlData(m_hWnd)) {
    d->upLower = lower;
    d->upUpper = upper;
  }
}

int CSpinButtonCtrl::SetPos(int pos) {
  CtlData* d = ControlData(m_hWnd);
  if (!d) return 0;
  const int old = d->upPos;
  d->upPos = std::clamp(pos, std::min(d->upLower, d->upUpper), std::max(d->upLower, d->upUpper));
  return old;
}

int CSpinButtonCtrl::GetPos() const {
  CtlData* d = ControlData(m_hWnd);
  return d ? d->upPos : 0;
}

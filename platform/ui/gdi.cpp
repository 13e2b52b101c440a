// Device contexts, bitmaps and regions over QImage and QRegion.
#include "platform/ui/qtwnd_p.h"

#include <QPainter>
#include <QPainterPath>
#include <QRegion>
#include <map>

namespace orv::ui {
bool IsPainting(HWND h, RECT* rc);

QColor ToQColor(COLORREF c) { return QColor(GetRValue(c), GetGValue(c), GetBValue(c)); }
COLORREF FromQColor(const QColor& c) {
  return RGB(static_cast<BYTE>(c.red()), static_cast<BYTE>(c.green()), static_cast<BYTE>(c.blue()));
}

COLORREF BrushColour(int brush) {
  // The classic system colours of the desktop the program was designed on.
  switch (brush - 1) {
    case COLOR_BTNFACE: return RGB(212, 208, 200);
    case COLOR_HIGHLIGHTTEXT: return RGB(255, 255, 255);
    default: return RGB(255, 255, 255);
  }
}

namespace {
std::map<std::uintptr_t, QRegion>& Regions() {
  static std::map<std::uintptr_t, QRegion> r;
  return r;
}
std::uintptr_t g_nextRegion = 0x20000;

HRGN AddRegion(const QRegion& r) {
  const auto h = g_nextRegion++;
  Regions()[h] = r;
  return reinterpret_cast<HRGN>(h);
}
}  // namespace

}  // namespace orv::ui

using namespace orv::ui;

COLORREF GetSysColor(int index) { return BrushColour(index + 1); }

// ---- Bitmaps ------------------------------------------------------------------------------------

struct CBitmap::Data {
  QImage image;
};

CBitmap::CBitmap() : d_(std::make_unique<Data>()) {}
CBitmap::~CBitmap() = default;

BOOL CBitmap::LoadFromPng(const std::string& png) {
  QImage img;
  if (!img.loadFromData(reinterpret_cast<const uchar*>(png.data()), static_cast<int>(png.size()))) return FALSE;
  d_->image = img.convertToFormat(QImage::Format_RGB32);
  return TRUE;
}

BOOL CBitmap::LoadBitmap(UINT id) {
  std::string png;
  const ResourceModule* m = AfxGetResourceModule();
  if (!(m && m->BitmapPng(id, &png))) {
    const ResourceModule* own = AfxGetOwnResourceModule();
    if (!(own && own->BitmapPng(id, &png))) return FALSE;
  }
  return LoadFromPng(png);
}

BOOL CBitmap::CreateCompatibleBitmap(CDC*, int w, int h) {
  if (w <= 0 || h <= 0) return FALSE;
  d_->image = QImage(w, h, QImage::Format_RGB32);
  d_->image.fill(Qt::black);
  return TRUE;
}

SIZE CBitmap::GetSize() const { return SIZE{d_->image.width(), d_->image.height()}; }

COLORREF CBitmap::GetPixel(int x, int y) const {
  if (!d_->image.valid(x, y)) return CLR_INVALID;
  return FromQColor(d_->image.pixelColor(x, y));
}

QImage* orv::ui::ImageOf(CBitmap* b) {
  if (!b || !b->data() || b->data()->image.isNull()) return nullptr;
  return &b->data()->image;
}

// ---- Device contexts ----------------------------------------------------------------------------

CDC::CDC() = default;
CDC::~CDC() = default;

BOOL CDC::CreateCompatibleDC(CDC*) {
  memory_ = true;
  selected_ = nullptr;
  window_ = nullptr;
  return TRUE;
}

BOOL CDC::DeleteDC() {
  selected_ = nullptr;
  return TRUE;
}

CBitmap* CDC::SelectObject(CBitmap* bitmap) {
  CBitmap* old = selected_;
  selected_ = bitmap;
  return old;
}

void* CDC::image() const {
  if (memory_) return ImageOf(selected_);
  WndRecord* rec = FindRecord(window_);
  if (!rec || !rec->widget) return nullptr;
  NotifySizeIfChanged(window_);
  return &rec->widget->surface;
}

BOOL CDC::BitBlt(int x, int y, int w, int h, CDC* src, int xs, int ys, DWORD) {
  auto* dst = static_cast<QImage*>(image());
  auto* from = src ? static_cast<QImage*>(src->image()) : nullptr;
  if (!dst || !from || w <= 0 || h <= 0) return FALSE;
  QPainter p(dst);
  p.setCompositionMode(QPainter::CompositionMode_Source);
  p.drawImage(QPoint(x, y), *from, QRect(xs, ys, w, h));
  return TRUE;
}

BOOL CDC::StretchBlt(int x, int y, int w, int h, CDC* src, int xs, int ys, int ws, int hs, DWORD) {
  auto* dst = static_cast<QImage*>(image());
  auto* from = src ? static_cast<QImage*>(src->image()) : nullptr;
  if (!dst || !from || w <= 0 || h <= 0 || ws <= 0 || hs <= 0) return FALSE;
  QPainter p(dst);
  p.setCompositionMode(QPainter::CompositionMode_Source);
  p.drawImage(QRect(x, y, w, h), *from, QRect(xs, ys, ws, hs));
  return TRUE;
}

void CDC::FillSolidRect(int x, int y, int w, int h, COLORREF clr) {
  auto* dst = static_cast<QImage*>(image());
  if (!dst || w <= 0 || h <= 0) return;
  QPainter p(dst);
  p.fillRect(QRect(x, y, w, h), ToQColor(clr));
}

void CDC::FillSolidRect(const RECT* rc, COLORREF clr) {
  if (rc) FillSolidRect(rc->left, rc->top, rc->right - rc->left, rc->bottom - rc->top, clr);
}

COLORREF CDC::GetPixel(int x, int y) const {
  auto* img = static_cast<QImage*>(image());
  if (!img || !img->valid(x, y)) return CLR_INVALID;
  return FromQColor(img->pixelColor(x, y));
}

CPaintDC::CPaintDC(CWnd* wnd) {
  window_ = wnd ? wnd->m_hWnd : nullptr;
  if (!IsPainting(window_, &m_rcPaint)) ::GetClientRect(window_, &m_rcPaint);
}

CPaintDC::~CPaintDC() {
  // A paint outside the widget's own paint event (a direct WM_PAINT) still has to show.
  if (!IsPainting(window_, nullptr))
    if (WndRecord* rec = FindRecord(window_); rec && rec->widget) rec->widget->update();
}

CClientDC::CClientDC(CWnd* wnd) { window_ = wnd ? wnd->m_hWnd : nullptr; }

CClientDC::~CClientDC() {
  // What a client DC draws is on the screen at once (a paint that only shows the surface).
  if (!IsPainting(window_, nullptr))
    if (WndRecord* rec = FindRecord(window_); rec && rec->widget && rec->widget->isVisible()) {
      WndWidget* w = rec->widget;
      w->flushOnly = true;
      w->repaint();
      w->flushOnly = false;
      if (w->invalid) w->update();  // a paint that was asked for still comes, later
    }
}

// ---- Regions ------------------------------------------------------------------------------------

HRGN CreateRoundRectRgn(int x1, int y1, int x2, int y2, int w, int h) {
  // The corner ellipses are w by h, as the platform draws them; the right and bottom edges are
  // excluded.
  QPainterPath path;
  path.addRoundedRect(QRectF(x1, y1, x2 - x1, y2 - y1), w / 2.0, h / 2.0);
  return AddRegion(QRegion(path.toFillPolygon().toPolygon()));
}

HRGN CreateRectRgn(int x1, int y1, int x2, int y2) { return AddRegion(QRegion(x1, y1, x2 - x1, y2 - y1)); }

BOOL DeleteObjectRgn(HRGN h) { return Regions().erase(reinterpret_cast<std::uintptr_t>(h)) ? TRUE : FALSE; }

BOOL PtInRegion(HRGN h, int x, int y) {
  auto it = Regions().find(reinterpret_cast<std::uintptr_t>(h));
  return it != Regions().end() && it->second.contains(QPoint(x, y)) ? TRUE : FALSE;
}

int SetWindowRgn(HWND hWnd, HRGN hRgn, BOOL bRedraw) {
  WndRecord* rec = FindRecord(hWnd);
  if (!rec || !rec->widget) return 0;
  if (!hRgn) {
    rec->widget->clearMask();
  } else {
    auto it = Regions().find(reinterpret_cast<std::uintptr_t>(hRgn));
    if (it == Regions().end()) return 0;
    rec->widget->setMask(it->second);
    Regions().erase(it);  // the window owns the region now
  }
  if (bRedraw) rec->widget->update();
  return 1;
}

// Region of a window, for hit tests and tests ("" region = none set).
bool orv::ui::WindowRegionContains(HWND hWnd, int x, int y) {
  WndRecord* rec = FindRecord(hWnd);
  if (!rec || !rec->widget) return false;
  const QRegion m = rec->widget->mask();
  return m.isEmpty() ? rec->widget->rect().contains(x, y) : m.contains(QPoint(x, y));
}

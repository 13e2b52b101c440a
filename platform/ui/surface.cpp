#include "platform/ui/surface.h"

#include "platform/ui/qtwnd_p.h"

#include <QImage>
#include <cstddef>

namespace orv::ui {

bool PaintSurface(CPaintDC& dc, SurfaceBits* out) {
  if (!out) return false;
  QRect place;
  if (QImage* screen = DirectPaintTarget(dc.window_, &place)) {
    const auto stride = static_cast<std::ptrdiff_t>(screen->bytesPerLine());
    *out = {screen->bits() + place.y() * stride + place.x() * 4, place.width(), place.height(), static_cast<int>(stride)};
    return true;
  }
  auto* image = static_cast<QImage*>(dc.image());
  if (!image || image->isNull() || image->format() != QImage::Format_RGB32) return false;
  *out = {image->bits(), image->width(), image->height(), static_cast<int>(image->bytesPerLine())};
  return true;
}

}  // namespace orv::ui

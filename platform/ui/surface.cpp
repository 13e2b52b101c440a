#include "platform/ui/surface.h"

#include <QImage>

namespace orv::ui {

bool PaintSurface(CPaintDC& dc, SurfaceBits* out) {
  auto* image = static_cast<QImage*>(dc.image());
  if (!out || !image || image->isNull() || image->format() != QImage::Format_RGB32) return false;
  *out = {image->bits(), image->width(), image->height(), static_cast<int>(image->bytesPerLine())};
  return true;
}

}  // namespace orv::ui

// A window's pixels for code that makes its pictures itself (the media layer's video renderer):
// converted straight into what the window shows, during its paint.
#pragma once

#include "platform/ui/afxwin.h"

namespace orv::ui {

// Rows top-down of 32-bit pixels 0xffRRGGBB.
struct SurfaceBits {
  BYTE* bits = nullptr;
  int width = 0;
  int height = 0;
  int stride = 0;  // bytes from one row to the next
};

// The pixels of the window that dc paints, valid while dc lives; false when it paints no window.
// They are the top-level window's own buffer when the window can be painted there straight, so the
// caller draws every one of them (no other drawing through dc shows).
bool PaintSurface(CPaintDC& dc, SurfaceBits* out);

}  // namespace orv::ui

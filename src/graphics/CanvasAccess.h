#pragma once
// The library's own way to a Canvas's pixels: the JPEG writer reads them in
// place and CanvasSurface draws on them.

#include <memory>

#include "quillmark/graphics/Canvas.h"
#include "quillmark/graphics/DeviceContext.h"

namespace qm {

struct CanvasAccess {
  // The canvas's bitmap; a canvas moved from gets a 0 x 0 one first.
  static const std::shared_ptr<Bitmap>& Pixels(Canvas& canvas) {
    if (!canvas.bitmap_) canvas.bitmap_ = std::make_shared<Bitmap>(0, 0);
    return canvas.bitmap_;
  }
  // For reading: null for a canvas moved from.
  static const std::shared_ptr<Bitmap>& Shared(const Canvas& canvas) { return canvas.bitmap_; }
};

}  // namespace qm

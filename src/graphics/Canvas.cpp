#include "quillmark/graphics/Canvas.h"

#include <cstring>

#include "CanvasAccess.h"
#include "Raster.h"
#include "quillmark/errors/Error.h"
#include "quillmark/errors/ErrorNumbers.h"
#include "quillmark/graphics/DeviceContext.h"
#include "quillmark/graphics/Picture.h"

namespace qm {
namespace {

// Bitmap rows hold blue, green, red bytes.
void Put(std::uint8_t* p, Rgb c) {
  p[0] = c.B;
  p[1] = c.G;
  p[2] = c.R;
}

void FillSpan(Bitmap& bitmap, std::int32_t y, std::int32_t left, std::int32_t right, Rgb c) {
  std::uint8_t* p = bitmap.Row(y) + 3 * static_cast<std::size_t>(left);
  for (std::int32_t x = left; x <= right; ++x, p += 3) Put(p, c);
}

std::shared_ptr<Bitmap> CopyOf(const Bitmap* source) {
  if (!source) return std::make_shared<Bitmap>(0, 0);
  auto copy = std::make_shared<Bitmap>(source->Width(), source->Height());
  if (source->SizeInBytes()) std::memcpy(copy->Bits(), source->Bits(), source->SizeInBytes());
  return copy;
}

}  // namespace

Canvas::Canvas(std::int32_t width, std::int32_t height, Rgb background)
    : bitmap_(std::make_shared<Bitmap>(width, height)) {
  if (background != Rgb{}) Fill(background);  // the bitmap starts black
}

Canvas Canvas::FromPicture(const Picture& picture) {
  Canvas canvas;
  canvas.bitmap_ = CopyOf(picture.Handle().get());
  return canvas;
}

Canvas::Canvas(const Canvas& other) : bitmap_(CopyOf(other.bitmap_.get())) {}

Canvas& Canvas::operator=(const Canvas& other) {
  if (this != &other) bitmap_ = CopyOf(other.bitmap_.get());
  return *this;
}

Canvas::Canvas(Canvas&& other) noexcept = default;
Canvas& Canvas::operator=(Canvas&& other) noexcept = default;
Canvas::~Canvas() = default;

std::int32_t Canvas::Width() const { return bitmap_ ? bitmap_->Width() : 0; }
std::int32_t Canvas::Height() const { return bitmap_ ? bitmap_->Height() : 0; }

Rgb Canvas::Pixel(std::int32_t x, std::int32_t y) const {
  if (x < 0 || y < 0 || x >= Width() || y >= Height()) Raise(ERR_SubscriptOutOfRange);
  const std::uint8_t* p = bitmap_->Row(y) + 3 * static_cast<std::size_t>(x);
  return Rgb{p[2], p[1], p[0]};
}

void Canvas::SetPixel(std::int32_t x, std::int32_t y, Rgb colour) {
  if (x < 0 || y < 0 || x >= Width() || y >= Height()) return;
  Put(bitmap_->Row(y) + 3 * static_cast<std::size_t>(x), colour);
}

void Canvas::Fill(Rgb colour) {
  Bitmap& bitmap = *CanvasAccess::Pixels(*this);
  if (bitmap.Width() == 0 || bitmap.Height() == 0) return;
  FillSpan(bitmap, 0, 0, bitmap.Width() - 1, colour);
  const std::size_t rowBytes = 3 * static_cast<std::size_t>(bitmap.Width());
  for (std::int32_t y = 1; y < bitmap.Height(); ++y) std::memcpy(bitmap.Row(y), bitmap.Row(0), rowBytes);
}

void Canvas::Line(double x1, double y1, double x2, double y2, Rgb colour) {
  Bitmap& bitmap = *CanvasAccess::Pixels(*this);
  raster::Segment(x1, y1, x2, y2, bitmap.Width(), bitmap.Height(), [&](std::int32_t x, std::int32_t y) {
    Put(bitmap.Row(y) + 3 * static_cast<std::size_t>(x), colour);
  });
}

void Canvas::Polyline(std::span<const Point> points, Rgb colour) {
  if (points.size() == 1) Line(points[0].X, points[0].Y, points[0].X, points[0].Y, colour);
  for (std::size_t i = 1; i < points.size(); ++i)
    Line(points[i - 1].X, points[i - 1].Y, points[i].X, points[i].Y, colour);
}

void Canvas::FillRect(double x1, double y1, double x2, double y2, Rgb colour) {
  Bitmap& bitmap = *CanvasAccess::Pixels(*this);
  raster::Rectangle(
      x1, y1, x2, y2, bitmap.Width(), bitmap.Height(),
      [&](std::int32_t y, std::int32_t left, std::int32_t right) { FillSpan(bitmap, y, left, right, colour); });
}

void Canvas::Rect(double x1, double y1, double x2, double y2, Rgb colour) {
  Line(x1, y1, x2, y1, colour);
  Line(x2, y1, x2, y2, colour);
  Line(x2, y2, x1, y2, colour);
  Line(x1, y2, x1, y1, colour);
}

}  // namespace qm

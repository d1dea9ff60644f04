#include "quillmark/graphics/Canvas.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "CanvasAccess.h"
#include "Font.h"
#include "Raster.h"
#include "quillmark/errors/Error.h"
#include "quillmark/errors/ErrorNumbers.h"
#include "quillmark/graphics/DeviceContext.h"
#include "quillmark/graphics/Picture.h"

namespace qm {

// The settings a canvas draws with; never changed once made.
struct CanvasOptions {
  std::string Face;
  bool Smooth = false;
};

namespace {

const CanvasOptions kDefaults;

// A pixel an anti-aliased line covers, and how much (1 to 255).
struct Covered {
  std::uint64_t At;  // row, then column, for sorting
  std::uint8_t Coverage;
};

// The pixels of an anti-aliased line one pixel wide: along its longer axis,
// each pixel from one rounded end to the other, with the two pixels across
// that the line passes between sharing its coverage (Wu's lines).
void SmoothSegment(double x1, double y1, double x2, double y2, std::int32_t width, std::int32_t height,
                   std::vector<Covered>& out) {
  raster::CheckFinite(x1, y1, x2, y2);
  if (!raster::ClipSegment(x1, y1, x2, y2, -1.0, width, height)) return;
  const auto put = [&](std::int64_t x, std::int64_t y, double coverage) {
    const auto c = static_cast<int>(std::lround(coverage * 255));
    if (c > 0 && x >= 0 && y >= 0 && x < width && y < height)
      out.push_back(
          {static_cast<std::uint64_t>(y) << 32 | static_cast<std::uint64_t>(x), static_cast<std::uint8_t>(c)});
  };
  const bool steep = std::fabs(y2 - y1) > std::fabs(x2 - x1);
  if (steep) std::swap(x1, y1), std::swap(x2, y2);
  if (x1 > x2) std::swap(x1, x2), std::swap(y1, y2);
  const double slope = x2 == x1 ? 0 : (y2 - y1) / (x2 - x1);
  for (std::int64_t i = raster::Round(x1); i <= raster::Round(x2); ++i) {
    const double across = y1 + (static_cast<double>(i) - x1) * slope;
    const double low = std::floor(across), share = across - low;
    const auto j = static_cast<std::int64_t>(low);
    if (steep) put(j, i, 1 - share), put(j + 1, i, share);
    else put(i, j, 1 - share), put(i, j + 1, share);
  }
}

// Blends each covered pixel once, at the most any piece covers it.
void BlendCovered(Bitmap& bitmap, std::vector<Covered>& covered, Rgb c) {
  std::sort(covered.begin(), covered.end(),
            [](const Covered& a, const Covered& b) { return a.At != b.At ? a.At < b.At : a.Coverage > b.Coverage; });
  const std::uint8_t colour[3] = {c.B, c.G, c.R};
  for (std::size_t i = 0; i < covered.size(); ++i) {
    if (i > 0 && covered[i].At == covered[i - 1].At) continue;
    const unsigned k = covered[i].Coverage;
    std::uint8_t* p = bitmap.Row(static_cast<std::int32_t>(covered[i].At >> 32)) + 3 * (covered[i].At & 0xFFFFFFFFu);
    for (int n = 0; n < 3; ++n) p[n] = static_cast<std::uint8_t>((p[n] * (255 - k) + colour[n] * k + 127) / 255);
  }
}

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

Canvas::Canvas(const Canvas& other) : bitmap_(CopyOf(other.bitmap_.get())), options_(other.options_) {}

Canvas& Canvas::operator=(const Canvas& other) {
  if (this != &other) bitmap_ = CopyOf(other.bitmap_.get()), options_ = other.options_;
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
  if (Smooth()) {
    std::vector<Covered> covered;
    SmoothSegment(x1, y1, x2, y2, bitmap.Width(), bitmap.Height(), covered);
    BlendCovered(bitmap, covered, colour);
    return;
  }
  raster::Segment(x1, y1, x2, y2, bitmap.Width(), bitmap.Height(), [&](std::int32_t x, std::int32_t y) {
    Put(bitmap.Row(y) + 3 * static_cast<std::size_t>(x), colour);
  });
}

void Canvas::Polyline(std::span<const Point> points, Rgb colour) {
  if (Smooth() && points.size() > 1) {
    Bitmap& bitmap = *CanvasAccess::Pixels(*this);
    std::vector<Covered> covered;
    for (std::size_t i = 1; i < points.size(); ++i)
      SmoothSegment(points[i - 1].X, points[i - 1].Y, points[i].X, points[i].Y, bitmap.Width(), bitmap.Height(),
                    covered);
    BlendCovered(bitmap, covered, colour);
    return;
  }
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
  const Point corners[] = {{x1, y1}, {x2, y1}, {x2, y2}, {x1, y2}, {x1, y1}};
  Polyline(corners, colour);
}

void Canvas::SetSmooth(bool smooth) {
  auto options = std::make_shared<CanvasOptions>(options_ ? *options_ : kDefaults);
  options->Smooth = smooth;
  options_ = std::move(options);
}

bool Canvas::Smooth() const { return options_ && options_->Smooth; }

void Canvas::SetFace(std::string_view name) {
  font::CheckFace(name);
  auto options = std::make_shared<CanvasOptions>(options_ ? *options_ : kDefaults);
  options->Face = name;
  options_ = std::move(options);
}

std::string Canvas::Face() const { return options_ ? options_->Face : std::string(); }

void Canvas::Text(double x, double y, std::string_view text, double size, Rgb colour, TextAlign alignment) {
  font::Draw(*CanvasAccess::Pixels(*this), options_ ? options_->Face : std::string_view(), text, size, x, y, alignment,
             colour);
}

TextExtent Canvas::TextSize(std::string_view text, double size) const {
  return font::Measure(options_ ? options_->Face : std::string_view(), text, size);
}

}  // namespace qm

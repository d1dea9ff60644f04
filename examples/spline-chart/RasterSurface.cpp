#include "RasterSurface.h"

#include <algorithm>
#include <cmath>

#include "quillmark/graphics/Graphics.h"
#include "quillmark/values/Conversions.h"

namespace {
constexpr double kTwips = 15.0;
std::int32_t Px(double twips) { return static_cast<std::int32_t>(std::lround(twips / kTwips)); }
}  // namespace

RasterSurface::RasterSurface(std::int32_t widthPixels, std::int32_t heightPixels)
    : bitmap_(std::make_shared<qm::Bitmap>(widthPixels, heightPixels)),
      context_(std::make_shared<qm::DeviceContext>(bitmap_)) {}

void RasterSurface::Plot(std::int32_t x, std::int32_t y, std::uint32_t color) {
  if (drawMode_ == qm::vbInvert) color = ~bitmap_->GetPixel(x, y) & 0xFFFFFF;
  bitmap_->SetPixel(x, y, color);
}

// Bresenham between the two end points, both included.
void RasterSurface::DrawSegment(double x1, double y1, double x2, double y2, std::uint32_t color) {
  std::int32_t x = Px(x1), y = Px(y1);
  const std::int32_t xe = Px(x2), ye = Px(y2);
  const std::int32_t dx = std::abs(xe - x), dy = -std::abs(ye - y);
  const std::int32_t sx = x < xe ? 1 : -1, sy = y < ye ? 1 : -1;
  std::int32_t error = dx + dy;
  for (;;) {
    Plot(x, y, color);
    if (x == xe && y == ye) break;
    const std::int32_t twice = 2 * error;
    if (twice >= dy) error += dy, x += sx;
    if (twice <= dx) error += dx, y += sy;
  }
}

void RasterSurface::FillRect(double x1, double y1, double x2, double y2, std::uint32_t color) {
  // minmax over a list returns values; the two-argument form would return
  // references to the temporaries.
  const auto [left, right] = std::minmax({Px(x1), Px(x2)});
  const auto [top, bottom] = std::minmax({Px(y1), Px(y2)});
  for (std::int32_t y = std::max(top, 0); y <= std::min(bottom, bitmap_->Height() - 1); ++y)
    for (std::int32_t x = std::max(left, 0); x <= std::min(right, bitmap_->Width() - 1); ++x) Plot(x, y, color);
}

qm::Variant RasterSurface::GetMember(std::string_view name, std::vector<qm::Variant>& args) {
  if (qm::SameName(name, "CurrentX")) return currentX_;
  if (qm::SameName(name, "CurrentY")) return currentY_;
  if (qm::SameName(name, "DrawMode")) return drawMode_;
  if (qm::SameName(name, "Width")) return bitmap_->Width() * kTwips;
  if (qm::SameName(name, "Height")) return bitmap_->Height() * kTwips;
  if (qm::SameName(name, "hdc")) return qm::Variant(qm::ObjectPtr(context_));
  return Dispatch::GetMember(name, args);
}

void RasterSurface::LetMember(std::string_view name, const qm::Variant& value, std::vector<qm::Variant>& args) {
  if (qm::SameName(name, "CurrentX")) currentX_ = qm::CDbl(value);
  else if (qm::SameName(name, "CurrentY")) currentY_ = qm::CDbl(value);
  else if (qm::SameName(name, "DrawMode")) drawMode_ = qm::CLng(value);
  else Dispatch::LetMember(name, value, args);
}

qm::Variant RasterSurface::CallMember(std::string_view name, std::vector<qm::Variant>& args) {
  if (qm::SameName(name, "Line")) {
    const std::int32_t flags = qm::CLng(args.at(0));
    double x1 = qm::CDbl(args.at(1)), y1 = qm::CDbl(args.at(2)), x2 = qm::CDbl(args.at(3)), y2 = qm::CDbl(args.at(4));
    const auto color = static_cast<std::uint32_t>(qm::CLng(args.at(5)));
    if (flags & qm::LineStepFirst) x1 += currentX_, y1 += currentY_;
    if (flags & qm::LineStepSecond) x2 += x1, y2 += y1;
    if ((flags & qm::LineBox) && (flags & qm::LineFill)) {
      FillRect(x1, y1, x2, y2, color);
    } else if (flags & qm::LineBox) {
      DrawSegment(x1, y1, x2, y1, color);
      DrawSegment(x2, y1, x2, y2, color);
      DrawSegment(x2, y2, x1, y2, color);
      DrawSegment(x1, y2, x1, y1, color);
    } else {
      DrawSegment(x1, y1, x2, y2, color);
    }
    currentX_ = x2;
    currentY_ = y2;
    return {};
  }
  if (qm::SameName(name, "Circle")) {
    const double cx = qm::CDbl(args.at(1)), cy = qm::CDbl(args.at(2)), r = qm::CDbl(args.at(3));
    const auto color = static_cast<std::uint32_t>(qm::CLng(args.at(4)));
    const int steps = std::max(16, Px(r) * 8);
    for (int i = 0; i < steps; ++i) {
      const double a = 2 * M_PI * i / steps, b = 2 * M_PI * (i + 1) / steps;
      DrawSegment(cx + r * std::cos(a), cy + r * std::sin(a), cx + r * std::cos(b), cy + r * std::sin(b), color);
    }
    currentX_ = cx;
    currentY_ = cy;
    return {};
  }
  return Dispatch::CallMember(name, args);
}

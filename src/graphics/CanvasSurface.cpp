#include "quillmark/graphics/CanvasSurface.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "CanvasAccess.h"
#include "Font.h"
#include "Raster.h"
#include "quillmark/errors/Error.h"
#include "quillmark/errors/ErrorNumbers.h"
#include "quillmark/graphics/DeviceContext.h"
#include "quillmark/graphics/Graphics.h"
#include "quillmark/values/Conversions.h"

namespace qm {
namespace {

// The pen's binary raster operation: mode m (1 to 16) is the truth table
// m - 1 over (pen bit, destination bit), bit index 2 * pen + destination.
std::uint32_t RasterOp(std::int32_t mode, std::uint32_t pen, std::uint32_t dest) {
  const auto table = static_cast<std::uint32_t>(mode - 1);
  std::uint32_t result = 0;
  if (table & 1) result |= ~pen & ~dest;
  if (table & 2) result |= ~pen & dest;
  if (table & 4) result |= pen & ~dest;
  if (table & 8) result |= pen & dest;
  return result & 0xFFFFFF;
}

std::uint32_t ColorArg(const Variant& v) { return static_cast<std::uint32_t>(CLng(v)) & 0xFFFFFF; }

constexpr int kMaxCircleSteps = 4096;
constexpr double kTwipsPerPoint = 20;

}  // namespace

// A surface's font, as its Font member hands it out: Name and Size (points).
class CanvasFont : public Dispatch {
 public:
  std::string Name;  // "" for the default face
  double Size = 9;

  std::string ClassName() const override { return "StdFont"; }

  void SetName(const std::string& name) {
    font::CheckFace(name);
    Name = name;
  }
  void SetSize(double points) {
    if (!(points >= 1 && points <= 2048)) Raise(ERR_InvalidPropertyValue);
    Size = points;
  }

 protected:
  Variant GetMember(std::string_view name, std::vector<Variant>& args) override {
    if (SameName(name, "Name")) return Name.empty() ? std::string("DejaVu Sans") : Name;
    if (SameName(name, "Size")) return Size;
    return Dispatch::GetMember(name, args);
  }
  void LetMember(std::string_view name, const Variant& value, std::vector<Variant>& args) override {
    if (SameName(name, "Name")) SetName(CStr(value));
    else if (SameName(name, "Size")) SetSize(CDbl(value));
    else Dispatch::LetMember(name, value, args);
  }
};

struct CanvasSurface::Impl {
  std::shared_ptr<Bitmap> bitmap{};
  std::shared_ptr<DeviceContext> context{};
  double twipsPerPixel{};
  double currentX = 0;
  double currentY = 0;
  std::int32_t drawMode = 13;
  std::uint32_t foreColor = 0;
  std::shared_ptr<CanvasFont> font{};  // shared with the Font objects handed out
};

CanvasSurface::CanvasSurface(Canvas& canvas, double twipsPerPixel) : impl_(std::make_unique<Impl>()) {
  impl_->bitmap = CanvasAccess::Pixels(canvas);
  impl_->context = std::make_shared<DeviceContext>(impl_->bitmap);
  impl_->twipsPerPixel = twipsPerPixel;
  impl_->font = std::make_shared<CanvasFont>();
  if (!std::isfinite(twipsPerPixel) || twipsPerPixel <= 0)
    RaiseWithDetail(ERR_InvalidProcedureCall, "twips per pixel must be a positive number");
}

// A copy draws on the same canvas with the same font object, as the
// members' copies did when they were the class's own.
CanvasSurface::CanvasSurface(const CanvasSurface& other)
    : Object(other), Dispatch(other), impl_(std::make_unique<Impl>(*other.impl_)) {}

CanvasSurface& CanvasSurface::operator=(const CanvasSurface& other) {
  if (this != &other) impl_ = std::make_unique<Impl>(*other.impl_);
  return *this;
}

CanvasSurface::~CanvasSurface() = default;

void CanvasSurface::Plot(std::int32_t x, std::int32_t y, std::uint32_t colorRef) {
  if (impl_->drawMode != vbCopyPen) colorRef = RasterOp(impl_->drawMode, colorRef, impl_->bitmap->GetPixel(x, y));
  impl_->bitmap->SetPixel(x, y, colorRef);
}

void CanvasSurface::Segment(double x1, double y1, double x2, double y2, std::uint32_t colorRef) {
  const double k = impl_->twipsPerPixel;
  raster::Segment(x1 / k, y1 / k, x2 / k, y2 / k, impl_->bitmap->Width(), impl_->bitmap->Height(),
                  [&](std::int32_t x, std::int32_t y) { Plot(x, y, colorRef); });
}

// Extents in whole pixels, as a picture box gives them, so text aligned with
// them lands on whole pixels.
double CanvasSurface::TextWidth(const std::string& text) const {
  const double pixels =
      font::Measure(impl_->font->Name, text, impl_->font->Size * kTwipsPerPoint / impl_->twipsPerPixel).Width;
  return std::ceil(pixels) * impl_->twipsPerPixel;
}

double CanvasSurface::TextHeight(const std::string& text) const {
  const TextExtent line =
      font::Measure(impl_->font->Name, "", impl_->font->Size * kTwipsPerPoint / impl_->twipsPerPixel);
  const auto lines = static_cast<double>(std::count(text.begin(), text.end(), '\n') + 1);
  return lines * std::ceil(line.Ascent + line.Descent) * impl_->twipsPerPixel;
}

void CanvasSurface::Print(const std::string& text, bool newLine) {
  const double k = impl_->twipsPerPixel;
  const double lineHeight = TextHeight("");
  const double size = impl_->font->Size * kTwipsPerPoint / k;
  const double left = impl_->currentX;
  std::string_view rest = text, line;
  for (bool first = true;; first = false) {
    const std::size_t end = rest.find('\n');
    line = rest.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    // The line's box starts at the edge of the current position's pixel.
    const double x = std::floor((first ? impl_->currentX : left) / k) - 0.5, y = std::floor(impl_->currentY / k) - 0.5;
    font::Draw(*impl_->bitmap, impl_->font->Name, line, size, x, y, TextAlign{}, Rgb::FromColorRef(impl_->foreColor));
    if (end == std::string_view::npos) break;
    rest.remove_prefix(end + 1);
    impl_->currentY += lineHeight;
    impl_->currentX = left;
  }
  if (newLine) {
    impl_->currentX = 0;
    impl_->currentY += lineHeight;
  } else {
    impl_->currentX += TextWidth(std::string(line));
  }
}

Variant CanvasSurface::GetMember(std::string_view name, std::vector<Variant>& args) {
  if (SameName(name, "CurrentX")) return impl_->currentX;
  if (SameName(name, "CurrentY")) return impl_->currentY;
  if (SameName(name, "DrawMode")) return impl_->drawMode;
  if (SameName(name, "ForeColor")) return static_cast<std::int32_t>(impl_->foreColor);
  if (SameName(name, "Font")) return Variant(ObjectPtr(impl_->font));
  if (SameName(name, "FontName")) return impl_->font->Get("Name");
  if (SameName(name, "FontSize")) return impl_->font->Size;
  if (SameName(name, "Width")) return impl_->bitmap->Width() * impl_->twipsPerPixel;
  if (SameName(name, "Height")) return impl_->bitmap->Height() * impl_->twipsPerPixel;
  if (SameName(name, "hdc")) return Variant(ObjectPtr(impl_->context));
  return Dispatch::GetMember(name, args);
}

void CanvasSurface::LetMember(std::string_view name, const Variant& value, std::vector<Variant>& args) {
  if (SameName(name, "CurrentX")) {
    impl_->currentX = CDbl(value);
  } else if (SameName(name, "CurrentY")) {
    impl_->currentY = CDbl(value);
  } else if (SameName(name, "DrawMode")) {
    const std::int32_t mode = CLng(value);
    if (mode < 1 || mode > 16) Raise(ERR_InvalidPropertyValue);
    impl_->drawMode = mode;
  } else if (SameName(name, "ForeColor")) {
    impl_->foreColor = ColorArg(value);
  } else if (SameName(name, "Font")) {
    if (value.IsObject()) {  // another font object: its name and size
      Dispatch& other = AsDispatch(value);
      const std::string fontName = CStr(other.Get("Name"));
      const double size = CDbl(other.Get("Size"));
      impl_->font->SetName(fontName);
      impl_->font->SetSize(size);
    } else {
      impl_->font->SetName(CStr(value));
    }
  } else if (SameName(name, "FontName")) {
    impl_->font->SetName(CStr(value));
  } else if (SameName(name, "FontSize")) {
    impl_->font->SetSize(CDbl(value));
  } else if (SameName(name, "Width") || SameName(name, "Height") || SameName(name, "hdc")) {
    Raise(ERR_PropertyReadOnly);
  } else {
    Dispatch::LetMember(name, value, args);
  }
}

Variant CanvasSurface::CallMember(std::string_view name, std::vector<Variant>& args) {
  if (SameName(name, "Line")) {
    const std::int32_t flags = CLng(args.at(0));
    double x1 = CDbl(args.at(1)), y1 = CDbl(args.at(2)), x2 = CDbl(args.at(3)), y2 = CDbl(args.at(4));
    const std::uint32_t color = ColorArg(args.at(5));
    if (flags & LineStepFirst) x1 += impl_->currentX, y1 += impl_->currentY;
    if (flags & LineStepSecond) x2 += x1, y2 += y1;
    if ((flags & LineBox) && (flags & LineFill)) {
      const double k = impl_->twipsPerPixel;
      raster::Rectangle(x1 / k, y1 / k, x2 / k, y2 / k, impl_->bitmap->Width(), impl_->bitmap->Height(),
                        [&](std::int32_t y, std::int32_t left, std::int32_t right) {
                          for (std::int32_t x = left; x <= right; ++x) Plot(x, y, color);
                        });
    } else if (flags & LineBox) {
      Segment(x1, y1, x2, y1, color);
      Segment(x2, y1, x2, y2, color);
      Segment(x2, y2, x1, y2, color);
      Segment(x1, y2, x1, y1, color);
    } else {
      Segment(x1, y1, x2, y2, color);
    }
    impl_->currentX = x2;
    impl_->currentY = y2;
    return {};
  }
  if (SameName(name, "Circle")) {
    const double cx = CDbl(args.at(1)), cy = CDbl(args.at(2)), r = CDbl(args.at(3));
    const std::uint32_t color = ColorArg(args.at(4));
    raster::CheckFinite(cx, cy, r, 0);
    // Enough straight pieces that none is longer than about a pixel, within reason.
    const double pixels = std::fabs(r) / impl_->twipsPerPixel;
    const int steps = static_cast<int>(std::clamp(pixels * 8, 16.0, double(kMaxCircleSteps)));
    for (int i = 0; i < steps; ++i) {
      const double a = 2 * std::numbers::pi * i / steps, b = 2 * std::numbers::pi * (i + 1) / steps;
      Segment(cx + r * std::cos(a), cy + r * std::sin(a), cx + r * std::cos(b), cy + r * std::sin(b), color);
    }
    impl_->currentX = cx;
    impl_->currentY = cy;
    return {};
  }
  if (SameName(name, "Print")) {
    Print(args.empty() ? std::string() : CStr(args[0]), args.size() < 2 || args[1].IsEmpty() || CBool(args[1]));
    return {};
  }
  if (SameName(name, "TextWidth")) return TextWidth(args.empty() ? std::string() : CStr(args[0]));
  if (SameName(name, "TextHeight")) return TextHeight(args.empty() ? std::string() : CStr(args[0]));
  return Dispatch::CallMember(name, args);
}

}  // namespace qm

#include "quillmark/graphics/Graphics.h"

#include "quillmark/errors/ErrorNumbers.h"
#include "quillmark/frame/Frame.h"
#include "quillmark/graphics/DIBSection.h"
#include "quillmark/graphics/DeviceContext.h"
#include "quillmark/graphics/IJL.h"
#include "quillmark/graphics/Picture.h"
#include "quillmark/graphics/Spline.h"
#include "quillmark/platform/Desktop.h"
#include "quillmark/values/Conversions.h"

namespace qm {
namespace {

constexpr std::int32_t kWhite = 0xFFFFFF;
constexpr std::int32_t kJpegQuality = 90;

void CallLine(Dispatch& picture, std::int32_t flags, const Variant& x1, const Variant& y1, const Variant& x2,
              const Variant& y2, const Variant& color) {
  std::vector<Variant> args{Variant(flags), x1, y1, x2, y2, color};
  picture.Call("Line", args);
}

Variant TextExtent(Dispatch& picture, std::string_view member, const std::string& text) {
  std::vector<Variant> args{Variant(text)};
  return picture.Call(member, args);
}

// The range defaults of Lines and LinesSmooth; false when there is nothing to draw.
bool ApplyRangeDefaults(const Variant& YValues, std::optional<Variant>& Offset, std::optional<Variant>& Length) {
  if (!YValues.IsArray()) return false;
  const VariantArray& values = YValues.Array();
  const Variant upper(values.UBound());
  if (values.UBound() < 0) return false;
  if (!Offset) Offset = Variant(values.LBound());
  if (!Length) Length = upper + Variant(std::int32_t{1}) - *Offset;
  if (Compare(*Offset + *Length - Variant(std::int32_t{1}), upper) > 0)
    Length = upper + Variant(std::int32_t{1}) - *Offset;
  return true;
}

std::shared_ptr<DeviceContext> ContextOf(Dispatch& picture) {
  const Variant hdc = picture.Get("hdc");
  if (!hdc.IsObject()) Raise(ERR_TypeMismatch);
  auto context = std::dynamic_pointer_cast<DeviceContext>(hdc.ObjectRef());
  if (!context) Raise(ERR_TypeMismatch);
  return context;
}

}  // namespace

void Graphics::Line2(Dispatch& Picture, const Variant& X1, const Variant& Y1, const Variant& X2, const Variant& Y2,
                     const Variant& Color, std::int32_t DrawMode) {
  QM_FRAME_TRY {
    const Variant previous = Picture.Get("DrawMode");
    Picture.Let("DrawMode", Variant(DrawMode));
    CallLine(Picture, LineSegment, X1, Y1, X2, Y2, Color);
    Picture.Let("DrawMode", previous);
  }
  QM_FRAME_CATCH("Graphics", "Public Sub Line2", Picture, X1, Y1, X2, Y2, Color, DrawMode);
}

void Graphics::Box(Dispatch& Picture, const Variant& X1, const Variant& Y1, const Variant& X2, const Variant& Y2,
                   const Variant& Color) {
  QM_FRAME_TRY { CallLine(Picture, LineBox, X1, Y1, X2, Y2, Color); }
  QM_FRAME_CATCH("Graphics", "Public Sub Box", Picture, X1, Y1, X2, Y2, Color);
}

void Graphics::BoxFill(Dispatch& Picture, const Variant& X1, const Variant& Y1, const Variant& X2, const Variant& Y2,
                       const Variant& Color, std::int32_t DrawMode) {
  QM_FRAME_TRY {
    const Variant previous = Picture.Get("DrawMode");
    Picture.Let("DrawMode", Variant(DrawMode));
    CallLine(Picture, LineBox | LineFill, X1, Y1, X2, Y2, Color);
    Picture.Let("DrawMode", previous);
  }
  QM_FRAME_CATCH("Graphics", "Public Sub BoxFill", Picture, X1, Y1, X2, Y2, Color, DrawMode);
}

void Graphics::Circle2(Dispatch& Picture, const Variant& x, const Variant& y, const Variant& Radius,
                       const Variant& Color) {
  QM_FRAME_TRY {
    std::vector<Variant> args{Variant(std::int32_t{LineSegment}), x, y, Radius, Color};
    Picture.Call("Circle", args);
  }
  QM_FRAME_CATCH("Graphics", "Public Sub Circle2", Picture, x, y, Radius, Color);
}

// The body of Text and TextCR, which differ only in the line break; each runs
// it inside its own frame.
void Graphics::PrintText(Dispatch& Picture, const std::string& sText, const Variant& FillBehind,
                         const std::optional<Variant>& x, const std::optional<Variant>& y, bool BaseCoords,
                         std::int32_t Alignment, bool newLine) {
  if (x) {
    switch (Alignment) {
      case vbLeftJustify: Picture.Let("CurrentX", *x); break;
      case vbRightJustify: Picture.Let("CurrentX", *x - TextExtent(Picture, "TextWidth", sText)); break;
      case vbCenter:
        Picture.Let("CurrentX", (*x * Variant(std::int32_t{2}) - TextExtent(Picture, "TextWidth", sText)) /
                                    Variant(std::int32_t{2}));
        break;
      default: break;
    }
  }
  if (y) Picture.Let("CurrentY", *y);

  const Variant px = Picture.Get("CurrentX");
  Variant py = Picture.Get("CurrentY");
  if (BaseCoords) py = py - TextExtent(Picture, "TextHeight", sText);
  Picture.Let("CurrentX", px);
  Picture.Let("CurrentY", py);

  if (CBool(FillBehind)) {
    const Variant width = TextExtent(Picture, "TextWidth", sText);
    const Variant height = TextExtent(Picture, "TextHeight", sText);
    CallLine(Picture, LineStepFirst | LineStepSecond | LineBox | LineFill, Variant(std::int32_t{0}),
             Variant(std::int32_t{0}), width, height, Variant(kWhite));
    Picture.Let("CurrentX", px);
    Picture.Let("CurrentY", py);
  }
  std::vector<Variant> args{Variant(sText), Variant(newLine)};
  Picture.Call("Print", args);
}

void Graphics::Text(Dispatch& Picture, const std::string& sText, const Variant& FillBehind,
                    const std::optional<Variant>& x, const std::optional<Variant>& y, bool BaseCoords,
                    std::int32_t Alignment) {
  QM_FRAME_TRY { PrintText(Picture, sText, FillBehind, x, y, BaseCoords, Alignment, false); }
  QM_FRAME_CATCH("Graphics", "Public Sub Text", Picture, sText, FillBehind, x, y, BaseCoords, Alignment);
}

void Graphics::TextCR(Dispatch& Picture, const std::string& sText, const Variant& FillBehind,
                      const std::optional<Variant>& x, const std::optional<Variant>& y, bool BaseCoords,
                      std::int32_t Alignment) {
  QM_FRAME_TRY { PrintText(Picture, sText, FillBehind, x, y, BaseCoords, Alignment, true); }
  QM_FRAME_CATCH("Graphics", "Public Sub TextCR", Picture, sText, FillBehind, x, y, BaseCoords, Alignment);
}

void Graphics::Lines(Dispatch& Picture, const Variant& Left, double dxStep, const Variant& YValues,
                     const Variant& Color, std::optional<Variant>& Offset, std::optional<Variant>& Length) {
  QM_FRAME_TRY {
    if (!ApplyRangeDefaults(YValues, Offset, Length)) return;
    const VariantArray& values = YValues.Array();
    const std::int32_t first = CLng(*Offset);
    const std::int32_t last = CLng(*Offset + *Length - Variant(std::int32_t{1}));
    Variant x = Left + *Offset - Variant(values.LBound());
    Variant px = x;
    Variant py = values(first);
    const Variant step(dxStep);
    for (std::int32_t i = first; i <= last; ++i) {
      const Variant& yi = values(i);
      CallLine(Picture, LineSegment, px, py, x, yi, Color);
      px = x;
      py = yi;
      x = x + step;
    }
  }
  QM_FRAME_CATCH("Graphics", "Public Sub Lines", Picture, Left, dxStep, YValues, Color, Offset, Length);
}

void Graphics::Lines(Dispatch& Picture, const Variant& Left, double dxStep, const Variant& YValues,
                     const Variant& Color) {
  std::optional<Variant> offset, length;
  Lines(Picture, Left, dxStep, YValues, Color, offset, length);
}

void Graphics::LinesSmooth(Dispatch& DestPicBox, const Variant& Left, double XStep, const Variant& YValues,
                           const Variant& Color, std::optional<Variant>& Offset, std::optional<Variant>& Length) {
  QM_FRAME_TRY {
    if (!ApplyRangeDefaults(YValues, Offset, Length)) return;
    const std::int32_t count = CLng(*Length);
    if (count <= 0) return;
    const VariantArray& values = YValues.Array();
    const std::int32_t first = CLng(*Offset);
    std::vector<Variant> range;
    range.reserve(static_cast<std::size_t>(count));
    for (std::int32_t i = 0; i < count; ++i) range.push_back(values(first + i));
    Variant points(VariantArray::FromVector(std::move(range)));
    Variant color = Color;
    mdlSpline::DrawCurve(DestPicBox, Left, Variant(XStep), points, color);
  }
  QM_FRAME_CATCH("Graphics", "Public Sub LinesSmooth", DestPicBox, Left, XStep, YValues, Color, Offset, Length);
}

void Graphics::LinesSmooth(Dispatch& DestPicBox, const Variant& Left, double XStep, const Variant& YValues,
                           const Variant& Color) {
  std::optional<Variant> offset, length;
  LinesSmooth(DestPicBox, Left, XStep, YValues, Color, offset, length);
}

void Graphics::CopyPictures(Dispatch& SourcePic, Dispatch& DestPic, std::int32_t Align) {
  QM_FRAME_TRY {
    const auto& desktop = platform::Current();
    const double tx = desktop.TwipsPerPixelX();
    const double ty = desktop.TwipsPerPixelY();
    std::int16_t dx = 0, dy = 0;
    // Each difference reads the destination's extent, then the source's.
    auto difference = [](Dispatch& dest, Dispatch& source, std::string_view extent, double perPixel) {
      const double destPixels = CDbl(dest.Get(extent)) / perPixel;
      return CInt(Variant(destPixels - CDbl(source.Get(extent)) / perPixel));
    };
    if (Align & AlignRight) dx = difference(DestPic, SourcePic, "Width", tx);
    if (Align & AlignBottom) dy = difference(DestPic, SourcePic, "Height", ty);
    const auto dest = ContextOf(DestPic);
    const std::int32_t width = CLng(Variant(CDbl(SourcePic.Get("Width")) / tx));
    const std::int32_t height = CLng(Variant(CDbl(SourcePic.Get("Height")) / ty));
    const auto source = ContextOf(SourcePic);
    BitBlt(*dest, dx, dy, width, height, *source, 0, 0, SRCCOPY);
  }
  QM_FRAME_CATCH("Graphics", "Public Sub CopyPictures", SourcePic, DestPic, Align);
}

void Graphics::SaveAsJPG(const std::string& Filename, const std::string& JPGFilename) {
  QM_FRAME_TRY {
    const auto picture = LoadPicture(Filename);
    clsDIBSection dib;
    dib.CreateFromPicture(*picture);
    mdlIntelJPEGLibrary::SaveJPG(dib, JPGFilename, kJpegQuality);
  }
  QM_FRAME_CATCH("Graphics", "Public Sub SaveAsJPG", Filename, JPGFilename);
}

}  // namespace qm

#pragma once

/// @file
/// qm::CanvasSurface: a picture surface over a qm::Canvas, so that the
/// published Graphics class draws on a canvas.
///
///     qm::Canvas chart(640, 360);
///     qm::CanvasSurface surface(chart);
///     qm::Graphics().LinesSmooth(surface, left, step, values, colour);
///     qm::WriteJpeg(chart, "chart.jpg", 90);
///
/// It answers the members Graphics calls by name, in the published forms:
/// coordinates in twips (`TwipsPerPixel` to the pixel, 15 by default: 96 dpi)
/// and colours as 0x00BBGGRR.
///
/// | member | what it does |
/// |---|---|
/// | `Line(Flags, X1, Y1, X2, Y2, Color)` | a line, box or filled box (qm::LineFlags); the current position moves to (X2, Y2) |
/// | `Circle(Flags, X, Y, Radius, Color, ...)` | a full circle (arc limits and aspect are ignored); the current position moves to the centre |
/// | `DrawMode` | the raster operation of the pen, 1 to 16 (13, copy pen, by default; 6 inverts, 7 is XOR) |
/// | `CurrentX`, `CurrentY` | the current position |
/// | `Print(Text[, NewLine])` | text in ForeColor with its top left at the current position's pixel; the position then follows the text or, with NewLine (the default), goes to the start of the next line |
/// | `TextWidth(Text)`, `TextHeight(Text)` | the text's extent in whole pixels, in twips (the widest line; one line height per line) |
/// | `Font` | an object with `Name` and `Size` (points); assigning a name to `Font` sets the name |
/// | `FontName`, `FontSize` | the same two directly (DejaVu Sans, 9 points by default) |
/// | `ForeColor` | the colour of text (black by default) |
/// | `Width`, `Height` | the canvas's size in twips (read-only) |
/// | `hdc` | a DeviceContext over the canvas's pixels, for CopyPictures and DIB sections |
///
/// So Graphics.Text and TextCR run on a canvas. Text is drawn by the canvas's
/// text engine (Canvas::Text), 20 twips to the point. A DrawMode outside 1 to
/// 16, or a font size outside 1 to 2048 points, raises 380 (Invalid property
/// value); a font name no installed face has raises 53.
///
/// The surface draws on the pixels the canvas holds when the surface is made
/// and keeps them alive: assigning another canvas to that Canvas variable
/// later leaves the surface drawing on the old pixels.

#include <cstdint>
#include <memory>
#include <string>

#include "quillmark/Export.h"
#include "quillmark/graphics/Canvas.h"
#include "quillmark/values/Dispatch.h"

namespace qm {

class Bitmap;
class DeviceContext;
class CanvasFont;

/// A Canvas as the picture surface Graphics draws on by member name, in
/// twips and 0x00BBGGRR colours (see the file comment).
class QUILLMARK_EXPORT CanvasSurface : public Dispatch {
 public:
  /// A surface drawing on `canvas`, `twipsPerPixel` twips to the pixel
  /// (5 for a value that is not a positive finite number).
  explicit CanvasSurface(Canvas& canvas, double twipsPerPixel = 15.0);
  ///@{
  /// A copy draws on the same canvas, at the same position, with the same font.
  CanvasSurface(const CanvasSurface& other);
  CanvasSurface& operator=(const CanvasSurface& other);
  ///@}
  ~CanvasSurface() override;

  std::string ClassName() const override { return "CanvasSurface"; }

 protected:
  /// The late-bound members listed in the file comment.
  Variant GetMember(std::string_view name, std::vector<Variant>& args) override;
  void LetMember(std::string_view name, const Variant& value, std::vector<Variant>& args) override;
  Variant CallMember(std::string_view name, std::vector<Variant>& args) override;

 private:
  void Segment(double x1, double y1, double x2, double y2, std::uint32_t colorRef);
  void Plot(std::int32_t x, std::int32_t y, std::uint32_t colorRef);
  void Print(const std::string& text, bool newLine);
  double TextWidth(const std::string& text) const;
  double TextHeight(const std::string& text) const;

  // The object's state, defined in the library's sources.
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace qm

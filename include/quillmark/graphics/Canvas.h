#pragma once

/// @file
/// qm::Canvas: a raster picture to draw charts on, written with qm::WriteJpeg.
///
///     qm::Canvas chart(640, 360);                           // white
///     chart.FillRect(60, 40, 600, 320, qm::Rgb{240, 240, 255});
///     chart.Polyline(points, qm::Rgb::FromHex(0x2050D0));    // span<const qm::Point>
///     qm::WriteJpeg(chart, "chart.jpg", 90);
///
/// Coordinates are pixels from the top left, x to the right and y down; a
/// coordinate is rounded to the nearest pixel (halves away from zero), and
/// everything is clipped to the canvas, so shapes may lie partly or wholly
/// outside it. Lines are one pixel wide and include both end points; with
/// SetSmooth(true) they are anti-aliased.
///
/// Text is anti-aliased UTF-8 in the canvas's face (DejaVu Sans unless
/// SetFace names another installed face), shaped with HarfBuzz and drawn with
/// FreeType, unhinted, so a text gives the same pixels on every machine that
/// has the same face:
///
///     chart.Text(320, 8, "Takings 2026", 18, qm::Rgb{32, 32, 32},
///                {qm::HAlign::Centre, qm::VAlign::Top});
///     const qm::TextExtent box = chart.TextSize("Takings 2026", 18);
///
/// Text coordinates are those of the shapes: whole numbers are pixel centres,
/// and a text's box lies at the point given as its alignment says. A '\n'
/// starts a new line; each line is aligned on its own.
///
/// A Canvas is a value: copying it copies the pixels. To draw on it with the
/// published Graphics class, use qm::CanvasSurface (graphics/CanvasSurface.h).
///
/// Errors: 5 (Invalid procedure call or argument) for a negative size, a
/// coordinate that is no finite number, a text size outside 0 to 10000
/// pixels or text that is not valid UTF-8, 7 (Out of memory) for more than
/// 1 GiB of pixels, 9 (Subscript out of range) for Pixel outside the canvas,
/// 53 (File not found) for a face that is not installed.

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "quillmark/Export.h"
#include "quillmark/graphics/Rgb.h"

namespace qm {

class Bitmap;
class Picture;
struct CanvasAccess;
struct CanvasOptions;

/// A point in pixels (fractions are rounded when drawn).
struct Point {
  double X = 0;  ///< from the left edge
  double Y = 0;  ///< from the top edge
};

/// Where a text lies across from the x it is drawn at.
enum class HAlign : std::uint8_t {
  Left,    ///< x is the left edge of each line
  Centre,  ///< x is the middle of each line
  Right    ///< x is the right edge of each line
};

/// Where a text lies down from the y it is drawn at.
enum class VAlign : std::uint8_t {
  Top,       ///< y is the top of the first line's box
  Middle,    ///< y is the middle of the text's box
  Baseline,  ///< y is the first line's baseline
  Bottom     ///< y is the bottom of the last line's box
};

/// A text's alignment on the point it is drawn at (top left by default).
struct TextAlign {
  HAlign Across = HAlign::Left;  ///< across
  VAlign Down = VAlign::Top;     ///< down
};

/// The box of a text, in pixels: the widest line's advance, and the lines'
/// height. Glyphs may overhang it by a pixel or so (an italic's slant).
struct TextExtent {
  double Width = 0;    ///< the widest line, from its origin to its last glyph's advance
  double Height = 0;   ///< the number of lines times the face's line height
  double Ascent = 0;   ///< from a line's top to its baseline
  double Descent = 0;  ///< from the baseline down to the line's bottom (line gap included)
};

/// A raster of 24-bit pixels to draw charts on, white unless another
/// background is given; copies copy the pixels.
class QUILLMARK_EXPORT Canvas {
 public:
  /// A canvas of width x height pixels filled with `background` (white by default).
  Canvas(std::int32_t width, std::int32_t height, Rgb background = Rgb{255, 255, 255});
  /// A canvas holding a copy of the picture's pixels (an empty picture gives 0 x 0).
  static Canvas FromPicture(const Picture& picture);

  /// Copies the pixels.
  Canvas(const Canvas& other);
  /// Copies the pixels (a CanvasSurface made on this canvas keeps the old ones).
  Canvas& operator=(const Canvas& other);
  /// Takes the pixels over; `other` is left 0 x 0.
  Canvas(Canvas&& other) noexcept;
  /// Takes the pixels over; `other` is left 0 x 0.
  Canvas& operator=(Canvas&& other) noexcept;
  ~Canvas();

  /// Width in pixels.
  std::int32_t Width() const;
  /// Height in pixels.
  std::int32_t Height() const;

  /// The colour of the pixel at (x, y); 9 outside the canvas.
  Rgb Pixel(std::int32_t x, std::int32_t y) const;
  /// Sets one pixel; nothing happens outside the canvas.
  void SetPixel(std::int32_t x, std::int32_t y, Rgb colour);
  /// Paints the whole canvas in one colour.
  void Fill(Rgb colour);

  /// A line from (x1, y1) to (x2, y2), both end points included.
  void Line(double x1, double y1, double x2, double y2, Rgb colour);
  /// Lines through the points in order (a single point sets one pixel; no
  /// points draw nothing).
  void Polyline(std::span<const Point> points, Rgb colour);
  /// The rectangle with corners (x1, y1) and (x2, y2), both included, filled.
  void FillRect(double x1, double y1, double x2, double y2, Rgb colour);
  /// The outline of that rectangle.
  void Rect(double x1, double y1, double x2, double y2, Rgb colour);

  /// Draws anti-aliased lines (Line, Polyline, Rect) from now on, or plain
  /// one-pixel ones (the default). A smooth polyline covers each pixel once,
  /// so its joints are no darker than its pieces.
  void SetSmooth(bool smooth);
  /// Whether lines are anti-aliased.
  bool Smooth() const;

  /// Chooses the face of Text and TextSize by name: a family ("DejaVu Serif"),
  /// optionally with a style in fontconfig's form ("DejaVu Sans:bold"), one
  /// of the generic families "sans-serif", "serif" and "monospace", or the
  /// path of a font file (a name with a '/'). An empty name is the default,
  /// DejaVu Sans. 53 when no installed face has that family (or the file is
  /// not there), 70 or 75 when it cannot be read, 5 when it is no font.
  void SetFace(std::string_view name);
  /// The face's name as given to SetFace ("" for the default).
  std::string Face() const;

  /// Draws `text` (UTF-8) `size` pixels high (the em size) in `colour`,
  /// aligned on (x, y) as `alignment` says. Glyphs the face lacks are drawn
  /// as its missing-glyph box; right-to-left scripts run right to left
  /// within a run of their script, with no reordering of mixed directions.
  void Text(double x, double y, std::string_view text, double size, Rgb colour, TextAlign alignment = {});
  /// The box Text fills for `text` at `size` pixels in the canvas's face.
  TextExtent TextSize(std::string_view text, double size) const;

 private:
  Canvas() = default;
  friend struct CanvasAccess;  // the library's JPEG writer and CanvasSurface

  // The pixels, shared with a CanvasSurface drawing on this canvas; null
  // only in a canvas moved from (which then acts as 0 x 0).
  std::shared_ptr<Bitmap> bitmap_;
  // The face and line settings, never changed once made (a setter makes new
  // ones), so copies share them; null for the defaults.
  std::shared_ptr<const CanvasOptions> options_;
};

}  // namespace qm

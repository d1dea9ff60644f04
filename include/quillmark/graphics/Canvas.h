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
/// outside it. Lines are one pixel wide and include both end points. There is
/// no text: the core library has no font engine (draw text in the HTML page
/// around the picture).
///
/// A Canvas is a value: copying it copies the pixels. To draw on it with the
/// published Graphics class, use qm::CanvasSurface (graphics/CanvasSurface.h).
///
/// Errors: 5 (Invalid procedure call or argument) for a negative size or a
/// coordinate that is no finite number, 7 (Out of memory) for more than 1 GiB
/// of pixels, 9 (Subscript out of range) for Pixel outside the canvas.

#include <cstdint>
#include <memory>
#include <span>

#include "quillmark/Export.h"
#include "quillmark/graphics/Rgb.h"

namespace qm {

class Bitmap;
class Picture;
struct CanvasAccess;

/// A point in pixels (fractions are rounded when drawn).
struct Point {
  double X = 0;  ///< from the left edge
  double Y = 0;  ///< from the top edge
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

 private:
  Canvas() = default;
  friend struct CanvasAccess;  // the library's JPEG writer and CanvasSurface

  // The pixels, shared with a CanvasSurface drawing on this canvas; null
  // only in a canvas moved from (which then acts as 0 x 0).
  std::shared_ptr<Bitmap> bitmap_;
};

}  // namespace qm

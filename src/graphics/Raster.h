#pragma once
// Rasterising one-pixel lines and filled rectangles onto a grid of
// width x height pixels, for Canvas and CanvasSurface. Each shape is clipped
// in floating point before it is turned into pixels, so a shape far outside
// the grid costs no more than one across it, and the callback only ever sees
// pixels inside the grid.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "quillmark/errors/Error.h"
#include "quillmark/errors/ErrorNumbers.h"

namespace qm::raster {

inline void CheckFinite(double a, double b, double c, double d) {
  if (!std::isfinite(a) || !std::isfinite(b) || !std::isfinite(c) || !std::isfinite(d))
    RaiseWithDetail(ERR_InvalidProcedureCall, "a coordinate is not a finite number");
}

// Nearest pixel, halves away from zero; the value lies within the clip box.
inline std::int32_t Round(double v) { return static_cast<std::int32_t>(std::lround(v)); }

// Clips the segment to [lo, hiX] x [lo, hiY] (Liang-Barsky); false when
// nothing of it is left.
inline bool ClipSegment(double& x1, double& y1, double& x2, double& y2, double lo, double hiX, double hiY) {
  double t0 = 0, t1 = 1;
  const double dx = x2 - x1, dy = y2 - y1;
  const double p[4] = {-dx, dx, -dy, dy};
  const double q[4] = {x1 - lo, hiX - x1, y1 - lo, hiY - y1};
  for (int i = 0; i < 4; ++i) {
    if (p[i] == 0) {
      if (q[i] < 0) return false;
      continue;
    }
    const double t = q[i] / p[i];
    if (p[i] < 0) t0 = std::max(t0, t);
    else t1 = std::min(t1, t);
    if (t0 > t1) return false;
  }
  const double ax = x1, ay = y1;
  x1 = ax + t0 * dx, y1 = ay + t0 * dy;
  x2 = ax + t1 * dx, y2 = ay + t1 * dy;
  return true;
}

// Calls plot(x, y) for every pixel of the line from (x1, y1) to (x2, y2)
// that lies in the grid, both end points included (Bresenham).
template <class Plot>
void Segment(double x1, double y1, double x2, double y2, std::int32_t width, std::int32_t height, Plot&& plot) {
  CheckFinite(x1, y1, x2, y2);
  // A margin of one pixel keeps every segment that ends inside the grid
  // exactly as drawn unclipped; the clipped ones end just outside it.
  if (!ClipSegment(x1, y1, x2, y2, -1.0, width, height)) return;
  std::int32_t x = Round(x1), y = Round(y1);
  const std::int32_t xe = Round(x2), ye = Round(y2);
  const std::int32_t dx = std::abs(xe - x), dy = -std::abs(ye - y);
  const std::int32_t sx = x < xe ? 1 : -1, sy = y < ye ? 1 : -1;
  std::int32_t error = dx + dy;
  for (;;) {
    if (x >= 0 && y >= 0 && x < width && y < height) plot(x, y);
    if (x == xe && y == ye) break;
    const std::int32_t twice = 2 * error;
    if (twice >= dy) error += dy, x += sx;
    if (twice <= dx) error += dx, y += sy;
  }
}

// Calls span(y, left, right) for each row of the filled rectangle with
// corners (x1, y1) and (x2, y2), both included, clipped to the grid.
template <class Span>
void Rectangle(double x1, double y1, double x2, double y2, std::int32_t width, std::int32_t height, Span&& span) {
  CheckFinite(x1, y1, x2, y2);
  auto clampRound = [](double v, std::int32_t extent) { return Round(std::clamp(v, -1.0, double(extent))); };
  const auto [left, right] = std::minmax({clampRound(x1, width), clampRound(x2, width)});
  const auto [top, bottom] = std::minmax({clampRound(y1, height), clampRound(y2, height)});
  const std::int32_t l = std::max(left, 0), r = std::min(right, width - 1);
  if (l > r) return;
  for (std::int32_t y = std::max(top, 0); y <= std::min(bottom, height - 1); ++y) span(y, l, r);
}

}  // namespace qm::raster

// Draws a chart of monthly values as points, straight lines and a smooth
// spline curve with the published Graphics class on a canvas, and writes the
// canvas as a JPEG file. (docs/typed.md draws the same with the canvas's own
// calls.)
//
//   qm-example-spline-chart OUT.jpg

#include <iostream>

#include "quillmark/errors/Error.h"
#include "quillmark/graphics/Canvas.h"
#include "quillmark/graphics/CanvasSurface.h"
#include "quillmark/graphics/Graphics.h"
#include "quillmark/graphics/Jpeg.h"
#include "quillmark/graphics/Resample.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: qm-example-spline-chart OUT.jpg\n";
    return 2;
  }
  try {
    constexpr std::int32_t kWidth = 640, kHeight = 360;
    constexpr double kTwips = 15;
    const std::vector<double> months{12, 19, 15, 27, 31, 24, 36, 41, 33, 29, 38, 45};
    const double left = 60 * kTwips, bottom = 320 * kTwips, step = 48 * kTwips, scale = 6 * kTwips;

    // Chart y grows downwards on the surface: values are turned into surface rows.
    std::vector<qm::Variant> rows;
    for (double v : months) rows.emplace_back(bottom - v * scale);
    const qm::Variant values(qm::VariantArray::FromVector(rows));

    qm::Canvas canvas(kWidth, kHeight);  // white
    qm::CanvasSurface surface(canvas);   // Graphics' picture surface: twips, colours 0x00BBGGRR
    qm::Graphics g;
    for (int v = 0; v <= 50; v += 10)
      g.Line2(surface, left, bottom - v * scale, left + 11 * step, bottom - v * scale, std::int32_t{0xE0E0E0});
    g.Box(surface, left, bottom - 50 * scale, left + 11 * step, bottom, std::int32_t{0x404040});
    g.Lines(surface, left, step, values, std::int32_t{0xB0B0B0});
    g.LinesSmooth(surface, left, step, values, std::int32_t{0x2020D0});
    for (std::size_t i = 0; i < months.size(); ++i)
      g.Circle2(surface, left + static_cast<double>(i) * step, rows[i], 4 * kTwips, std::int32_t{0x804000});

    qm::WriteJpeg(canvas, argv[1], 90);

    const std::vector<double> smooth = qm::ResampleCubic(months, 10);
    std::cout << argv[1] << ": " << months.size() << " values, " << smooth.size() << " points on the spline, " << kWidth
              << " x " << kHeight << " JPEG\n";
  } catch (const qm::Error& e) {
    std::cerr << "error " << e.Number() << ": " << e.Description() << "\n  " << e.Source() << '\n';
    return 1;
  }
  return 0;
}

// Draws a chart of monthly values as points, straight lines and a smooth
// spline curve with the published Graphics class on a canvas, labels it with
// the canvas's own text (a title, the axes' values and a legend), and writes
// the canvas as a JPEG file. (docs/typed.md draws the same with the canvas's
// own calls.)
//
//   qm-example-spline-chart OUT.jpg

#include <algorithm>
#include <iostream>
#include <string>

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
    const char* const names[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    // The plot in pixels: 0 to 50 from y = 310 up to y = 60, a month every 48 pixels.
    const double leftPx = 64, bottomPx = 310, stepPx = 48, scalePx = 5;
    const double left = leftPx * kTwips, bottom = bottomPx * kTwips, step = stepPx * kTwips, scale = scalePx * kTwips;
    const double rightPx = leftPx + 11 * stepPx, topPx = bottomPx - 50 * scalePx;

    // Chart y grows downwards on the surface: values are turned into surface rows.
    std::vector<qm::Variant> rows;
    for (double v : months) rows.emplace_back(bottom - v * scale);
    const qm::Variant values(qm::VariantArray::FromVector(rows));

    qm::Canvas canvas(kWidth, kHeight);  // white
    qm::CanvasSurface surface(canvas);   // Graphics' picture surface: twips, colours 0x00BBGGRR
    qm::Graphics g;
    const qm::Rgb ink{48, 48, 48}, muted{110, 110, 110};
    for (int v = 0; v <= 50; v += 10) {
      g.Line2(surface, left, bottom - v * scale, left + 11 * step, bottom - v * scale, std::int32_t{0xE0E0E0});
      canvas.Text(leftPx - 8, bottomPx - v * scalePx, std::to_string(v), 12, muted,
                  {qm::HAlign::Right, qm::VAlign::Middle});
    }
    g.Box(surface, left, bottom - 50 * scale, left + 11 * step, bottom, std::int32_t{0x404040});
    for (std::size_t i = 0; i < months.size(); ++i)
      canvas.Text(leftPx + static_cast<double>(i) * stepPx, bottomPx + 6, names[i], 12, muted,
                  {qm::HAlign::Centre, qm::VAlign::Top});
    g.Lines(surface, left, step, values, std::int32_t{0xB0B0B0});
    g.LinesSmooth(surface, left, step, values, std::int32_t{0x2020D0});
    for (std::size_t i = 0; i < months.size(); ++i)
      g.Circle2(surface, left + static_cast<double>(i) * step, rows[i], 4 * kTwips, std::int32_t{0x804000});

    canvas.Text(kWidth / 2.0, 14, "Takings per month, 2026", 20, ink, {qm::HAlign::Centre, qm::VAlign::Top});
    canvas.Text(leftPx, topPx - 8, "thousand", 12, muted, {qm::HAlign::Centre, qm::VAlign::Bottom});
    canvas.Text((leftPx + rightPx) / 2, kHeight - 6.0, "month", 12, muted, {qm::HAlign::Centre, qm::VAlign::Bottom});

    // The legend, in the plot's empty top left corner: a sample of each series
    // and its name, in a box as wide as the longest name needs.
    const struct {
      const char* Name;
      std::int32_t Colour;  // 0x00BBGGRR
      bool Point;
    } series[] = {{"spline through the months", 0x2020D0, false},
                  {"straight lines", 0xB0B0B0, false},
                  {"monthly value", 0x804000, true}};
    double widest = 0;
    for (const auto& each : series) widest = std::max(widest, canvas.TextSize(each.Name, 12).Width);
    const double legendX = leftPx + 14, legendY = topPx + 12, legendW = 34 + widest + 10;
    canvas.FillRect(legendX, legendY, legendX + legendW, legendY + 62, qm::Rgb{255, 255, 255});
    canvas.Rect(legendX, legendY, legendX + legendW, legendY + 62, qm::Rgb{200, 200, 200});
    for (int i = 0; i < 3; ++i) {
      const double y = legendY + 12 + 19 * i;
      if (series[i].Point) {
        g.Circle2(surface, (legendX + 17) * kTwips, y * kTwips, 4 * kTwips, series[i].Colour);
      } else {
        for (double d = -0.5; d <= 0.5; d += 1)  // two pixels thick, to show the colour
          g.Line2(surface, (legendX + 8) * kTwips, (y + d) * kTwips, (legendX + 26) * kTwips, (y + d) * kTwips,
                  series[i].Colour);
      }
      canvas.Text(legendX + 34, y, series[i].Name, 12, ink, {qm::HAlign::Left, qm::VAlign::Middle});
    }

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

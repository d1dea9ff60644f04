#include "DemoChart.h"

#include <vector>

#include "quillmark/graphics/Graphics.h"

namespace qm::example {

void DrawDemoChart(Dispatch& picture) {
  Graphics graphics;
  constexpr std::int32_t kBlue = 0xB06020, kRed = 0x2020D0, kGreen = 0x30A030, kGrey = 0xC0C0C0;
  const std::vector<double> sales{1800, 2400, 2100, 3000, 2700, 3500, 3300, 4100};
  // Plot area in twips: left 900, top 450, 6000 wide, 2700 high; 1 unit of sales = 0.6 twips.
  const double left = 900, bottom = 3150, step = 750;
  const auto y = [&](double value) { return Variant(bottom - value * 0.6); };

  for (int line = 0; line <= 4; ++line)  // grid
    graphics.Line2(picture, Variant(left), Variant(bottom - line * 540.0), Variant(left + 6000),
                   Variant(bottom - line * 540.0), Variant(kGrey));
  graphics.Box(picture, Variant(left), Variant(450), Variant(left + 6000), Variant(bottom), Variant(0));
  for (std::size_t i = 0; i < sales.size(); ++i) {
    const double x = left + 150 + static_cast<double>(i) * step;
    graphics.BoxFill(picture, Variant(x), y(sales[i]), Variant(x + 450), Variant(bottom - 15), Variant(kBlue));
  }
  // The target, inverted over the bars.
  graphics.Line2(picture, Variant(left), y(2800), Variant(left + 6000), y(2800), Variant(0), vbInvert);

  std::vector<Variant> values;
  for (double v : sales) values.emplace_back(bottom - v * 0.6 - 300);
  const Variant points(VariantArray::FromVector(values));
  graphics.Lines(picture, Variant(left + 375), step, points, Variant(kRed));
  graphics.LinesSmooth(picture, Variant(left + 375), step, points, Variant(kGreen));
  for (std::size_t i = 0; i < sales.size(); ++i)
    graphics.Circle2(picture, Variant(left + 375 + static_cast<double>(i) * step), values[i], Variant(60),
                     Variant(kRed));

  graphics.Text(picture, "Sales per month", Variant(true), Variant(left + 3000), Variant(150), false, vbCenter);
  graphics.Text(picture, "4000", Variant(false), Variant(left - 60), Variant(bottom - 4 * 540.0), false,
                vbRightJustify);
  graphics.Text(picture, "0", Variant(false), Variant(left - 60), Variant(bottom), true, vbRightJustify);
  graphics.TextCR(picture, "Jan", Variant(true), Variant(left + 150), Variant(bottom + 60));
  graphics.Text(picture, "Aug", Variant(true), Variant(left + 150 + 7 * step), Variant(bottom + 60));
}

}  // namespace qm::example

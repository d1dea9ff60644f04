#include "quillmark/graphics/Spline.h"

#include "NaturalSpline.h"
#include "quillmark/errors/ErrorNumbers.h"
#include "quillmark/frame/Frame.h"
#include "quillmark/graphics/Graphics.h"
#include "quillmark/values/Conversions.h"

namespace qm::mdlSpline {
namespace {

using spline::BoundedArray;

constexpr std::int32_t kPiecesPerInterval = 10;

// The module's own solver: its unknowns always start at index 1.
void SolveTriDiag(BoundedArray& sub, BoundedArray& diag, BoundedArray& sup, BoundedArray& rhs, std::int32_t& n) {
  QM_FRAME_TRY { spline::Thomas(sub, diag, sup, rhs, 0, n); }
  QM_FRAME_CATCH("Spline", "Private Sub SolveTriDiag", sub, diag, sup, rhs, n);
}

void DrawLine(Dispatch& surface, double x1, double y1, double x2, double y2, const Variant& Color) {
  std::vector<Variant> args{Variant(std::int32_t{0}), x1, y1, x2, y2, Color};
  surface.Call("Line", args);
}

}  // namespace

void DrawCurve(Dispatch& surface, Variant Left, Variant XStep, Variant& YValues, Variant& Color) {
  QM_FRAME_TRY {
    const VariantArray& values = YValues.Array();
    const std::int64_t count = std::int64_t{values.UBound()} + 1;
    if (count > 32767) RaiseWithDetail(ERR_Overflow, "a curve takes at most 32767 values");
    const auto np = static_cast<std::int32_t>(count);
    if (np <= 0) return;

    spline::System s{{0, np - 1}, {0, np - 1}, {0, np}, {0, np}, {0, np - 1}, {0, np - 1}, {0, np - 1}};
    for (std::int32_t i = 0; i <= np - 1; ++i) {
      s.x(i) = CDbl(Variant(static_cast<std::int16_t>(i)) * XStep + Left);
      s.y(i) = CDbl(values(i));
    }
    for (std::int32_t i = 1; i <= np - 1; ++i) s.h(i) = s.x(i) - s.x(i - 1);
    if (np > 2) {
      spline::SetUp(s, 1, np - 2);
      std::int32_t unknowns = np - 2;
      SolveTriDiag(s.c, s.b, s.a, s.r, unknowns);
    }

    double px = s.x(0), py = s.y(0);
    DrawLine(surface, px, py, px, py, Color);
    for (std::int32_t i = 1; i <= np - 1; ++i) {
      const spline::Interval interval = spline::IntervalOf(s, i);
      for (std::int32_t j = 1; j <= kPiecesPerInterval; ++j) {
        const double t = (j * interval.h) / kPiecesPerInterval;
        const double qy = interval.At(t);
        const double qx = t + s.x(i - 1);
        DrawLine(surface, px, py, qx, qy, Color);
        px = qx;
        py = qy;
      }
    }
  }
  QM_FRAME_CATCH("Spline", "Public Sub DrawCurve", surface, Left, XStep, YValues, Color);
}

}  // namespace qm::mdlSpline

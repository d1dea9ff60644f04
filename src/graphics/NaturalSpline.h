#pragma once
// The arithmetic shared by Interpolate and mdlSpline: the natural cubic
// spline through equally indexed samples. Every expression keeps the order of
// evaluation of the original formulae, so that results agree to the last bit
// (the graphics sources are compiled without floating-point contraction).

#include <cstdint>
#include <vector>

namespace qm::spline {

/// A zero-filled array of doubles with the bounds Lower to Upper.
class BoundedArray {
 public:
  BoundedArray(std::int32_t lower, std::int32_t upper)
      : lower_(lower), values_(static_cast<std::size_t>(std::int64_t{upper} - lower + 1), 0.0) {}
  double& operator()(std::int32_t i) { return values_[static_cast<std::size_t>(i - lower_)]; }
  double operator()(std::int32_t i) const { return values_[static_cast<std::size_t>(i - lower_)]; }
  std::int32_t Lower() const { return lower_; }

 private:
  std::int32_t lower_;
  std::vector<double> values_;
};

/// The tridiagonal system for the second derivatives at the interior samples.
struct System {
  BoundedArray x, y, h, r, c, b, a;
};

/// Thomas algorithm without pivoting for the unknowns base + 1 ... base + n;
/// the solution is left in rhs.
inline void Thomas(BoundedArray& sub, BoundedArray& diag, BoundedArray& sup, BoundedArray& rhs, std::int32_t base,
                   std::int32_t n) {
  for (std::int32_t i = base + 2; i <= base + n; ++i) {
    sub(i) = sub(i) / diag(i - 1);
    diag(i) = diag(i) - sup(i - 1) * sub(i);
    rhs(i) = rhs(i) - sub(i) * rhs(i - 1);
  }
  rhs(base + n) = rhs(base + n) / diag(base + n);
  for (std::int32_t i = base + n - 1; i >= base + 1; --i) rhs(i) = (rhs(i) - sup(i) * rhs(i + 1)) / diag(i);
}

/// Fills the rows first ... last of the system from x, y and h.
inline void SetUp(System& s, std::int32_t first, std::int32_t last) {
  for (std::int32_t i = first; i <= last; ++i) {
    s.b(i) = (s.h(i) + s.h(i + 1)) / 3;
    s.a(i) = s.h(i + 1) / 6;
    s.c(i) = s.h(i) / 6;
    s.r(i) = (s.y(i + 1) - s.y(i)) / s.h(i + 1) - (s.y(i) - s.y(i - 1)) / s.h(i);
  }
}

/// The spline on the interval from sample i - 1 to sample i, with the
/// per-interval terms -M0 / 6 and -M1 / 6 (M0 = r(i - 1), M1 = r(i), the
/// solved second derivatives) worked out once.
struct Interval {
  double h, y0, y1, m0, m1;

  /// The value at offset t (0 < t <= h) from x(i - 1), in the factored form
  /// A = (u + h)(-M0/6)t, C = (A + y0)u, B = (t + h)(-M1/6)u, ((B + y1)t + C)/h.
  double At(double t) const { return Numerator(t) / h; }
  /// At(t) on an interval of width 1, where the division changes nothing
  /// (x / 1 is x exactly).
  double AtOnUnitWidth(double t) const { return Numerator(t); }

 private:
  double Numerator(double t) const {
    const double u = h - t;
    const double a = (u + h) * m0 * t;
    const double c = (a + y0) * u;
    const double b = (t + h) * m1 * u;
    return (b + y1) * t + c;
  }
};

inline Interval IntervalOf(const System& s, std::int32_t i) {
  return {s.h(i), s.y(i - 1), s.y(i), -s.r(i - 1) / 6, -s.r(i) / 6};
}

}  // namespace qm::spline

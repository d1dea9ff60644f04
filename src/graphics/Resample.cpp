#include "quillmark/graphics/Resample.h"

#include <algorithm>
#include <bit>
#include <cstdint>

#include "LinearResample.h"
#include "NaturalSpline.h"
#include "quillmark/errors/Error.h"
#include "quillmark/errors/ErrorNumbers.h"

namespace qm {
namespace {

// The number of values out, (n - 1) * precision + 1, checked before anything
// is allocated.
std::size_t OutputCount(std::size_t n, int precision) {
  if (n < 2) return n;
  if (precision < 0)  // no output of negative length
    Raise(ERR_SubscriptOutOfRange, errc::invalid_argument,
          DescribeError(ERR_SubscriptOutOfRange, "the precision " + std::to_string(precision) + " is negative"));
  const auto per = static_cast<std::size_t>(precision);
  if (per != 0 && n - 1 > (kMaxResampledValues - 1) / per)
    RaiseWithDetail(ERR_Overflow, "the resampling would give more than 268435456 values");
  return (n - 1) * per + 1;
}

}  // namespace

std::vector<double> ResampleCubic(std::span<const double> samples, int precision) {
  const std::size_t n = samples.size();
  std::vector<double> values;
  if (n == 0) return values;
  values.reserve(OutputCount(n, precision));
  if (n > static_cast<std::size_t>(INT32_MAX)) RaiseWithDetail(ERR_Overflow, "more than 2147483647 samples");

  const auto last = static_cast<std::int32_t>(n - 1);
  spline::System s{{0, last}, {0, last}, {0, last}, {0, last}, {0, last}, {0, last}, {0, last}};
  for (std::int32_t i = 0; i <= last; ++i) {
    s.x(i) = i;  // unit-spaced abscissae
    s.y(i) = samples[static_cast<std::size_t>(i)];
  }
  for (std::int32_t i = 1; i <= last; ++i) s.h(i) = s.x(i) - s.x(i - 1);
  if (n > 2) {
    spline::SetUp(s, 1, last - 1);
    spline::Thomas(s.c, s.b, s.a, s.r, 0, last - 1);
  }

  values.push_back(samples[0]);
  // The offsets t = (j * h) / precision depend on h alone, which is the same
  // for every interval: they are worked out again only when h changes.
  std::vector<double> offsets(static_cast<std::size_t>(std::max(precision, 0)));
  std::uint64_t offsetsFor = 0;
  for (std::int32_t i = 1; i <= last; ++i) {
    const spline::Interval interval = spline::IntervalOf(s, i);
    if (i == 1 || std::bit_cast<std::uint64_t>(interval.h) != offsetsFor) {
      for (int j = 1; j <= precision; ++j) offsets[static_cast<std::size_t>(j - 1)] = (j * interval.h) / precision;
      offsetsFor = std::bit_cast<std::uint64_t>(interval.h);
    }
    if (interval.h == 1.0) {
      for (double t : offsets) values.push_back(interval.AtOnUnitWidth(t));
    } else {
      for (double t : offsets) values.push_back(interval.At(t));
    }
  }
  return values;
}

std::vector<double> ResampleLinear(std::span<const double> samples, int precision) {
  std::vector<double> values;
  if (samples.empty()) return values;
  values.reserve(OutputCount(samples.size(), precision));
  resample::Linear<double>(
      samples.size(), precision, [&](std::size_t i) { return samples[i]; }, [&](double v) { values.push_back(v); });
  return values;
}

}  // namespace qm

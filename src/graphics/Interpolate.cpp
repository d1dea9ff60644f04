#include "quillmark/graphics/Interpolate.h"

#include <algorithm>
#include <bit>
#include <limits>

#include "NaturalSpline.h"
#include "quillmark/errors/ErrorNumbers.h"
#include "quillmark/frame/Frame.h"
#include "quillmark/values/Conversions.h"

namespace qm {
namespace {

using spline::BoundedArray;

constexpr std::int64_t kMaxSamples = 32767;
constexpr std::int64_t kMaxOutputValues = std::int64_t{1} << 24;

const VariantArray& Samples(const Variant& InArray) {
  if (!InArray.IsArray()) Raise(ERR_General, "InArray must be an array");
  return InArray.Array();
}

// Number of samples, refused beyond the 16-bit range of the system's counters.
std::int32_t SampleCount(const VariantArray& in) {
  const std::int64_t n = std::int64_t{in.UBound()} - in.LBound() + 1;
  if (n > kMaxSamples) RaiseWithDetail(ERR_Overflow, "InArray holds more than 32767 samples");
  return static_cast<std::int32_t>(n);
}

// Upper bound of the resampled array lb to lb + (n - 1) * Precision.
std::int32_t OutputUpper(std::int32_t lb, std::int32_t n, std::int16_t Precision) {
  const std::int64_t values = std::int64_t{n - 1} * Precision + 1;
  if (values < 1) Raise(ERR_SubscriptOutOfRange);  // a negative Precision cannot dimension the output
  if (values > kMaxOutputValues)
    RaiseWithDetail(ERR_Overflow, "the resampled array would hold more than 16777216 values");
  const std::int64_t upper = std::int64_t{lb} + values - 1;
  if (upper > std::numeric_limits<std::int32_t>::max())
    RaiseWithDetail(ERR_Overflow, "the resampled array's upper bound would pass 2147483647");
  return static_cast<std::int32_t>(upper);
}

// Interpolate's own solver: the unknowns follow the lower bound of sub.
void SolveTriDiag(BoundedArray& sub, BoundedArray& diag, BoundedArray& sup, BoundedArray& rhs, std::int16_t& n) {
  QM_FRAME_TRY {
    spline::Thomas(sub, diag, sup, rhs, sub.Lower(), n);
  } QM_FRAME_CATCH("Interpolate", "Private Sub SolveTriDiag", sub, diag, sup, rhs, n);
}

}  // namespace

Variant Interpolate::InterpCub(Variant& InArray, std::int16_t Precision) {
  QM_FRAME_TRY {
    const VariantArray& in = Samples(InArray);
    const std::int32_t lb = in.LBound();
    const std::int32_t n = SampleCount(in);
    if (n == 0) return Variant();

    const std::int32_t upper = OutputUpper(lb, n, Precision);
    const std::int32_t last = lb + n - 1;
    spline::System s{{lb, last}, {lb, last}, {lb, last}, {lb, last}, {lb, last}, {lb, last}, {lb, last}};
    for (std::int32_t i = lb; i <= last; ++i) {
      s.x(i) = i;  // unit-spaced abscissae
      s.y(i) = CDbl(in(i));
    }
    if (n > 1)
      for (std::int32_t i = lb + 1; i <= last; ++i) s.h(i) = s.x(i) - s.x(i - 1);
    if (n > 2) {
      spline::SetUp(s, lb + 1, last - 1);
      std::int16_t unknowns = static_cast<std::int16_t>(n - 2);
      SolveTriDiag(s.c, s.b, s.a, s.r, unknowns);
    }

    // The output cursor is the end of `values`: each value is built in place.
    std::vector<Variant> values;
    values.reserve(static_cast<std::size_t>(std::int64_t{upper} - lb + 1));
    values.emplace_back(CDbl(in(lb)));
    // The offsets t = (j * h) / Precision depend on h alone, which is the
    // same for every interval: they are worked out again only when h changes.
    std::vector<double> offsets(static_cast<std::size_t>(std::max<std::int16_t>(Precision, 0)));
    std::uint64_t offsetsFor = 0;
    for (std::int32_t i = lb + 1; i <= last; ++i) {
      const spline::Interval interval = spline::IntervalOf(s, i);
      if (i == lb + 1 || std::bit_cast<std::uint64_t>(interval.h) != offsetsFor) {
        for (std::int32_t j = 1; j <= Precision; ++j)
          offsets[static_cast<std::size_t>(j - 1)] = (j * interval.h) / Precision;
        offsetsFor = std::bit_cast<std::uint64_t>(interval.h);
      }
      if (interval.h == 1.0) {
        for (double t : offsets) values.emplace_back(interval.AtOnUnitWidth(t));
      } else {
        for (double t : offsets) values.emplace_back(interval.At(t));
      }
    }
    return Variant(VariantArray::FromVector(std::move(values), lb, vbDouble));
  } QM_FRAME_CATCH("Interpolate", "Public Function InterpCub", InArray, Precision);
}

Variant Interpolate::InterpLin(Variant& InArray, std::int16_t Precision) {
  QM_FRAME_TRY {
    const VariantArray& in = Samples(InArray);
    const std::int32_t lb = in.LBound();
    const std::int32_t n = SampleCount(in);
    if (n == 0) return Variant();  // nothing to resample: as InterpCub

    const std::int32_t upper = OutputUpper(lb, n, Precision);
    std::vector<Variant> values;  // the output cursor is its end
    values.reserve(static_cast<std::size_t>(std::int64_t{upper} - lb + 1));
    for (std::int32_t i = lb; i <= lb + n - 2; ++i) {
      for (std::int32_t j = 0; j <= Precision - 1; ++j) {
        const double w = static_cast<double>(Precision - j) / static_cast<double>(Precision);
        Variant left = in(i) * Variant(w);  // left operand first, as the expression reads
        values.push_back(left + in(i + 1) * Variant(1 - w));
      }
    }
    values.push_back(in(lb + n - 1));
    return Variant(VariantArray::FromVector(std::move(values), lb, vbVariant));
  } QM_FRAME_CATCH("Interpolate", "Public Function InterpLin", InArray, Precision);
}

}  // namespace qm

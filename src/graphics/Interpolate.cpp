#include "quillmark/graphics/Interpolate.h"

#include <limits>
#include <vector>

#include "LinearResample.h"
#include "quillmark/errors/ErrorNumbers.h"
#include "quillmark/frame/Frame.h"
#include "quillmark/graphics/Resample.h"
#include "quillmark/values/Conversions.h"

namespace qm {
namespace {

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

}  // namespace

Interpolate::~Interpolate() = default;

Variant Interpolate::InterpCub(Variant& InArray, std::int16_t Precision) {
  QM_FRAME_TRY {
    const VariantArray& in = Samples(InArray);
    const std::int32_t lb = in.LBound();
    const std::int32_t n = SampleCount(in);
    if (n == 0) return Variant();
    OutputUpper(lb, n, Precision);

    std::vector<double> samples;
    samples.reserve(static_cast<std::size_t>(n));
    for (std::int32_t i = lb; i < lb + n; ++i) samples.push_back(CDbl(in(i)));
    const std::vector<double> resampled = ResampleCubic(samples, Precision);
    std::vector<Variant> values(resampled.begin(), resampled.end());
    return Variant(VariantArray::FromVector(std::move(values), lb, vbDouble));
  }
  QM_FRAME_CATCH("Interpolate", "Public Function InterpCub", InArray, Precision);
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
    // In Variant arithmetic, so that Currency and Decimal samples keep their
    // type; the loop is ResampleLinear's.
    resample::Linear<Variant>(
        static_cast<std::size_t>(n), Precision,
        [&](std::size_t i) -> const Variant& { return in(lb + static_cast<std::int32_t>(i)); },
        [&](const Variant& v) { values.push_back(v); });
    return Variant(VariantArray::FromVector(std::move(values), lb, vbVariant));
  }
  QM_FRAME_CATCH("Interpolate", "Public Function InterpLin", InArray, Precision);
}

}  // namespace qm

#include "quillmark/graphics/Resample.h"

#include "quillmark/graphics/Interpolate.h"
#include "quillmark/values/Conversions.h"

namespace qm {
namespace {

using Method = Variant (Interpolate::*)(Variant&, std::int16_t);

// Runs one of Interpolate's methods over the samples as an array of Doubles.
std::vector<double> Resample(std::span<const double> samples, std::int16_t precision, Method method) {
  std::vector<Variant> in(samples.begin(), samples.end());
  Variant array(VariantArray::FromVector(std::move(in), 0, vbDouble));
  Interpolate interpolate;
  const Variant out = (interpolate.*method)(array, precision);
  std::vector<double> values;
  if (!out.IsArray()) return values;  // no samples
  const auto& data = out.Array().Data();
  values.reserve(data.size());
  for (const Variant& v : data) {
    const double* d = v.GetIf<double>();
    values.push_back(d ? *d : CDbl(v));
  }
  return values;
}

}  // namespace

std::vector<double> ResampleCubic(std::span<const double> samples, std::int16_t precision) {
  return Resample(samples, precision, &Interpolate::InterpCub);
}

std::vector<double> ResampleLinear(std::span<const double> samples, std::int16_t precision) {
  return Resample(samples, precision, &Interpolate::InterpLin);
}

}  // namespace qm

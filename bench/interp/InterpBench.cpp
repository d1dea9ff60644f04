// Resampling 32,767 samples at precision 10 (327,661 values) by natural cubic
// spline, against GSL's natural cubic spline evaluated at the same points:
//   interp        the published Interpolate.InterpCub (Variant array in and out)
//   interp-typed  the typed qm::ResampleCubic (doubles in and out)
// One call takes a few milliseconds, too short to time on a busy machine: a
// round repeats the call (the same count for every contender) until the
// fastest of them takes at least 100 ms. 32,767 samples is the most the
// published call takes.

#include <gsl/gsl_spline.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>

#include "quillmark/graphics/Interpolate.h"
#include "quillmark/graphics/Resample.h"
#include "quillmark/values/Conversions.h"
#include "support/BenchRow.h"

int main() {
  constexpr int kSamples = 32767;
  constexpr int kPrecision = 10;
  std::mt19937 random(7);
  std::normal_distribution<double> noise(0.0, 2.0);
  std::vector<double> y(kSamples), x(kSamples);
  std::vector<qm::Variant> items;
  items.reserve(kSamples);
  for (int i = 0; i < kSamples; ++i) {
    x[i] = i;
    y[i] = 100 * std::sin(i / 300.0) + noise(random);
    items.emplace_back(y[i]);
  }
  qm::Variant input(qm::VariantArray::FromVector(std::move(items)));

  qm::Variant ours;
  std::vector<double> typed, peer;
  qm::bench::Contender interp{"Interpolate.InterpCub", [&] {
                                qm::Interpolate interpolate;
                                ours = interpolate.InterpCub(input, kPrecision);
                              }};
  qm::bench::Contender resample{"qm::ResampleCubic", [&] { typed = qm::ResampleCubic(y, kPrecision); }};
  qm::bench::Contender gsl{"gsl_spline (cspline)", [&] {
                             gsl_interp_accel* acc = gsl_interp_accel_alloc();
                             gsl_spline* spline = gsl_spline_alloc(gsl_interp_cspline, kSamples);
                             gsl_spline_init(spline, x.data(), y.data(), kSamples);
                             const int count = (kSamples - 1) * kPrecision + 1;
                             std::vector<double> values(static_cast<std::size_t>(count));
                             for (int k = 0; k < count; ++k)
                               values[k] = gsl_spline_eval(spline, static_cast<double>(k) / kPrecision, acc);
                             gsl_spline_free(spline);
                             gsl_interp_accel_free(acc);
                             peer = std::move(values);
                           }};
  // The typed call is the fastest: its count makes every round long enough.
  const int calls = qm::bench::CallsPerRound(resample.Run);
  const qm::bench::Contender published = qm::bench::Repeated(interp, calls);
  const qm::bench::Contender typedCall = qm::bench::Repeated(resample, calls);
  const qm::bench::Contender gslCall = qm::bench::Repeated(gsl, calls);
  qm::bench::RowOptions options;
  options.Repetitions = 7;
  options.Typed = &typedCall;
  qm::bench::RunRow("interp", 0.9, published, {gslCall}, options);
  qm::bench::RunRow("interp-typed", 0.5, typedCall, {gslCall}, 7);
  qm::bench::DetailF("%d calls a round, each of %d samples at precision %d", calls, kSamples, kPrecision);

  double worst = 0;
  const auto& values = ours.Array().Data();
  for (std::size_t k = 0; k < peer.size() && k < values.size(); ++k)
    worst = std::max(worst, std::abs(qm::CDbl(values[k]) - peer[k]));
  qm::bench::Detail("values: " + std::to_string(values.size()) + ", largest difference from GSL " +
                    qm::FormatGeneral(worst));
  if (values.size() != peer.size() || worst > 1e-6) qm::bench::Detail("MISMATCH: the two splines disagree");
  bool same = typed.size() == values.size();
  for (std::size_t k = 0; same && k < typed.size(); ++k) same = typed[k] == qm::CDbl(values[k]);
  if (!same) qm::bench::Detail("MISMATCH: ResampleCubic and InterpCub disagree");
  return 0;
}

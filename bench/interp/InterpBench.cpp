// Interpolate.InterpCub of 32,767 samples at precision 10 (327,661 values)
// against GSL's natural cubic spline evaluated at the same points (row
// interp); a detail line times the typed qm::ResampleCubic, doubles in and
// out, against the same peer.

#include <gsl/gsl_spline.h>

#include <algorithm>
#include <chrono>
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
  std::vector<double> peer;
  qm::bench::Contender interp{"Interpolate.InterpCub", [&] {
                                qm::Interpolate interpolate;
                                ours = interpolate.InterpCub(input, kPrecision);
                              }};
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
  const qm::bench::RowResult row = qm::bench::RunRow("interp", 0.9, interp, {gsl}, 15);
  // The typed layer, timed the same way, reported as a detail of this row.
  std::vector<double> typed;
  std::vector<double> seconds;
  for (int run = 0; run < 15; ++run) {
    const auto start = std::chrono::steady_clock::now();
    typed = qm::ResampleCubic(y, kPrecision);
    seconds.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  std::nth_element(seconds.begin(), seconds.begin() + 7, seconds.end());
  char line[128];
  std::snprintf(line, sizeof line, "typed qm::ResampleCubic: %.1f ms (median of 15), %.2f of GSL's time",
                seconds[7] * 1000, seconds[7] / row.PeerSeconds);
  qm::bench::Detail(line);

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

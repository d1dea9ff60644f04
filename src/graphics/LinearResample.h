#pragma once
// The straight-line resampling shared by qm::ResampleLinear (doubles) and
// Interpolate::InterpLin (Variants, whose arithmetic keeps Currency and
// Decimal samples in their own type): one loop for both.

#include <cstddef>

namespace qm::resample {

/// Calls `emit` with (n - 1) * precision + 1 values: for each interval the
/// left sample and precision - 1 points towards the right one, in the order
/// left * w + right * (1 - w); then the last sample as it is.
template <class Value, class At, class Emit>
void Linear(std::size_t n, int precision, At at, Emit emit) {
  for (std::size_t i = 0; i + 1 < n; ++i) {
    for (int j = 0; j <= precision - 1; ++j) {
      const double w = static_cast<double>(precision - j) / static_cast<double>(precision);
      Value left = at(i) * Value(w);  // left operand first, as the expression reads
      emit(left + at(i + 1) * Value(1 - w));
    }
  }
  emit(at(n - 1));
}

}  // namespace qm::resample

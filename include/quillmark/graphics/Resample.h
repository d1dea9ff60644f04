#pragma once

/// @file
/// Resampling a row of numbers, over standard types.
///
///     std::vector<double> smooth = qm::ResampleCubic(samples, 10);
///
/// The functions hand the samples to qm::Interpolate and return what it
/// computes, value for value; they raise the same errors (9 for a negative
/// precision with two or more samples, 6 beyond 32767 samples or 16,777,216
/// values out).

#include <cstdint>
#include <span>
#include <vector>

#include "quillmark/Export.h"

namespace qm {

/// Natural cubic spline through the samples (unit spacing), evaluated at
/// `precision` equally spaced points per interval after the first sample:
/// (n - 1) * precision + 1 values. Empty for no samples.
QUILLMARK_EXPORT std::vector<double> ResampleCubic(std::span<const double> samples, std::int16_t precision);

/// The same resampling by straight lines between neighbouring samples.
QUILLMARK_EXPORT std::vector<double> ResampleLinear(std::span<const double> samples, std::int16_t precision);

}  // namespace qm

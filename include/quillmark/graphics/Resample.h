#pragma once

/// @file
/// Resampling a row of numbers, over standard types.
///
///     std::vector<double> smooth = qm::ResampleCubic(samples, 10);
///
/// These functions are the resampling itself: qm::Interpolate hands its
/// Variant arrays to them, after checking its own limits (32767 samples,
/// 16,777,216 values out). Here any number of samples may be given; the
/// output is limited to kMaxResampledValues values (6, Overflow, beyond). A
/// negative precision with two or more samples raises 9 (Subscript out of
/// range), as no output can have a negative length.

#include <cstddef>
#include <span>
#include <vector>

#include "quillmark/Export.h"

namespace qm {

/// The most values a resampling returns: 2^28 (2 GiB of doubles).
inline constexpr std::size_t kMaxResampledValues = std::size_t{1} << 28;

/// Natural cubic spline through the samples (unit spacing), evaluated at
/// `precision` equally spaced points per interval after the first sample:
/// (n - 1) * precision + 1 values. Empty for no samples.
QUILLMARK_EXPORT std::vector<double> ResampleCubic(std::span<const double> samples, int precision);

/// The same resampling by straight lines between neighbouring samples: each
/// interval gives its left sample and precision - 1 points towards the right
/// one; the last sample closes the row.
QUILLMARK_EXPORT std::vector<double> ResampleLinear(std::span<const double> samples, int precision);

}  // namespace qm

#pragma once
// Interpolate: resampling of a row of samples by natural cubic spline or by
// straight lines.
//
// Both functions keep the input's lower bound lb and return the bounds
// lb to lb + (n - 1) * Precision: every one of the n - 1 intervals between
// neighbouring samples yields exactly Precision values, and the first sample
// (InterpCub) or the last one (InterpLin) completes the array.
//
// Sample counts are limited to 32767, as the indices of the system are 16-bit;
// output indices are computed with 32-bit integers, so a resampled array may
// pass 32767 elements (up to 16,777,216 values). Inputs beyond these limits
// raise 6 (Overflow) with a description saying which limit was passed.

#include <cstdint>

#include "quillmark/Export.h"
#include "quillmark/values/Object.h"
#include "quillmark/values/Variant.h"

namespace qm {

/// Resampling of a row of samples by natural cubic spline or by straight
/// lines; see the file's notes for the bounds of the result.
class QUILLMARK_EXPORT Interpolate : public Object {
 public:
  /// Defined in the library, which therefore holds the class's vtable and
  /// type information for every program.
  ~Interpolate() override;

  /// Natural cubic spline through the samples of InArray (unit spacing),
  /// evaluated at Precision equally spaced points per interval. Returns an
  /// array of Doubles, or Empty when InArray has no elements. 9999 "InArray
  /// must be an array" when it is none; 13 for a sample that is no number;
  /// 9 for a negative Precision with two or more samples.
  Variant InterpCub(Variant& InArray, std::int16_t Precision);

  /// The same resampling by straight lines: each interval gives its left
  /// sample and Precision - 1 points towards the right one, in Variant
  /// arithmetic; the last sample, unconverted, closes the array. Empty for
  /// an array without elements.
  Variant InterpLin(Variant& InArray, std::int16_t Precision);

  std::string ClassName() const override { return "Interpolate"; }
};

}  // namespace qm

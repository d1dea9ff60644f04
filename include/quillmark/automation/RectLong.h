#pragma once
// RectLong: a rectangle of four 32-bit fields, the result of
// Mouse.GetWindowExtent. As filled there it holds a window's outer rectangle
// in screen pixels, Right and Bottom one past the last pixel.

#include <cstdint>

#include "quillmark/Export.h"
#include "quillmark/values/DispatchTable.h"

namespace qm {

/// A rectangle of four 32-bit fields, as Mouse.GetWindowExtent fills it: a
/// window's outer rectangle in screen pixels. Late-bound under the same names.
class QUILLMARK_EXPORT RectLong : public DispatchTable<RectLong> {
 public:
  std::int32_t Left = 0;    ///< The left edge, in screen pixels.
  std::int32_t Top = 0;     ///< The top edge, in screen pixels.
  std::int32_t Right = 0;   ///< One past the last column, in screen pixels.
  std::int32_t Bottom = 0;  ///< One past the last row, in screen pixels.

  /// Lists the late-bound members (DispatchTable).
  static void Describe(Members& m);
};

}  // namespace qm

#pragma once
// RectLong: a rectangle of four 32-bit fields, the result of
// Mouse.GetWindowExtent. As filled there it holds a window's outer rectangle
// in screen pixels, Right and Bottom one past the last pixel.

#include <cstdint>

#include "quillmark/Export.h"
#include "quillmark/values/DispatchTable.h"

namespace qm {

class QUILLMARK_EXPORT RectLong : public DispatchTable<RectLong> {
 public:
  std::int32_t Left = 0;
  std::int32_t Top = 0;
  std::int32_t Right = 0;
  std::int32_t Bottom = 0;

  static void Describe(Members& m);
};

}  // namespace qm

#pragma once
// The run-time's alignment constants, taken by HTMLDoc.TagAlign, by the
// Typographer's paragraphs and cells and by the drawing helpers' text.

#include <cstdint>

namespace qm {

/// Horizontal alignment of text: left, right or centred.
enum AlignmentConstants : std::int32_t {
  vbLeftJustify = 0,
  vbRightJustify = 1,
  vbCenter = 2,
};

}  // namespace qm

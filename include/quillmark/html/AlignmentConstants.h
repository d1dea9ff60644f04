#pragma once
// The run-time's alignment constants, taken by HTMLDoc.TagAlign and by the
// Typographer's paragraphs and cells.

#include <cstdint>

namespace qm {

enum AlignmentConstants : std::int32_t {
  vbLeftJustify = 0,
  vbRightJustify = 1,
  vbCenter = 2,
};

}  // namespace qm

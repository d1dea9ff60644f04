#pragma once
// Text read as a date the way CDate reads a string: a date in the current
// locale's form, or a serial number; 13 otherwise. For readers holding text
// that need not make a Variant of it first.

#include <string_view>

#include "quillmark/values/Variant.h"

namespace qm::detail {

Date DateFromText(std::string_view text);

}  // namespace qm::detail

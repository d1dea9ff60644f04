#pragma once
// How a subsystem adds the texts of its own result codes to the number table
// without the table knowing the subsystem: it places one constant array of
// ErrorRow rows, ascending by number, in the linker section qm_error_texts:
//
//   [[gnu::section("qm_error_texts"), gnu::used]] alignas(ErrorRow) constexpr ErrorRow kTexts[] = {...};
//
// (alignas keeps the compiler from aligning the array more strictly than a
// row, which would leave gaps between the arrays of the section)
//
// The linker gathers every such array of the library into that section and
// marks its bounds; ErrorTable() reads them and merges the rows into its own.
// The rows are in place before any code runs, so no initialisation order and
// no registration state are involved.

#include <span>

#include "quillmark/errors/ErrorNumbers.h"

namespace qm::errors {

/// The rows placed in the section qm_error_texts (empty when none are linked in).
std::span<const ErrorRow> RegisteredErrorTexts();

}  // namespace qm::errors

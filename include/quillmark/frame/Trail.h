#pragma once

/// @file
/// An error's trail as a list of pieces.
///
///     catch (const qm::Error& e) {
///       for (const std::string& piece : qm::Trail(e)) std::cerr << "  at " << piece << '\n';
///     }

#include <string>
#include <string_view>
#include <vector>

#include "quillmark/Export.h"
#include "quillmark/errors/Error.h"

namespace qm {

/// The pieces of a "|"-separated source: where the error arose, then one
/// call-frame element per procedure it passed through, innermost first. An
/// empty source gives no pieces; empty pieces between separators are kept.
QUILLMARK_EXPORT std::vector<std::string> Trail(std::string_view source);

/// The pieces of the error's source.
QUILLMARK_EXPORT std::vector<std::string> Trail(const Error& error);

}  // namespace qm

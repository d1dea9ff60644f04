#pragma once
// What `quillmark --version` prints. The launcher prints it without loading
// any library; the `version` command prints the same text.

#include <string_view>

#include "quillmark/Version.h"

namespace qm::cli {

inline constexpr std::string_view kToolVersionText =
    "quillmark " QUILLMARK_VERSION_STRING
    "\n"
    "The command-line tool of the Quillmark Library " QUILLMARK_VERSION_STRING ": its main jobs from a shell.\n";

}  // namespace qm::cli

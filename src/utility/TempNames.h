#pragma once
// Names in the temporary folder: "<TEMP>/~tmpN<suffix>", N counting from 1.

#include <cstdint>
#include <string>

namespace qm::utility {

/// The candidate name with number `n`.
std::string TempCandidate(const std::string& folder, std::uint64_t n, const std::string& suffix);

/// Creates an empty file under the first free candidate name and returns the
/// name. The file is created with O_EXCL, so the name is taken atomically:
/// no other object or process can receive it. 75 when the folder cannot be
/// written (76 when it is missing).
std::string CreateTempFile(const std::string& suffix);

}  // namespace qm::utility

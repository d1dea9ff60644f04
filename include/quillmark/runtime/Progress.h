#pragma once

/// @file
/// How the long jobs of the typed layer (zip archives, the compressed file
/// container, MHT archives) tell a caller how far they got.

#include <functional>

namespace qm {

/// Called with the fraction of the job done, from 0 to 1, never falling, as
/// often as a progress bar needs (not for every byte). It runs on the
/// caller's thread, inside the job: it should return quickly. An empty
/// function is never called.
using Progress = std::function<void(double fraction)>;

}  // namespace qm

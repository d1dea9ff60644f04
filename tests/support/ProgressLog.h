#pragma once
// Records what a long job tells its progress callback.

#include <cstdint>
#include <utility>
#include <vector>

#include "quillmark/runtime/Progress.h"

namespace qm::test {

struct ProgressLog {
  std::vector<std::pair<std::uint64_t, std::uint64_t>> Calls;  // done, total

  qm::Progress Callback() {
    return [this](std::uint64_t done, std::uint64_t total) { Calls.emplace_back(done, total); };
  }
  /// True when done never went back and the total never changed.
  bool Steady() const {
    for (std::size_t i = 1; i < Calls.size(); ++i)
      if (Calls[i].first < Calls[i - 1].first || Calls[i].second != Calls[0].second) return false;
    return true;
  }
};

}  // namespace qm::test

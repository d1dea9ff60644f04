#include "runtime/ProgressRelay.h"

#include "quillmark/errors/Error.h"
#include "quillmark/errors/ErrorNumbers.h"

namespace qm::runtime {

void ProgressRelay::Stop() { Raise(ERR_General, errc::cancelled, "The job was stopped by its progress callback"); }

Progress ProgressRelay::Callback() {
  if (!caller_) return {};
  return [this](std::uint64_t done, std::uint64_t total) {
    if (thrown_) Stop();
    try {
      caller_(done, total);
    } catch (...) {
      thrown_ = std::current_exception();
      Stop();
    }
  };
}

}  // namespace qm::runtime

#include "frame/ProgressRelay.h"

#include "quillmark/frame/Error.h"
#include "quillmark/frame/ErrorNumbers.h"

namespace qm::frame {

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

}  // namespace qm::frame

#pragma once
// One policy for a caller's progress callback in the typed layer: an exception
// it throws stops the job (the job sees a cancelled error and abandons the file
// it was writing) and then leaves the typed call as the very object the
// callback threw, not converted and without a trail.
//
//     runtime::ProgressRelay relay(progress);
//     try {
//       Job(..., relay.Callback());
//     } catch (...) {
//       relay.RethrowCallerException();
//       throw;
//     }
//     relay.RethrowCallerException();  // a job that swallowed the stop

#include <exception>

#include "quillmark/runtime/Progress.h"

namespace qm::runtime {

class ProgressRelay {
 public:
  explicit ProgressRelay(const Progress& caller) : caller_(caller) {}
  ProgressRelay(const ProgressRelay&) = delete;
  ProgressRelay& operator=(const ProgressRelay&) = delete;

  // The callback to give the job (empty when the caller gave none). Once the
  // caller's callback has thrown, every further call throws the stop again.
  Progress Callback();

  // Rethrows what the caller's callback threw, if it threw.
  void RethrowCallerException() const {
    if (thrown_) std::rethrow_exception(thrown_);
  }

 private:
  [[noreturn]] static void Stop();

  const Progress& caller_;
  std::exception_ptr thrown_;
};

}  // namespace qm::runtime

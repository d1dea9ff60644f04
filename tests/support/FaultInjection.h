#pragma once
// Fails the Nth system call the library makes through io::sys (counting
// every call, or only one kind) with an errno or a short count, while the
// object lives. For whitebox tests, which link the core's objects.

#include <atomic>
#include <optional>

#include "io/System.h"

namespace qm::test {

class FailNthCall : public io::sys::Faults {
 public:
  // `answer`: an errno, or Faults::kShort. `only`: count this kind of call alone.
  FailNthCall(long nth, int answer, std::optional<io::sys::Call> only = std::nullopt)
      : nth_(nth), answer_(answer), only_(only) {
    io::sys::SetFaults(this);
  }
  ~FailNthCall() override { io::sys::SetFaults(nullptr); }
  FailNthCall(const FailNthCall&) = delete;
  FailNthCall& operator=(const FailNthCall&) = delete;

  int Before(io::sys::Call call) noexcept override {
    if (only_ && call != *only_) return 0;
    return seen_.fetch_add(1, std::memory_order_relaxed) + 1 == nth_ ? answer_ : 0;
  }
  /// True once the Nth call was reached (the fault was given).
  bool Fired() const { return seen_.load() >= nth_; }
  long Seen() const { return seen_.load(); }

 private:
  std::atomic<long> seen_{0};
  long nth_;
  int answer_;
  std::optional<io::sys::Call> only_;
};

}  // namespace qm::test

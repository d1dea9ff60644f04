#pragma once
// Fails the Nth system call the library makes through io::sys (counting
// every call, or only one kind) with an errno or a short count, while the
// object lives; `onwards` fails every such call from the Nth on (a disk that
// stays full). For whitebox tests, which link the core's objects.

#include <atomic>
#include <optional>

#include "io/System.h"

namespace qm::test {

class FailNthCall : public io::sys::Faults {
 public:
  // `answer`: an errno, or Faults::kShort. `only`: count this kind of call alone.
  FailNthCall(long nth, int answer, std::optional<io::sys::Call> only = std::nullopt, bool onwards = false)
      : nth_(nth), answer_(answer), only_(only), onwards_(onwards) {
    io::sys::SetFaults(this);
  }
  ~FailNthCall() override { io::sys::SetFaults(nullptr); }
  FailNthCall(const FailNthCall&) = delete;
  FailNthCall& operator=(const FailNthCall&) = delete;

  int Before(io::sys::Call call) noexcept override {
    if (only_ && call != *only_) return 0;
    const long seen = seen_.fetch_add(1, std::memory_order_relaxed) + 1;
    if (seen != nth_ && !(onwards_ && seen > nth_)) return 0;
    return answer_;
  }
  /// True once the Nth call was reached (the fault was given).
  bool Fired() const { return seen_.load() >= nth_; }
  long Seen() const { return seen_.load(); }

 private:
  std::atomic<long> seen_{0};
  long nth_;
  int answer_;
  std::optional<io::sys::Call> only_;
  bool onwards_;
};

}  // namespace qm::test

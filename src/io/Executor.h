#pragma once
// The library's one pool of helper threads, shared by everything in the
// process that works in the background (read-ahead, write-behind, the
// compression I/O, the deflate and JPEG workers, the packing of kept lines).
//
// - As many threads as the processors this process may use (its affinity
//   mask and its own cgroup's CPU quota, CpuQuota.h), at most 8, made only when work waits
//   and none is idle; a thread idle for a while leaves.
// - Threads are made with every signal blocked, so that the application's
//   signals always reach its own threads.
// - When no thread can be had (a thread limit, no memory, a limit of 0 set
//   for tests), Post answers false and the caller does the work itself: the
//   library works without any helper thread.
// - After fork the child starts with no helper and no queued work; the
//   generation changes, so that objects made before the fork can tell.
// - The pool is never destroyed: threads still running at exit, and static
//   destructors, meet a valid pool.
//
// No object owns a thread; objects hand work over through a Lane (Lane.h)
// or, for work split over several threads, through a TaskGroup
// (TaskGroup.h).

#include <atomic>
#include <cstdint>
#include <functional>

namespace qm::io {

namespace detail {
// The count behind Executor::Generation, raised by the fork handler.
extern std::atomic<std::uint64_t> forkGeneration;
}  // namespace detail

class Executor {
 public:
  using Task = std::function<void()>;

  /// Queues `task` for a helper thread. False when it could not be queued
  /// (no thread to be had, or no memory): the task is then dropped unrun and
  /// the caller does the work itself. A task must not throw; one that does
  /// is stopped there (the exception is dropped), the thread lives on.
  static bool Post(Task task) noexcept;

  /// The most threads the pool runs at once in this process now.
  static unsigned Capacity() noexcept;
  /// The threads alive now (busy or idle).
  static unsigned LiveThreads() noexcept;
  /// Changes every time a child process starts after fork (a load, inline:
  /// objects ask it at every use).
  static std::uint64_t Generation() noexcept { return detail::forkGeneration.load(std::memory_order_acquire); }

  /// For tests: the most threads from now on (0: none, all work runs on the
  /// callers' threads); ResetLimit goes back to the processors' count.
  /// Threads above a lowered limit leave when their task is done.
  static void SetLimit(unsigned threads) noexcept;
  static void ResetLimit() noexcept;
  /// For tests: every thread creation from now on fails as it does at a
  /// thread limit (EAGAIN), or succeeds again.
  static void FailThreadCreation(bool fail) noexcept;

  /// The processors this process may use: its affinity mask, bounded by its
  /// own cgroup's CPU quota (v1 or v2, the smallest up the tree); at least 1.
  static unsigned UsableProcessors() noexcept;
};

}  // namespace qm::io

#pragma once
// Work split over several threads: the caller and up to N helper tasks on
// the executor take pieces of one job until none is left. The pieces and
// the way they are taken are the job's own (a counter, a queue, files
// planned in order); the group posts the helpers, keeps the first failure
// and waits for the helpers at work.
//
// - The caller works too: it takes pieces itself, so the job ends even when
//   no helper ever starts (no thread to be had, a posting without memory,
//   every pool thread busy elsewhere).
// - Wait closes the group: a helper still queued then returns at once when
//   it runs, touching nothing but the group's shared block. Wait waits only
//   for the helpers that had begun, never for queued ones.
// - A helper's turn may use the caller's frame: it starts only while the
//   group is open and Wait (or the destructor) waits for it to end.
// - The first failure (thrown by a turn or given to Fail) is kept and raised
//   once, by Wait, on the caller's thread. Failed() tells the pieces to stop
//   taking work.
// - In a child process after fork, a group made before the fork has no
//   helper: Post posts nothing, Wait and the destructor wait for nothing
//   (the parent's helpers do not exist there; io/AfterFork.h).

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>

namespace qm::io {

class TaskGroup {
 public:
  /// One helper's share: takes pieces until none is left or Failed().
  using Turn = std::function<void()>;

  TaskGroup() noexcept;
  /// Waits as Wait does, without raising.
  ~TaskGroup();
  TaskGroup(const TaskGroup&) = delete;
  TaskGroup& operator=(const TaskGroup&) = delete;

  /// Posts up to `helpers` tasks that each run `turn` once; the number
  /// posted, fewer (or none) when the executor refuses or there is no
  /// memory. Call it once per group.
  unsigned Post(unsigned helpers, Turn turn) noexcept;
  /// Keeps `failure` when none is kept yet; Failed() is true from then on.
  void Fail(std::exception_ptr failure) noexcept;
  /// True once a failure is kept: pieces stop taking work.
  bool Failed() const noexcept { return failState_.load(std::memory_order_acquire) != 0; }
  /// Closes the group, waits for the helpers that had begun their turn and
  /// raises the kept failure (once).
  void Wait();

 private:
  struct State;
  static void Help(const std::shared_ptr<State>& state) noexcept;
  bool Inherited() const noexcept;

  std::shared_ptr<State> state_;  // made by Post
  std::uint64_t generation_;      // the executor's, at construction
  Turn turn_;
  std::atomic<int> failState_{0};  // 0 none, 1 being kept, 2 kept
  std::exception_ptr failure_;
};

}  // namespace qm::io

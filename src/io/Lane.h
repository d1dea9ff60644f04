#pragma once
// The one shape in which an object hands work to the executor: a lane of
// tasks run in order, one at a time, on the executor's threads.
//
// - The queue is bounded: Post waits while `capacity` tasks wait already.
// - A task that throws ends the lane's work: the exception is kept, the
//   tasks after it are dropped, and every later Post, Check and Drain raises
//   it again, so that a failed write is raised at the next call and again at
//   Close.
// - Without a thread to be had, Post runs the task on the caller's thread,
//   with the same failure rule.
// - A caller that waits (Drain, a full Post, the destructor) runs the queued
//   tasks itself when no thread has begun them, so it never waits for a pool
//   thread that is busy elsewhere.
// - The destructor drops the tasks not yet begun and waits for the running
//   one, so the tasks may use the owner's members until then.
// - In a child process after fork, a lane made before the fork neither runs
//   nor waits for anything: Inherited() tells, Post/Drain/Check raise, and
//   the destructor lets its state go without touching it (a parent's thread
//   may have held its lock at the instant of the fork).

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

namespace qm::io {

class Lane {
 public:
  using Task = std::function<void()>;

  explicit Lane(std::size_t capacity = 2);
  ~Lane();
  Lane(const Lane&) = delete;
  Lane& operator=(const Lane&) = delete;

  /// Queues `task` after the ones before it (runs it here when no thread can
  /// be had). Raises the kept failure instead, and bad_alloc when there is no
  /// memory to queue it.
  void Post(Task task);
  /// Waits until every task posted has run; raises the kept failure.
  void Drain();
  /// Raises the kept failure, if any, without waiting.
  void Check();
  /// True when a task has failed.
  bool Failed() const noexcept;
  /// True in a child process when the lane was made before the fork.
  bool Inherited() const noexcept;

 private:
  struct State;
  static void Run(State& state);
  State& Own() const;

  std::shared_ptr<State> state_;
  std::uint64_t generation_;
};

/// Raised for an object made before fork and used in the child.
[[noreturn]] void RaiseInherited();

}  // namespace qm::io

#include "io/Lane.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <new>

#include "io/Executor.h"
#include "quillmark/frame/Error.h"
#include "quillmark/frame/ErrorNumbers.h"

namespace qm::io {

struct Lane::State {
  std::mutex Lock;
  std::condition_variable Changed;
  std::deque<Task> Queue;
  std::size_t Capacity = 2;
  bool Scheduled = false;  // a run of the lane is queued on the executor or running
  std::exception_ptr Failure;
};

void RaiseInherited() {
  Raise(ERR_PathFileAccess,
        "Path/File access error: the object was opened before this process was forked; only the process that "
        "opened it may finish it");
}

Lane::Lane(std::size_t capacity) : state_(std::make_unique<State>()), generation_(Executor::Generation()) {
  state_->Capacity = std::max<std::size_t>(capacity, 1);
}

Lane::~Lane() {
  if (Inherited()) {
    // The parent's work: never waited for. When no thread held the lock at
    // the fork the state is whole and goes; the condition is made anew
    // first, since destroying one that the parent's threads waited on would
    // wait for them. Otherwise it is left as it is.
    State& s = *state_;
    if (!s.Lock.try_lock()) {
      (void)state_.release();
      return;
    }
    s.Lock.unlock();
    ::new (&s.Changed) std::condition_variable();
    return;
  }
  State& s = *state_;
  std::unique_lock lock(s.Lock);
  s.Queue.clear();
  s.Changed.wait(lock, [&] { return !s.Scheduled; });
}

Lane::State& Lane::Own() const {
  if (Inherited()) RaiseInherited();
  return *state_;
}

bool Lane::Inherited() const noexcept { return generation_ != Executor::Generation(); }

void Lane::Post(Task task) {
  State& s = Own();
  std::unique_lock lock(s.Lock);
  s.Changed.wait(lock, [&] { return s.Queue.size() < s.Capacity || s.Failure; });
  if (s.Failure) std::rethrow_exception(s.Failure);
  s.Queue.push_back(std::move(task));
  if (s.Scheduled) return;
  s.Scheduled = true;
  lock.unlock();
  if (Executor::Post([this] { Run(); })) return;
  // No thread to be had: the caller runs what waits, and meets its failure.
  Run();
  Check();
}

void Lane::Run() {
  State& s = *state_;
  std::unique_lock lock(s.Lock);
  while (!s.Queue.empty() && !s.Failure) {
    Task task = std::move(s.Queue.front());
    s.Queue.pop_front();
    s.Changed.notify_all();  // room for the next Post
    lock.unlock();
    std::exception_ptr failure;
    try {
      task();
    } catch (...) {
      failure = std::current_exception();
    }
    task = nullptr;
    lock.lock();
    if (failure) s.Failure = failure;
  }
  s.Queue.clear();  // after a failure nothing more runs
  s.Scheduled = false;
  s.Changed.notify_all();
}

void Lane::Drain() {
  State& s = Own();
  std::unique_lock lock(s.Lock);
  s.Changed.wait(lock, [&] { return !s.Scheduled; });
  if (s.Failure) std::rethrow_exception(s.Failure);
}

void Lane::Check() {
  State& s = Own();
  std::lock_guard lock(s.Lock);
  if (s.Failure) std::rethrow_exception(s.Failure);
}

bool Lane::Failed() const noexcept {
  if (Inherited()) return true;
  std::lock_guard lock(state_->Lock);
  return static_cast<bool>(state_->Failure);
}

}  // namespace qm::io

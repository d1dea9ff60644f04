#include "io/Lane.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <new>

#include "io/Executor.h"
#include "quillmark/errors/Error.h"
#include "quillmark/errors/ErrorNumbers.h"

namespace qm::io {

// The lane's state is shared with the runs posted to the executor, so that a
// run that starts after the lane has gone (or after a waiter ran the work
// itself) finds it whole and returns at once.
struct Lane::State {
  std::mutex Lock;
  std::condition_variable Changed;
  std::deque<Task> Queue;
  std::size_t Capacity = 2;
  bool Scheduled = false;  // work waits for a run: one is posted, or running
  bool Running = false;    // a thread is running the lane's tasks
  std::exception_ptr Failure;

  // Runs the queued tasks in order, on the calling thread; the lock is held
  // on entry and on return, Running set on entry.
  void RunQueued(std::unique_lock<std::mutex>& lock) {
    while (!Queue.empty() && !Failure) {
      Task task = std::move(Queue.front());
      Queue.pop_front();
      Changed.notify_all();  // room for the next Post
      lock.unlock();
      std::exception_ptr failure;
      try {
        task();
      } catch (...) {
        failure = std::current_exception();
      }
      task = nullptr;
      lock.lock();
      if (failure) Failure = failure;
    }
    std::deque<Task> dropped;  // after a failure nothing more runs
    dropped.swap(Queue);
    Running = false;
    Scheduled = false;
    Changed.notify_all();
    lock.unlock();
    dropped.clear();
    lock.lock();
  }

  // Waits until no run is pending; a run no thread has begun yet is run here
  // and now, so that a waiter never waits for a pool thread that is busy
  // (perhaps with work that waits for this very thread).
  void Settle(std::unique_lock<std::mutex>& lock) {
    while (Scheduled) {
      if (!Running) {
        Running = true;
        RunQueued(lock);
      } else {
        Changed.wait(lock);
      }
    }
  }
};

void RaiseInherited() {
  Raise(ERR_PathFileAccess,
        "Path/File access error: the object was opened before this process was forked; only the process that "
        "opened it may finish it: open the file again in the child");
}

Lane::Lane(std::size_t capacity) : state_(std::make_shared<State>()), generation_(Executor::Generation()) {
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
      (void)std::make_unique<std::shared_ptr<State>>(std::move(state_)).release();
      return;
    }
    s.Lock.unlock();
    ::new (&s.Changed) std::condition_variable();
    return;
  }
  // Tasks not begun are dropped; a running one is waited for (it may use the
  // owner's members). A run posted and not begun finds nothing to do.
  State& s = *state_;
  std::deque<Task> dropped;
  std::unique_lock lock(s.Lock);
  dropped.swap(s.Queue);
  while (s.Running) s.Changed.wait(lock);
  s.Scheduled = false;
  lock.unlock();
}

Lane::State& Lane::Own() const {
  if (Inherited()) RaiseInherited();
  return *state_;
}

bool Lane::Inherited() const noexcept { return generation_ != Executor::Generation(); }

void Lane::Post(Task task) {
  State& s = Own();
  std::unique_lock lock(s.Lock);
  while (s.Queue.size() >= s.Capacity && !s.Failure) {
    if (s.Scheduled && !s.Running) {
      s.Running = true;
      s.RunQueued(lock);
    } else {
      s.Changed.wait(lock);
    }
  }
  if (s.Failure) std::rethrow_exception(s.Failure);
  s.Queue.push_back(std::move(task));
  if (s.Scheduled) return;
  s.Scheduled = true;
  lock.unlock();
  if (Executor::Post([state = state_] { Run(*state); })) return;
  // No thread to be had: the caller runs what waits, and meets its failure.
  lock.lock();
  s.Settle(lock);
  if (s.Failure) std::rethrow_exception(s.Failure);
}

void Lane::Run(State& s) {
  std::unique_lock lock(s.Lock);
  if (!s.Scheduled || s.Running) return;  // run by a waiter already, or the lane is gone
  s.Running = true;
  s.RunQueued(lock);
}

void Lane::Drain() {
  State& s = Own();
  std::unique_lock lock(s.Lock);
  s.Settle(lock);
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

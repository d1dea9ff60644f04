#include "io/TaskGroup.h"

#include <condition_variable>
#include <mutex>
#include <new>
#include <utility>

#include "io/AfterFork.h"
#include "io/Executor.h"

namespace qm::io {

// What the posted tasks share with the group. A task holds it, not the
// group, so that one run after the group has gone finds it whole: Closed
// then tells it to return at once. Owner is used only by a task counted in
// Active, which the group waits for before it goes.
struct TaskGroup::State {
  std::mutex Lock;
  std::condition_variable Changed;
  TaskGroup* Owner = nullptr;
  std::uint64_t Generation = 0;
  unsigned Active = 0;  // turns begun and not ended
  bool Closed = false;  // no turn may begin any more
};

TaskGroup::TaskGroup() noexcept : generation_(Executor::Generation()) {}

TaskGroup::~TaskGroup() {
  if (Inherited()) {
    LetGoInChild(state_);  // the parent's helpers: never waited for
    return;
  }
  try {
    Wait();
  } catch (...) {
    // The failure was the caller's to raise through Wait.
  }
}

bool TaskGroup::Inherited() const noexcept { return generation_ != Executor::Generation(); }

unsigned TaskGroup::Post(unsigned helpers, Turn turn) noexcept {
  if (state_ || helpers == 0 || Inherited()) return 0;
  try {
    state_ = std::make_shared<State>();
  } catch (const std::bad_alloc&) {
    return 0;
  }
  state_->Owner = this;
  state_->Generation = generation_;
  turn_ = std::move(turn);
  unsigned posted = 0;
  for (; posted < helpers; ++posted) {
    bool queued = false;
    try {
      queued = Executor::Post([state = state_] { Help(state); });
    } catch (const std::bad_alloc&) {
      // The task could not be made: as if no thread could be had.
    }
    if (!queued) break;
  }
  return posted;
}

void TaskGroup::Help(const std::shared_ptr<State>& state) noexcept {
  // A parent's group in a child: its lock may be held by a thread not here.
  if (state->Generation != Executor::Generation()) return;
  TaskGroup* owner = nullptr;
  {
    std::lock_guard lock(state->Lock);
    if (state->Closed || state->Owner->Failed()) return;
    owner = state->Owner;
    ++state->Active;
  }
  try {
    owner->turn_();
  } catch (...) {
    owner->Fail(std::current_exception());
  }
  std::lock_guard lock(state->Lock);
  if (--state->Active == 0) state->Changed.notify_all();
}

void TaskGroup::Fail(std::exception_ptr failure) noexcept {
  int none = 0;
  if (!failState_.compare_exchange_strong(none, 1, std::memory_order_acq_rel)) return;
  failure_ = std::move(failure);
  failState_.store(2, std::memory_order_release);
}

void TaskGroup::Wait() {
  if (state_ && !Inherited()) {
    std::unique_lock lock(state_->Lock);
    state_->Closed = true;
    state_->Changed.wait(lock, [&] { return state_->Active == 0; });
  }
  turn_ = nullptr;  // what the turn holds of the caller's goes now
  // A failure still being kept belongs to a parent's helper (in a child).
  if (failState_.load(std::memory_order_acquire) == 2 && failure_) std::rethrow_exception(std::exchange(failure_, {}));
}

}  // namespace qm::io

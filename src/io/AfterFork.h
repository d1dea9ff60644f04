#pragma once
// What an object made before fork does with the state it shares with the
// parent's helper threads, when it goes in the child: it lets the state go
// without waiting for anything, since those threads do not exist here.
//
// The state needs a std::mutex `Lock` and a std::condition_variable
// `Changed`. When a parent's thread held the lock at the instant of the fork
// the state is left as it is (it may be half changed). Otherwise it is
// released; its condition is made anew first, as destroying one that the
// parent's threads waited on would wait for them. A helper of the parent's
// that still held the state keeps it alive: the child never frees it then.

#include <condition_variable>
#include <memory>
#include <new>
#include <utility>

namespace qm::io {

template <class State>
void LetGoInChild(std::shared_ptr<State>& state) noexcept {
  if (!state) return;
  if (!state->Lock.try_lock()) {
    // The reference is moved where no destructor ever runs: it is never
    // given back, so the state is never destroyed (and nothing is allocated).
    alignas(std::shared_ptr<State>) unsigned char kept[sizeof(std::shared_ptr<State>)];
    ::new (kept) std::shared_ptr<State>(std::move(state));
    return;
  }
  state->Lock.unlock();
  ::new (&state->Changed) std::condition_variable();
  state.reset();
}

}  // namespace qm::io

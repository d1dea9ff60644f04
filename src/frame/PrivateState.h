#pragma once
// The private state of a published class that keeps it behind
// `std::unique_ptr<Impl> impl_`. A moved-from object has no state and reads
// as a new one; it gets a state of its own when it is written to. Copies are
// deep, so two objects never share a state.

#include <memory>

namespace qm::frame {

/// The state to write to, made on first use.
template <class Impl>
Impl& WritableState(std::unique_ptr<Impl>& impl) {
  if (!impl) impl = std::make_unique<Impl>();
  return *impl;
}

/// The state to read: a new object's when there is none.
template <class Impl>
const Impl& ReadableState(const std::unique_ptr<Impl>& impl) {
  static const Impl none;
  return impl ? *impl : none;
}

/// A copy of the state that an object of its own can keep.
template <class Impl>
std::unique_ptr<Impl> CopiedState(const std::unique_ptr<Impl>& impl) {
  return std::make_unique<Impl>(ReadableState(impl));
}

}  // namespace qm::frame

#pragma once
// QMStream's line-stack helpers that reach the line store, defined inline for
// the QMStream sources that use them: reading a line stays a few loads.

#include "persistence/LineStore.h"
#include "quillmark/persistence/QMStream.h"

namespace qm {

// A stream moved from, or one that has read nothing yet, has no line store.
inline std::int64_t QMStream::StackSize() const {
  return lineStack_ ? static_cast<std::int64_t>(lineStack_->size()) : 0;
}

inline bool QMStream::StackAtEnd() const { return stackPos_ == StackSize(); }

inline std::string_view QMStream::StackCurrent() const {
  if (stackPos_ >= 1 && stackPos_ <= StackSize()) return (*lineStack_)[static_cast<std::size_t>(stackPos_ - 1)];
  return {};
}

inline std::string_view QMStream::StackNext() {
  ++stackPos_;
  return StackCurrent();
}

}  // namespace qm

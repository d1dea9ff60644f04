#pragma once
// QMStream's line-stack helpers that reach the line store, defined inline for
// the QMStream sources that use them: reading a line stays a few loads.

#include "persistence/LineStore.h"
#include "quillmark/persistence/QMStream.h"

namespace qm {

struct QMStream::Impl {
  TextStreamPtr boundStream_;
  std::string lastRead_;                          // the text ReadLine hands out
  std::unique_ptr<detail::LineStore> lineStack_;  // every line read since Use, in file order
  std::int64_t stackPos_ = 0;                     // 1-based position of the line last delivered
  std::int32_t indentWidth_ = 0;
  std::string lineBuffer_;  // the record writers build each line here
};

inline QMStream::Impl& QMStream::Own() {
  if (!impl_) impl_ = std::make_unique<Impl>();
  return *impl_;
}

// A stream moved from, or one that has read nothing yet, has no line store.
inline std::int64_t QMStream::StackSize() const {
  return impl_ && impl_->lineStack_ ? static_cast<std::int64_t>(impl_->lineStack_->size()) : 0;
}

inline bool QMStream::StackAtEnd() const { return (impl_ ? impl_->stackPos_ : 0) == StackSize(); }

inline std::string_view QMStream::StackCurrent() const {
  const std::int64_t at = impl_ ? impl_->stackPos_ : 0;
  if (at >= 1 && at <= StackSize()) return (*impl_->lineStack_)[static_cast<std::size_t>(at - 1)];
  return {};
}

inline std::string_view QMStream::StackNext() {
  ++Own().stackPos_;
  return StackCurrent();
}

inline void QMStream::StackAdvance() { ++Own().stackPos_; }
inline void QMStream::StackRetreat() { --Own().stackPos_; }

}  // namespace qm

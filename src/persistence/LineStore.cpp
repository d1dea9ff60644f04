#include "quillmark/persistence/detail/LineStore.h"

#include <cstring>

namespace qm::detail {

// A line that does not continue the last run: it starts a run of its own in
// its block, or is copied when it lies in no block the store can keep.
std::string_view LineStore::AppendElsewhere(std::string_view line, const Block& block) {
  const auto at = reinterpret_cast<std::uintptr_t>(line.data());
  if (!block || at < reinterpret_cast<std::uintptr_t>(block->Data()) ||
      at + line.size() > reinterpret_cast<std::uintptr_t>(block->Data()) + block->Size())
    return Copy(line);
  StartRun(block, line);
  return line;
}

// Copies are laid one after the other into shared blocks, so that they form
// runs too; a line longer than a copy block gets one of its own size.
std::string_view LineStore::Copy(std::string_view line) {
  if (!copies_ || copies_->Size() - copiesUsed_ < line.size()) {
    copies_ = std::make_shared<HugeBlock>(std::max(line.size(), kCopyBlock));
    copiesUsed_ = 0;
  }
  char* into = copies_->Data() + copiesUsed_;
  if (!line.empty()) std::memcpy(into, line.data(), line.size());
  copiesUsed_ += line.size();
  const std::string_view copy(into, line.size());
  return Append(copy, copies_);
}

void LineStore::StartRun(Block owner, std::string_view line) {
  if (!runs_.empty()) runs_.back().Length = runEnd_ - runBase_;
  lastBlock_ = owner.get();
  blockEnd_ = reinterpret_cast<std::uintptr_t>(owner->Data()) + owner->Size();
  runBase_ = runEnd_ = reinterpret_cast<std::uintptr_t>(line.data());
  runs_.push_back(Run{std::move(owner), line.data(), count_, 0});
  NewEntry() = 0;
  runEnd_ += line.size();
  ++count_;
}

void LineStore::clear() {
  runs_.clear();
  indexBlocks_.clear();
  count_ = 0;
  lastBlock_ = nullptr;
  runBase_ = runEnd_ = blockEnd_ = 0;
  copies_.reset();
  copiesUsed_ = 0;
}

}  // namespace qm::detail

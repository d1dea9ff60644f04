#include "persistence/LineStore.h"

#include <cstring>

#include "quillmark/frame/Error.h"
#include "quillmark/frame/ErrorNumbers.h"

namespace qm::detail {

std::size_t LineStore::Keep(Block block, std::size_t wholeLength) {
  if (blocks_.size() >= kBlockLimit) Raise(ERR_OutOfMemory);
  const char* base = block->Data();
  blocks_.push_back(Kept{std::move(block), base, wholeLength});
  return blocks_.size() - 1;
}

// A line from a block not seen before: the block is kept and becomes the one
// the fast path places lines in.
std::uint64_t LineStore::Place(std::string_view line, const Block& block) {
  if (!block) return Copy(line);
  const auto at = reinterpret_cast<std::uintptr_t>(line.data());
  const auto base = reinterpret_cast<std::uintptr_t>(block->Data());
  if (at < base || at + line.size() > base + block->Size()) return Copy(line);
  if (block.get() != lastBlock_) {
    lastNumber_ = Keep(block);
    lastBlock_ = block.get();
    lastBase_ = base;
    lastEnd_ = base + block->Size();
  }
  if (at - base >= kOffsetLimit || line.size() >= kWhole) return Copy(line);
  return lastNumber_ << (kOffsetBits + kLengthBits) | (at - base) << kLengthBits | line.size();
}

// Short lines are copied one after the other into shared blocks; a line too
// long for an entry's length gets a block of its own.
std::uint64_t LineStore::Copy(std::string_view line) {
  if (line.size() >= kWhole) {
    auto own = std::make_shared<HugeBlock>(line.size());
    std::memcpy(own->Data(), line.data(), line.size());
    return static_cast<std::uint64_t>(Keep(std::move(own), line.size())) << (kOffsetBits + kLengthBits) | kWhole;
  }
  if (!copies_ || copies_->Size() - copiesUsed_ < line.size()) {
    copies_ = std::make_shared<HugeBlock>(line.size() > kCopyBlock ? line.size() : kCopyBlock);
    copiesNumber_ = Keep(copies_);
    copiesUsed_ = 0;
  }
  if (!line.empty()) std::memcpy(copies_->Data() + copiesUsed_, line.data(), line.size());
  const std::uint64_t entry =
      static_cast<std::uint64_t>(copiesNumber_) << (kOffsetBits + kLengthBits) | copiesUsed_ << kLengthBits | line.size();
  copiesUsed_ += line.size();
  return entry;
}

void LineStore::clear() {
  blocks_.clear();
  indexBlocks_.clear();
  count_ = 0;
  lastBlock_ = nullptr;
  lastBase_ = lastEnd_ = 0;
  lastNumber_ = 0;
  copies_.reset();
  copiesNumber_ = copiesUsed_ = 0;
}

}  // namespace qm::detail

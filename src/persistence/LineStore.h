#pragma once
// Every line a QMStream has read since Use, in file order, each reachable in
// constant time and handed back exactly as it was first read.
//
// The lines stay in the blocks the text stream read them into: the stream
// never writes into a block again once it handed out a line from it
// (TextStream::KeepReadText), so the store holds those blocks and, for each
// line, an 8-byte place: block number, offset in the block and length.
// Storing a line copies nothing, and nothing is read from the file again, so
// a file rewritten or cut short meanwhile changes nothing that is handed back.
// A line from no kept block, or whose place does not fit an entry, is copied.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "runtime/HugeBlock.h"

namespace qm::detail {

class LineStore {
 public:
  using Block = std::shared_ptr<const HugeBlock>;

  /// Appends a line lying whole in `block` by its place, else a copy of it.
  void Append(std::string_view line, const Block& block) {
    std::uint64_t& entry = NewEntry();
    const auto at = reinterpret_cast<std::uintptr_t>(line.data());
    if (block.get() == lastBlock_ && at >= lastBase_ && at + line.size() <= lastEnd_ &&
        at - lastBase_ < kOffsetLimit && line.size() < kWhole) {
      entry = lastNumber_ << (kOffsetBits + kLengthBits) | (at - lastBase_) << kLengthBits | line.size();
    } else {
      entry = Place(line, block);
    }
    ++count_;
  }

  /// The line at `index`; the view stays valid until clear().
  std::string_view operator[](std::size_t index) const {
    const std::uint64_t entry = Slot(index);
    const Kept& kept = blocks_[entry >> (kOffsetBits + kLengthBits)];
    const std::size_t length = entry & kLengthMask;
    if (length == kWhole) return {kept.Base, kept.WholeLength};
    return {kept.Base + ((entry >> kLengthBits) & kOffsetMask), length};
  }
  std::size_t size() const { return count_; }
  /// Forgets every line and lets the blocks go.
  void clear();

 private:
  // An entry: block number (18 bits), offset in the block (24 bits), length
  // (22 bits). The length kWhole stands for a line copied into a block of
  // its own, whose length the block's record holds.
  static constexpr int kLengthBits = 22;
  static constexpr int kOffsetBits = 24;
  static constexpr std::uint64_t kLengthMask = (std::uint64_t{1} << kLengthBits) - 1;
  static constexpr std::uint64_t kOffsetMask = (std::uint64_t{1} << kOffsetBits) - 1;
  static constexpr std::uint64_t kWhole = kLengthMask;
  static constexpr std::uint64_t kOffsetLimit = std::uint64_t{1} << kOffsetBits;
  static constexpr std::size_t kBlockLimit = std::size_t{1} << (64 - kOffsetBits - kLengthBits);
  static constexpr std::size_t kCopyBlock = std::size_t{64} << 10;
  static constexpr std::size_t kFirstIndex = 4096;
  static constexpr std::size_t kIndexPerBlock = (std::size_t{2} << 20) / sizeof(std::uint64_t);

  struct Kept {
    Block Owner;
    const char* Base;
    std::size_t WholeLength;  // the line's length when it has the block to itself
  };

  std::uint64_t& NewEntry() {
    if (count_ == 0) {
      indexBlocks_.emplace_back(kFirstIndex * sizeof(std::uint64_t));
    } else if (count_ >= kFirstIndex && (count_ - kFirstIndex) % kIndexPerBlock == 0 &&
               1 + (count_ - kFirstIndex) / kIndexPerBlock == indexBlocks_.size()) {
      indexBlocks_.emplace_back(kIndexPerBlock * sizeof(std::uint64_t));
    }
    return Slot(count_);
  }
  std::uint64_t& Slot(std::size_t index) const {
    auto* first = reinterpret_cast<std::uint64_t*>(indexBlocks_[0].Data());
    if (index < kFirstIndex) return first[index];
    index -= kFirstIndex;
    return reinterpret_cast<std::uint64_t*>(indexBlocks_[1 + index / kIndexPerBlock].Data())[index % kIndexPerBlock];
  }
  std::uint64_t Place(std::string_view line, const Block& block);
  std::uint64_t Copy(std::string_view line);
  std::size_t Keep(Block block, std::size_t wholeLength = 0);

  std::vector<Kept> blocks_;
  std::vector<HugeBlock> indexBlocks_;
  std::size_t count_ = 0;
  // The stream block lines were last placed in (the fast path).
  const HugeBlock* lastBlock_ = nullptr;
  std::uintptr_t lastBase_ = 0;
  std::uintptr_t lastEnd_ = 0;
  std::uint64_t lastNumber_ = 0;
  // The block copies go to, and its free space.
  std::shared_ptr<HugeBlock> copies_;
  std::size_t copiesNumber_ = 0;
  std::size_t copiesUsed_ = 0;
};

}  // namespace qm::detail

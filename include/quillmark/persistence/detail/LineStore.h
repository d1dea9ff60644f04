#pragma once
// Every line a QMStream has read since Use, in file order, each handed back
// exactly as it was first read.
//
// The lines stay in the blocks the text stream read them into: the stream
// never writes into a block again once it handed out a line from it
// (TextStream::KeepReadText), so the store holds those blocks and, for each
// line, a 4-byte entry. Lines that follow each other in one block, parted
// only by a line end (at most 3 bytes), form a run: the entry is the line's
// offset from the run's start and the width of the line end before it, so a
// line's length is where the next one starts less that line end. Storing a
// line copies nothing, and nothing is read from the file again, so a file
// rewritten or cut short meanwhile changes nothing that is handed back.
// A line from no kept block is copied into blocks of the store's own.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "quillmark/runtime/detail/HugeBlock.h"

namespace qm::detail {

class LineStore {
 public:
  using Block = std::shared_ptr<const HugeBlock>;

  /// Appends a line; `block` is the stream block it lies in (or null). Gives
  /// the line as the store keeps it, valid until clear().
  std::string_view Append(std::string_view line, const Block& block) {
    const auto at = reinterpret_cast<std::uintptr_t>(line.data());
    if (block && block.get() == lastBlock_ && at >= runEnd_ && at - runEnd_ <= kMaxGap && at + line.size() <= blockEnd_ &&
        at - runBase_ < kOffsetLimit) {
      NewEntry() = static_cast<std::uint32_t>((at - runBase_) << kGapBits | (at - runEnd_));
      runEnd_ = at + line.size();
      ++count_;
      return line;
    }
    return AppendElsewhere(line, block);
  }

  /// The line at `index` (< size()).
  std::string_view operator[](std::size_t index) const {
    const std::size_t run = RunOf(index);
    const Run& r = runs_[run];
    const std::uint32_t entry = Slot(index);
    const char* start = r.Base + (entry >> kGapBits);
    const char* end;
    if (index + 1 < (run + 1 < runs_.size() ? runs_[run + 1].FirstLine : count_)) {
      const std::uint32_t next = Slot(index + 1);
      end = r.Base + (next >> kGapBits) - (next & kGapMask);
    } else {
      end = run + 1 < runs_.size() ? r.Base + r.Length : reinterpret_cast<const char*>(runEnd_);
    }
    return {start, static_cast<std::size_t>(end - start)};
  }
  std::size_t size() const { return count_; }
  /// Forgets every line and lets the blocks go.
  void clear();

 private:
  static constexpr int kGapBits = 2;
  static constexpr std::uint32_t kGapMask = (1u << kGapBits) - 1;
  static constexpr std::uintptr_t kMaxGap = kGapMask;
  static constexpr std::uintptr_t kOffsetLimit = std::uintptr_t{1} << (32 - kGapBits);
  static constexpr std::size_t kCopyBlock = std::size_t{64} << 10;
  static constexpr std::size_t kFirstIndex = 4096;
  static constexpr std::size_t kIndexPerBlock = (std::size_t{2} << 20) / sizeof(std::uint32_t);

  struct Run {
    Block Owner;
    const char* Base;       // where its first line starts
    std::size_t FirstLine;  // index of its first line
    std::size_t Length;     // bytes from Base to the end of its last line, once closed
  };

  std::uint32_t& NewEntry() {
    if (count_ == 0) {
      indexBlocks_.emplace_back(kFirstIndex * sizeof(std::uint32_t));
    } else if (count_ >= kFirstIndex && (count_ - kFirstIndex) % kIndexPerBlock == 0 &&
               1 + (count_ - kFirstIndex) / kIndexPerBlock == indexBlocks_.size()) {
      indexBlocks_.emplace_back(kIndexPerBlock * sizeof(std::uint32_t));
    }
    return Slot(count_);
  }
  std::uint32_t& Slot(std::size_t index) const {
    auto* first = reinterpret_cast<std::uint32_t*>(indexBlocks_[0].Data());
    if (index < kFirstIndex) return first[index];
    index -= kFirstIndex;
    return reinterpret_cast<std::uint32_t*>(indexBlocks_[1 + index / kIndexPerBlock].Data())[index % kIndexPerBlock];
  }
  // The run holding line `index`: mostly the last one.
  std::size_t RunOf(std::size_t index) const {
    if (index >= runs_.back().FirstLine) return runs_.size() - 1;
    const auto after = std::upper_bound(runs_.begin(), runs_.end(), index,
                                        [](std::size_t i, const Run& r) { return i < r.FirstLine; });
    return static_cast<std::size_t>(after - runs_.begin()) - 1;
  }
  std::string_view AppendElsewhere(std::string_view line, const Block& block);
  std::string_view Copy(std::string_view line);
  void StartRun(Block owner, std::string_view line);

  std::vector<Run> runs_;
  std::vector<HugeBlock> indexBlocks_;
  std::size_t count_ = 0;
  // The last run: its block, where it starts and ends, and its block's end.
  const HugeBlock* lastBlock_ = nullptr;
  std::uintptr_t runBase_ = 0;
  std::uintptr_t runEnd_ = 0;
  std::uintptr_t blockEnd_ = 0;
  // The block copies go to, and its free space.
  std::shared_ptr<HugeBlock> copies_;
  std::size_t copiesUsed_ = 0;
};

}  // namespace qm::detail

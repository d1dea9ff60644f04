#pragma once
// Every line a QMStream has read since Use, in file order, each handed back
// exactly as it was first read.
//
// The lines stay in the blocks the text stream read them into: the stream
// never writes into a block again while the store holds it
// (TextStream::KeepReadText), so the store keeps those blocks and, for each
// line, a 4-byte entry. Lines that follow each other in one block, parted
// only by a line end (at most 3 bytes), form a run: the entry is the line's
// offset from the run's start and the width of the line end before it, so a
// line's length is where the next one starts less that line end. Storing a
// line copies nothing, and nothing is read from the file again, so a file
// rewritten or cut short meanwhile changes nothing that is handed back.
// A line from no kept block is copied into blocks of the store's own.
//
// A run is closed when a line starts a new one. A closed run whose text
// compresses well (a sample of it is tried first) is compressed with LZ4,
// its entries as small differences with it, and its block is let go: lines
// written with indentation and repeated headers then cost a fraction of the
// text read. The compression runs on the executor's threads, through a lane
// of its own (one run at a time), while the reading goes on; the run keeps
// its block until its result is taken, at the start of a later run, so its
// lines can be asked for meanwhile. A line of a
// compressed run comes from a copy of the run unpacked when it is first
// asked for.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "io/HugeBlock.h"

namespace qm::detail {
using io::HugeBlock;

class RunPacker;

class LineStore {
 public:
  using Block = std::shared_ptr<const HugeBlock>;

  /// Appends a line; `block` is the stream block it lies in (or null). Gives
  /// the line as the store keeps it. A view stays valid until a line of
  /// another compressed run is asked for, the compression of its own run is
  /// taken (at the start of a later run, or by Settle), or clear().
  std::string_view Append(std::string_view line, const Block& block) {
    const auto at = reinterpret_cast<std::uintptr_t>(line.data());
    if (block && block.get() == lastBlock_ && at >= runEnd_ && at - runEnd_ <= kMaxGap &&
        at + line.size() <= blockEnd_ && at - runBase_ < kOffsetLimit) {
      entries_->push_back(static_cast<std::uint32_t>((at - runBase_) << kGapBits | (at - runEnd_)));
      runEnd_ = at + line.size();
      ++count_;
      return line;
    }
    return AppendElsewhere(line, block);
  }

  /// The line at `index` (< size()).
  std::string_view operator[](std::size_t index) const {
    if (index < runs_.back().FirstLine) return Earlier(index);
    const std::vector<std::uint32_t>& entries = *entries_;
    const std::size_t at = index - runs_.back().FirstLine;
    const char* base = reinterpret_cast<const char*>(runBase_);
    const char* start = base + (entries[at] >> kGapBits);
    const char* end = at + 1 < entries.size() ? base + (entries[at + 1] >> kGapBits) - (entries[at + 1] & kGapMask)
                                              : reinterpret_cast<const char*>(runEnd_);
    return {start, static_cast<std::size_t>(end - start)};
  }
  std::size_t size() const { return count_; }
  /// Waits for the runs being compressed and takes their results.
  void Settle();
  /// Forgets every line and lets the blocks go.
  void clear();

  LineStore();
  ~LineStore();
  LineStore(const LineStore&) = delete;
  LineStore& operator=(const LineStore&) = delete;

 private:
  static constexpr int kGapBits = 2;
  static constexpr std::uint32_t kGapMask = (1u << kGapBits) - 1;
  static constexpr std::uintptr_t kMaxGap = kGapMask;
  static constexpr std::uintptr_t kOffsetLimit = std::uintptr_t{1} << (32 - kGapBits);
  static constexpr std::size_t kCopyBlock = std::size_t{64} << 10;

  struct FreeDelete {
    void operator()(char* p) const;
  };
  using Bytes = std::unique_ptr<char, FreeDelete>;
  friend class RunPacker;

  struct Run {
    Block Owner;                         // null once packed
    const char* Base = nullptr;          // where its first line starts; null once packed
    std::size_t FirstLine = 0;           // index of its first line
    std::size_t Length = 0;              // bytes from Base to the end of its last line, once closed
    std::vector<std::uint32_t> Entries;  // one a line; emptied once packed
    Bytes Packed;                        // compressed text, then compressed entry differences
    std::size_t PackedText = 0;          // bytes of the compressed text
    std::size_t PackedEntries = 0;       // bytes of the compressed differences
    std::size_t EntryBytes = 0;          // bytes of the differences unpacked
  };

  // The run holding line `index`: mostly the last one.
  std::size_t RunOf(std::size_t index) const {
    if (index >= runs_.back().FirstLine) return runs_.size() - 1;
    const auto after = std::upper_bound(runs_.begin(), runs_.end(), index,
                                        [](std::size_t i, const Run& r) { return i < r.FirstLine; });
    return static_cast<std::size_t>(after - runs_.begin()) - 1;
  }
  // What compressing a run gave: nothing when it did not pay.
  struct Packing {
    std::size_t Run = 0;
    Bytes Packed;
    std::size_t PackedText = 0, PackedEntries = 0, EntryBytes = 0;
  };

  std::string_view Earlier(std::size_t index) const;  // a line of a closed run
  std::string_view AppendElsewhere(std::string_view line, const Block& block);
  std::string_view Copy(std::string_view line);
  void StartRun(Block owner, std::string_view line);
  void Take(Packing packing);  // a run's compression result, into the run
  void Unpack(std::size_t run) const;
  void LetInheritedPackerGo() noexcept;

  std::vector<Run> runs_;
  std::size_t count_ = 0;
  // The last run: its entries, block, where it starts and ends, its block's end.
  std::vector<std::uint32_t>* entries_ = nullptr;
  const HugeBlock* lastBlock_ = nullptr;
  std::uintptr_t runBase_ = 0;
  std::uintptr_t runEnd_ = 0;
  std::uintptr_t blockEnd_ = 0;
  // The block copies go to, and its free space.
  std::shared_ptr<HugeBlock> copies_;
  std::size_t copiesUsed_ = 0;
  // The compressed run unpacked last.
  mutable std::vector<char> unpackedText_;
  mutable std::vector<std::uint32_t> unpackedEntries_;
  mutable std::size_t unpackedRun_ = 0;
  mutable bool unpackedValid_ = false;
  // Last: stopped before the runs whose text it reads go.
  std::unique_ptr<RunPacker> packer_;
};

}  // namespace qm::detail

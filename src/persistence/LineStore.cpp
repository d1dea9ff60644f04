#include "persistence/LineStore.h"

#include <lz4.h>

#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <new>
#include <span>
#include <type_traits>
#include <utility>

#include "io/HugeBlock.h"
#include "io/Lane.h"
#include "quillmark/errors/Error.h"
#include "quillmark/errors/ErrorNumbers.h"

namespace qm::detail {
namespace {

// Closed runs shorter than this keep their text as it is.
constexpr std::size_t kPackFrom = std::size_t{16} << 10;
// The sample of a run that is compressed first; the run is compressed only
// when the sample shrinks to a third or less.
constexpr std::size_t kSample = std::size_t{8} << 10;
constexpr int kShrink = 3;
// LZ4's acceleration: a little less compression for a good deal less time.
constexpr int kAcceleration = 4;

// The entries of a run as differences, zigzag varints: mostly one byte a line.
std::vector<unsigned char> Differences(std::span<const std::uint32_t> entries) {
  std::vector<unsigned char> out;
  out.reserve(entries.size() + 16);
  std::int64_t previous = 0;
  for (const std::uint32_t entry : entries) {
    const std::int64_t d = static_cast<std::int64_t>(entry) - previous;
    previous = entry;
    auto z = static_cast<std::uint64_t>((d << 1) ^ (d >> 63));
    while (z >= 0x80) {
      out.push_back(static_cast<unsigned char>(z | 0x80));
      z >>= 7;
    }
    out.push_back(static_cast<unsigned char>(z));
  }
  return out;
}

bool Undifferences(const unsigned char* in, std::size_t size, std::vector<std::uint32_t>& entries) {
  std::int64_t previous = 0;
  std::size_t i = 0;
  for (std::uint32_t& entry : entries) {
    std::uint64_t z = 0;
    for (int shift = 0;; shift += 7) {
      if (i >= size || shift > 63) return false;
      const unsigned char b = in[i++];
      z |= static_cast<std::uint64_t>(b & 0x7F) << shift;
      if (b < 0x80) break;
    }
    previous += static_cast<std::int64_t>(z >> 1) ^ -static_cast<std::int64_t>(z & 1);
    entry = static_cast<std::uint32_t>(previous);
  }
  return i == size;
}

[[noreturn]] void Damaged() { Raise(ERR_General, errc::damaged_data, "The lines kept by the stream are damaged"); }

}  // namespace

void LineStore::FreeDelete::operator()(char* p) const { std::free(p); }

// Compresses closed runs on the executor's threads through a lane, oldest
// first. A run's text and entries are read in place: the store changes
// neither until it has taken the run's result. Without a thread to be had,
// the lane compresses each run when it is handed in.
class RunPacker {
 public:
  struct Job {
    std::size_t Run;
    const char* Text;
    std::size_t Length;
    std::span<const std::uint32_t> Entries;  // the run's, whose buffer stays while the run is queued
  };

  // Queues a run once the one before is done, so that the blocks waiting for
  // compression stay few: at most one run is in the packer at a time.
  void Hand(const Job& job) {
    lane_.Drain();
    lane_.Post([this, job] { Keep(Pack(job)); });
  }

  // The runs compressed, oldest first; with `wait`, once every queued run is done.
  std::deque<LineStore::Packing> Results(bool wait) {
    if (wait) lane_.Drain();
    std::lock_guard lock(mutex_);
    return std::exchange(done_, {});
  }

  // Made before fork, in the child: the parent's run may never be done.
  bool Inherited() const { return lane_.Inherited(); }

 private:
  char* Room(std::size_t bytes) {
    if (roomSize_ < bytes) {
      io::CheckAllocation();
      room_.reset(static_cast<char*>(std::malloc(bytes)));
      roomSize_ = room_ ? bytes : 0;
      if (!room_) throw std::bad_alloc();
    }
    return room_.get();
  }

  bool Compresses(const char* text, std::size_t size) {
    const int bound = LZ4_compressBound(static_cast<int>(size));
    const int packed =
        LZ4_compress_fast(text, Room(static_cast<std::size_t>(bound)), static_cast<int>(size), bound, kAcceleration);
    return packed > 0 && static_cast<std::size_t>(packed) * kShrink <= size;
  }

  // A compressed run's result, to be taken. Compression is only a saving:
  // a result that cannot be kept leaves its run as it is.
  void Keep(LineStore::Packing result) noexcept {
    if (!result.Packed) return;
    try {
      std::lock_guard lock(mutex_);
      done_.push_back(std::move(result));
    } catch (const std::bad_alloc&) {}
  }

  // The run compressed, when that pays and memory allows; no bytes otherwise.
  LineStore::Packing Pack(const Job& job) noexcept {
    try {
      return TryPack(job);
    } catch (const std::bad_alloc&) {
      return {};
    }
  }

  LineStore::Packing TryPack(const Job& job) {
    LineStore::Packing result;
    result.Run = job.Run;
    if (job.Length < kPackFrom || job.Length > static_cast<std::size_t>(LZ4_MAX_INPUT_SIZE)) return result;
    if (!Compresses(job.Text, kSample)) return result;
    const std::vector<unsigned char> differences = Differences(job.Entries);
    const int textBound = LZ4_compressBound(static_cast<int>(job.Length));
    const int entryBound = LZ4_compressBound(static_cast<int>(differences.size()));
    char* room = Room(static_cast<std::size_t>(textBound) + static_cast<std::size_t>(entryBound));
    const int text = LZ4_compress_fast(job.Text, room, static_cast<int>(job.Length), textBound, kAcceleration);
    const int entries = LZ4_compress_fast(reinterpret_cast<const char*>(differences.data()), room + text,
                                          static_cast<int>(differences.size()), entryBound, kAcceleration);
    if (text <= 0 || entries <= 0) return result;
    const auto size = static_cast<std::size_t>(text) + static_cast<std::size_t>(entries);
    if (size * 2 > job.Length + job.Entries.size() * sizeof(std::uint32_t)) return result;
    io::CheckAllocation();
    result.Packed.reset(static_cast<char*>(std::malloc(size)));
    if (!result.Packed) throw std::bad_alloc();
    std::memcpy(result.Packed.get(), room, size);
    result.PackedText = static_cast<std::size_t>(text);
    result.PackedEntries = static_cast<std::size_t>(entries);
    result.EntryBytes = differences.size();
    return result;
  }

  LineStore::Bytes room_;  // compressed text and entries before they are copied out
  std::size_t roomSize_ = 0;
  std::mutex mutex_;
  std::deque<LineStore::Packing> done_;
  io::Lane lane_{1};  // last: its running task is waited for before the rest goes
};

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
  // The packer reads a queued run's entries through a span, which stays
  // valid while runs_ grows only because a run moves without copying them.
  static_assert(std::is_nothrow_move_constructible_v<Run>);
  if (!runs_.empty()) {
    Run& closed = runs_.back();
    closed.Length = runEnd_ - runBase_;
    // Runs too short to pay are not handed to the packer at all; one that
    // cannot be handed for want of memory stays as it is.
    if (closed.Length >= kPackFrom) {
      try {
        LetInheritedPackerGo();
        if (!packer_) packer_ = std::make_unique<RunPacker>();
        for (Packing& packing : packer_->Results(false)) Take(std::move(packing));
        packer_->Hand({runs_.size() - 1, closed.Base, closed.Length, closed.Entries});
      } catch (const std::bad_alloc&) {}
    }
  }
  lastBlock_ = owner.get();
  blockEnd_ = reinterpret_cast<std::uintptr_t>(owner->Data()) + owner->Size();
  runBase_ = reinterpret_cast<std::uintptr_t>(line.data());
  runEnd_ = runBase_ + line.size();
  Run& run = runs_.emplace_back();
  run.Owner = std::move(owner);
  run.Base = line.data();
  run.FirstLine = count_;
  // Room for the lines the block can still hold, at one entry per 32 bytes.
  run.Entries.reserve(std::min<std::size_t>((blockEnd_ - runBase_) / 32, std::size_t{1} << 20) + 1);
  run.Entries.push_back(0);
  entries_ = &run.Entries;
  ++count_;
}

LineStore::LineStore() = default;
LineStore::~LineStore() { LetInheritedPackerGo(); }

// A packer made before fork is the parent's work: in the child it is let go
// untouched (its runs stay as they are) and never waited for.
void LineStore::LetInheritedPackerGo() noexcept {
  if (packer_ && packer_->Inherited()) (void)packer_.release();
}

// A compressed run lets its block and entries go.
void LineStore::Take(Packing packing) {
  if (!packing.Packed) return;
  Run& run = runs_[packing.Run];
  run.Packed = std::move(packing.Packed);
  run.PackedText = packing.PackedText;
  run.PackedEntries = packing.PackedEntries;
  run.EntryBytes = packing.EntryBytes;
  run.Base = nullptr;
  run.Owner.reset();
  std::vector<std::uint32_t>().swap(run.Entries);
}

void LineStore::Settle() {
  LetInheritedPackerGo();
  if (!packer_) return;
  for (Packing& packing : packer_->Results(true)) Take(std::move(packing));
}

void LineStore::Unpack(std::size_t index) const {
  if (unpackedValid_ && unpackedRun_ == index) return;
  const Run& run = runs_[index];
  unpackedValid_ = false;
  unpackedText_.resize(run.Length);
  if (LZ4_decompress_safe(run.Packed.get(), unpackedText_.data(), static_cast<int>(run.PackedText),
                          static_cast<int>(run.Length)) != static_cast<int>(run.Length))
    Damaged();
  std::vector<unsigned char> differences(run.EntryBytes);
  if (LZ4_decompress_safe(run.Packed.get() + run.PackedText, reinterpret_cast<char*>(differences.data()),
                          static_cast<int>(run.PackedEntries),
                          static_cast<int>(run.EntryBytes)) != static_cast<int>(run.EntryBytes))
    Damaged();
  unpackedEntries_.resize(runs_[index + 1].FirstLine - run.FirstLine);
  if (!Undifferences(differences.data(), differences.size(), unpackedEntries_)) Damaged();
  unpackedRun_ = index;
  unpackedValid_ = true;
}

std::string_view LineStore::Earlier(std::size_t index) const {
  const std::size_t number = RunOf(index);
  const Run& run = runs_[number];
  const char* base = run.Base;
  const std::uint32_t* entries = run.Entries.data();
  if (!base) {
    Unpack(number);
    base = unpackedText_.data();
    entries = unpackedEntries_.data();
  }
  const std::size_t at = index - run.FirstLine;
  const char* start = base + (entries[at] >> kGapBits);
  const char* end = at + 1 < runs_[number + 1].FirstLine - run.FirstLine
                        ? base + (entries[at + 1] >> kGapBits) - (entries[at + 1] & kGapMask)
                        : base + run.Length;
  return {start, static_cast<std::size_t>(end - start)};
}

void LineStore::clear() {
  LetInheritedPackerGo();
  packer_.reset();  // it may be reading a run
  runs_.clear();
  count_ = 0;
  entries_ = nullptr;
  lastBlock_ = nullptr;
  runBase_ = runEnd_ = blockEnd_ = 0;
  copies_.reset();
  copiesUsed_ = 0;
  unpackedValid_ = false;
  std::vector<char>().swap(unpackedText_);
  std::vector<std::uint32_t>().swap(unpackedEntries_);
}

}  // namespace qm::detail

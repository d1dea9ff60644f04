#pragma once
// A block of raw memory that never moves: read buffers that a text stream
// hands over to keep lines at their place, and the line store's index.
//
// Memory fresh from the system is zeroed by the kernel at its first write,
// which for a read buffer costs about as much as the read itself. So the
// blocks the library fills whole again and again (the read blocks, 2 MiB
// each) are kept when let go and handed out again as they are, unzeroed:
// at most kKeptBlocks of them over the whole process, told to the kernel as
// free (MADV_FREE), so that it may take them back when memory runs short
// (a block it took comes back zeroed at its next write, as a fresh one).
// The list of kept blocks is lock-free: a fork at any instant leaves the
// child a whole list of blocks that are its own copies.

#include <cstddef>
#include <memory>

namespace qm::io {

/// For tests: the next `count` allocations that call CheckAllocation (every
/// HugeBlock, and the background buffers of the line store's packer and the
/// compression I/O) fail with bad_alloc, on whichever thread they happen.
void FailAllocations(unsigned count) noexcept;
/// Raises bad_alloc when FailAllocations asked for it.
void CheckAllocation();

/// Gives a block's memory back: kept for reuse, unmapped, or freed when it
/// came from malloc.
struct BlockRelease {
  std::size_t MappedBytes = 0;  // 0: from malloc
  bool Reusable = false;        // a huge-page block that may be kept for the next one
  void operator()(char* p) const;
};

/// A block of raw memory, released with its owner; its bytes are not
/// zeroed. Blocks below 2 MiB come from malloc; larger ones are mapped whole.
/// A block of 128 KiB to 2 MiB filled whole is a kept block of 2 MiB when
/// one is to be had (Size() tells), whose pages are there already.
class HugeBlock {
 public:
  /// How a large block gets its pages, as measured per use (docs/reliability.md):
  /// - Whole: a block about to be filled whole (a read, a sort). Backed by
  ///   huge pages where the kernel offers them, faulted in by the first
  ///   write (one fault a 2 MiB, never zeroed ahead of the write that fills
  ///   it); a block of 2 MiB is kept for reuse when let go.
  /// - AsWritten: a block that may stay partly empty (a line that grows):
  ///   4 KiB pages as they are first written, costing only what is written.
  enum class Pages { Whole, AsWritten };
  explicit HugeBlock(std::size_t bytes, Pages pages = Pages::Whole);
  /// The memory a block asked for `bytes` takes (large ones are whole huge pages).
  static std::size_t SizeFor(std::size_t bytes);
  char* Data() const { return data_.get(); }
  std::size_t Size() const { return size_; }

  /// Blocks kept for reuse at most (each 2 MiB).
  static constexpr std::size_t kKeptBlocks = 32;
  /// For tests: the blocks kept now.
  static std::size_t KeptBlocks() noexcept;

 private:
  std::unique_ptr<char, BlockRelease> data_;
  std::size_t size_;
};

}  // namespace qm::io

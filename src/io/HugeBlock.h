#pragma once
// A block of raw memory that never moves: read buffers that a text stream
// hands over to keep lines at their place, and the line store's index.

#include <cstddef>
#include <memory>

namespace qm::io {

/// Advice for memory about to be filled whole: the page-aligned part of
/// [data, data + bytes) is backed by huge pages where the kernel offers them
/// and given its pages at once, instead of a page fault per 4 KiB.
void Prefault(void* data, std::size_t bytes);

/// For tests: the next `count` allocations that call CheckAllocation (every
/// HugeBlock, and the background buffers of the line store's packer and the
/// compression I/O) fail with bad_alloc, on whichever thread they happen.
void FailAllocations(unsigned count) noexcept;
/// Raises bad_alloc when FailAllocations asked for it.
void CheckAllocation();

/// Gives a block's memory back: unmapped, or freed when it came from malloc.
struct BlockRelease {
  std::size_t MappedBytes = 0;  // 0: from malloc
  void operator()(char* p) const;
};

/// A block of raw memory, released with its owner. Blocks of 2 MiB and more
/// are mapped whole, asked to be backed by huge pages, and filled with their
/// pages at once: one call instead of a page fault per 4 KiB.
class HugeBlock {
 public:
  /// How a large block gets its pages: all at once (a block about to be
  /// filled whole), or as they are first written (one that may stay partly
  /// empty, which then costs only what is written).
  enum class Pages { Now, AsWritten };
  explicit HugeBlock(std::size_t bytes, Pages pages = Pages::Now);
  /// The memory a block asked for `bytes` takes (large ones are whole huge pages).
  static std::size_t SizeFor(std::size_t bytes);
  char* Data() const { return data_.get(); }
  std::size_t Size() const { return size_; }

 private:
  std::unique_ptr<char, BlockRelease> data_;
  std::size_t size_;
};

}  // namespace qm::io

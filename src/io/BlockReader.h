#pragma once
// Reads a file ahead, on a thread of its own, into fresh blocks that are
// never written again once handed out: the reads a text stream keeps its
// lines in. The kernel's copy of the file into them then happens on another
// core while the lines of the block before are scanned.
//
// The empty blocks are made (and their memory touched) on the caller's
// thread, so that the memory of blocks the caller lets go is the memory the
// next blocks get: a block's pages come from the core that touches them
// first, and memory taken from a core that never freed any is often memory
// the system must fetch afresh, which can stall for many milliseconds.
//
// Each block leaves its first `headroom` bytes free, so that the reader of
// the blocks can put the unfinished line of the previous block just before
// the new text without copying the block. At most a few blocks are on their
// way at a time. Without a thread to be had, Next reads the block itself.

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>

#include "io/HelperThread.h"
#include "io/HugeBlock.h"

namespace qm::io {

class BlockReader {
 public:
  struct Piece {
    std::shared_ptr<HugeBlock> Block;  // null: the file is over
    std::size_t Size = 0;              // bytes read, from Block->Data() + headroom on
  };

  /// Reads `fd` (which the caller keeps open) from `offset` on, into blocks
  /// of at most `blockSize` bytes with `headroom` bytes left free at their start.
  BlockReader(int fd, std::uint64_t offset, std::size_t blockSize, std::size_t headroom);
  BlockReader(const BlockReader&) = delete;
  BlockReader& operator=(const BlockReader&) = delete;

  /// The next block of the file, in order; a null block once the file is
  /// over. Raises 57 when the file could not be read, and bad_alloc as a
  /// block allocation does.
  Piece Next();
  /// Gives back the block Next gave last, to be given again by the next call.
  void PutBack(Piece piece);
  /// The file offset just after the last byte handed out.
  std::uint64_t Offset() const { return handedOut_; }
  std::size_t Headroom() const { return headroom_; }

 private:
  std::uint64_t FileSize() const;  // what the file holds now; 0 when unknown
  void Supply();                   // empty blocks for the reading thread, made here
  // One block from readAt_ on, into `block` (null: one made here); the end
  // when the file holds nothing more.
  Piece ReadOne(std::shared_ptr<HugeBlock> block);
  void Run();

  const int fd_;
  const std::size_t blockSize_;
  const std::size_t headroom_;
  std::uint64_t readAt_;     // the reading thread's offset
  std::uint64_t handedOut_;  // the caller's offset
  std::uint64_t planned_;    // the caller's: the file offset the blocks supplied reach

  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::shared_ptr<HugeBlock>> empty_;  // supplied, waiting to be filled
  std::deque<Piece> ready_;  // blocks read and not yet handed out, the end (a null block) last
  std::exception_ptr failure_;
  bool filling_ = false;  // the thread is reading into a block
  bool wanting_ = false;  // the caller waits for a block
  bool over_ = false;     // the thread has queued the end or failed
  // Last: starts when the rest is ready, stops first; blocks handed out stay valid.
  HelperThread helper_{mutex_, changed_, [this] { Run(); }};
};

}  // namespace qm::io

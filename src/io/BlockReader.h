#pragma once
// Reads a file ahead, on the executor's threads, into blocks that are
// never written again once handed out: the reads a text stream keeps its
// lines in. The kernel's copy of the file into them then happens on another
// core while the lines of the block before are scanned.
//
// The blocks are HugeBlocks of 2 MiB: a block the caller let go comes back
// for a later one unzeroed, and a fresh one gets its pages from the read
// that fills it (HugeBlock.h), so the kernel zeroes new memory on the
// thread that reads, never ahead of the read.
//
// Each block leaves its first `headroom` bytes free, so that the reader of
// the blocks can put the unfinished line of the previous block just before
// the new text without copying the block.
//
// - The first block is small and read on the caller's thread: a stream that
//   is opened and read a little costs little. The blocks after it are read
//   ahead (asked for before the first is read, so that their reads run
//   meanwhile), at most two at a time, each one reserved from the process's
//   read-ahead budget (ReadAheadBudget.h) until it is handed out. Beyond the
//   budget, or without a thread to be had, the caller reads each block
//   itself when it asks for it.
// - Each block read ahead is a task of its own on the executor, reading at
//   its own offset: no task ever waits for another. When the caller asks for
//   a block whose read has not started, it reads it itself (the task then
//   finds nothing to do); it waits only for a read under way.
// - The end of the file is decided when the caller asks for a block and the
//   file holds nothing more then: a file that grows meanwhile is read on.
// - A read that fails raises 57 at the call that asks for its block, and at
//   every later one.
// - In a child process after fork, a reader made before the fork never waits
//   for the parent's reads: Next raises, and the destructor lets the state go
//   untouched.

#include <cstddef>
#include <cstdint>
#include <memory>

#include "io/HugeBlock.h"

namespace qm::io {

class BlockReader {
 public:
  struct Piece {
    std::shared_ptr<HugeBlock> Block;  // null: the file is over
    std::size_t Size = 0;              // bytes read, from Block->Data() + headroom on
  };

  /// Reads `fd` (which the caller keeps open while the reader lives) from
  /// `offset` on, into blocks of at most `blockSize` bytes with `headroom`
  /// bytes left free at their start; the first one at most `firstSize` bytes.
  BlockReader(int fd, std::uint64_t offset, std::size_t blockSize, std::size_t headroom, std::size_t firstSize);
  /// Drops the reads not begun and waits for those under way (never in a child after fork).
  ~BlockReader();
  BlockReader(const BlockReader&) = delete;
  BlockReader& operator=(const BlockReader&) = delete;

  /// The next block of the file, in order; a null block once the file is
  /// over. Raises 57 when the file could not be read, bad_alloc as a block
  /// allocation does, and 75 in a child after fork.
  Piece Next();
  /// Gives back the block Next gave last, to be given again by the next call.
  void PutBack(Piece piece);
  /// The file offset just after the last byte handed out.
  std::uint64_t Offset() const { return handedOut_; }
  std::size_t Headroom() const { return headroom_; }
  /// True in a child process when the reader was made before the fork.
  bool Inherited() const noexcept;

 private:
  struct Slot;
  struct State;
  std::uint64_t FileSize() const;  // what the file holds now; 0 when unknown
  Piece Take(State& s);            // the next block: read ahead, or read here
  Piece ReadHere(State& s);        // one block read on this thread; the end when nothing more
  void StartAhead(State& s);       // before the first block: the ones after it on their way
  void Supply(State& s);           // blocks to read ahead, taken here, within the budget
  void DropAhead(State& s);        // forgets the blocks on their way

  const int fd_;
  const std::size_t blockSize_;
  const std::size_t headroom_;
  const std::size_t firstSize_;
  std::uint64_t handedOut_;  // the caller's offset
  std::uint64_t planned_;    // the file offset the blocks on their way reach
  bool started_ = false;     // the first block was read
  const std::uint64_t generation_;
  // Shared with the reads under way. Never destroyed in a child after fork
  // (a parent's thread may have held its lock at the instant of the fork).
  union {
    std::shared_ptr<State> state_;
  };
};

}  // namespace qm::io

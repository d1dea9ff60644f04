#include "io/BlockReader.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <new>

#include "io/Executor.h"
#include "io/Lane.h"
#include "io/ReadAheadBudget.h"
#include "io/System.h"
#include "quillmark/errors/Error.h"
#include "quillmark/errors/ErrorNumbers.h"

namespace qm::io {
namespace {

// Blocks read ahead at most (queued, being read, or read and waiting):
// enough to cover the time a block takes to read while the one before is
// scanned, without holding much memory.
constexpr std::size_t kDepth = 2;

}  // namespace

struct BlockReader::Slot {
  enum class Phase { Queued, Reading, Done, Dropped };
  std::shared_ptr<HugeBlock> Block;
  std::uint64_t At = 0;  // the file offset it is read from
  std::size_t Room = 0;  // the bytes it is to hold
  std::size_t Size = 0;  // the bytes read
  Phase Now = Phase::Queued;
  bool Abandoned = false;  // dropped while a task reads it: the task lets it go
  std::exception_ptr Failure;
  Reservation Reserved;  // from the read-ahead budget, until handed out
};

struct BlockReader::State {
  std::mutex Lock;
  std::condition_variable Changed;
  unsigned Reads = 0;  // tasks reading now
  // The caller's alone (the tasks hold their own slot):
  std::deque<std::shared_ptr<Slot>> Ahead;  // in file order
  std::deque<Piece> PutBack;
  std::exception_ptr Failure;  // kept: raised by every later call
};

namespace {

// Fills a slot's block from its offset on, as far as the file goes; a read
// the kernel cuts short is continued. Failures are kept in the slot.
void Fill(int fd, std::size_t headroom, BlockReader::Piece& piece, std::uint64_t at, std::size_t room,
          std::exception_ptr& failure) noexcept {
  try {
    char* into = piece.Block->Data() + headroom;
    while (piece.Size < room) {
      const ssize_t n = sys::PRead(fd, into + piece.Size, room - piece.Size, static_cast<off_t>(at + piece.Size));
      if (n < 0) Raise(ERR_DeviceIO);
      if (n == 0) break;
      piece.Size += static_cast<std::size_t>(n);
    }
  } catch (...) {
    failure = std::current_exception();
  }
}

}  // namespace

BlockReader::BlockReader(int fd, std::uint64_t offset, std::size_t blockSize, std::size_t headroom,
                         std::size_t firstSize)
    : fd_(fd),
      blockSize_(blockSize),
      headroom_(headroom),
      firstSize_(std::clamp(firstSize, headroom + 1, blockSize)),
      handedOut_(offset),
      planned_(offset),
      generation_(Executor::Generation()) {
  new (&state_) std::shared_ptr<State>(std::make_shared<State>());
}

BlockReader::~BlockReader() {
  if (Inherited()) return;  // the parent's: never waited for, never touched
  {
    State& s = *state_;
    DropAhead(s);
    std::unique_lock lock(s.Lock);
    s.Changed.wait(lock, [&] { return s.Reads == 0; });  // the file is read no more once we return
  }
  state_.~shared_ptr();
}

bool BlockReader::Inherited() const noexcept { return generation_ != Executor::Generation(); }

std::uint64_t BlockReader::FileSize() const {
  struct stat info {};
  return sys::Fstat(fd_, &info) == 0 && S_ISREG(info.st_mode) ? static_cast<std::uint64_t>(info.st_size) : 0;
}

// The blocks read ahead go now, and their reservations with them: those
// whose read has not begun here, those being read by the task reading them
// (before it says it is done).
void BlockReader::DropAhead(State& s) {
  {
    std::lock_guard lock(s.Lock);
    for (const auto& slot : s.Ahead) {
      if (slot->Now == Slot::Phase::Queued || slot->Now == Slot::Phase::Done) {
        // A read finished or not begun: the block goes here, whoever still
        // holds the slot (the task's closure may outlive this call).
        slot->Now = Slot::Phase::Dropped;
        slot->Block.reset();
        slot->Reserved.Reset();
      } else if (slot->Now == Slot::Phase::Reading) {
        slot->Abandoned = true;
      }
    }
  }
  s.Ahead.clear();
  planned_ = handedOut_;
}

BlockReader::Piece BlockReader::Next() {
  if (Inherited()) RaiseInherited();
  State& s = *state_;
  if (s.Failure) std::rethrow_exception(s.Failure);
  Piece piece;
  if (!s.PutBack.empty()) {
    piece = std::move(s.PutBack.front());
    s.PutBack.pop_front();
  } else {
    if (!started_) StartAhead(s);
    try {
      piece = Take(s);
    } catch (const std::bad_alloc&) {
      throw;  // a block could not be made: a later call tries again
    } catch (...) {
      s.Failure = std::current_exception();
      DropAhead(s);
      throw;
    }
  }
  handedOut_ += piece.Size;
  if (piece.Block) {
    if (planned_ < handedOut_) planned_ = handedOut_;
    // More blocks read ahead. One that cannot be made now costs nothing:
    // the caller reads the block itself when it asks for it.
    try {
      Supply(s);
    } catch (const std::bad_alloc&) {}
  }
  return piece;
}

// The blocks after the first are asked for before the first is read here,
// so that their reads run while this thread reads and scans the first.
void BlockReader::StartAhead(State& s) {
  const std::uint64_t size = FileSize();
  if (size <= handedOut_) return;
  planned_ = handedOut_ + std::min<std::uint64_t>(firstSize_ - headroom_, size - handedOut_);
  try {
    Supply(s);
  } catch (const std::bad_alloc&) {}
}

BlockReader::Piece BlockReader::Take(State& s) {
  if (!started_) return ReadHere(s);  // the blocks read ahead come after it
  while (!s.Ahead.empty()) {
    const std::shared_ptr<Slot> slot = std::move(s.Ahead.front());
    s.Ahead.pop_front();
    bool here = false;
    {
      std::unique_lock lock(s.Lock);
      if (slot->Now == Slot::Phase::Queued) {
        // Not begun: read here rather than wait for a thread.
        slot->Now = Slot::Phase::Reading;
        here = true;
      } else {
        s.Changed.wait(lock, [&] { return slot->Now == Slot::Phase::Done; });
      }
    }
    Piece piece{std::move(slot->Block), 0};
    if (here) {
      Fill(fd_, headroom_, piece, slot->At, slot->Room, slot->Failure);
    } else {
      piece.Size = slot->Size;
    }
    slot->Reserved.Reset();  // handed out: the caller's memory now
    if (slot->Failure) std::rethrow_exception(slot->Failure);
    if (slot->At != handedOut_ || piece.Size == 0) {
      // The file was cut short meanwhile: the blocks planned past its
      // end are read again from where the caller is.
      DropAhead(s);
      break;
    }
    // Cut short within this block: the ones after it start past the end.
    if (piece.Size < slot->Room) DropAhead(s);
    return piece;
  }
  return ReadHere(s);
}

BlockReader::Piece BlockReader::ReadHere(State&) {
  const std::uint64_t size = FileSize();
  if (size <= handedOut_) return {};  // nothing more now: the end
  const std::size_t text = (started_ ? blockSize_ : firstSize_) - headroom_;
  const auto room = static_cast<std::size_t>(std::min<std::uint64_t>(text, size - handedOut_));
  Piece piece{std::make_shared<HugeBlock>(headroom_ + room), 0};
  started_ = true;
  std::exception_ptr failure;
  Fill(fd_, headroom_, piece, handedOut_, room, failure);
  if (failure) std::rethrow_exception(failure);
  if (piece.Size == 0) return {};  // cut short meanwhile
  return piece;
}

// Tops the blocks read ahead up to kDepth, each sized for the part of the
// file it is to hold and reserved from the budget, and queues their reads.
void BlockReader::Supply(State& s) {
  if (s.Ahead.size() >= kDepth || Executor::Capacity() == 0) return;
  const std::uint64_t size = FileSize();
  while (s.Ahead.size() < kDepth && planned_ < size) {
    const auto room = static_cast<std::size_t>(std::min<std::uint64_t>(blockSize_ - headroom_, size - planned_));
    Reservation reserved = Reservation::Take(HugeBlock::SizeFor(headroom_ + room));
    if (!reserved) return;  // beyond the budget: the caller reads itself
    auto slot = std::make_shared<Slot>();
    slot->Block = std::make_shared<HugeBlock>(headroom_ + room);
    slot->At = planned_;
    slot->Room = room;
    slot->Reserved = std::move(reserved);
    s.Ahead.push_back(slot);
    planned_ += room;
    const bool queued = Executor::Post([state = state_, slot, fd = fd_, headroom = headroom_] {
      {
        std::lock_guard lock(state->Lock);
        if (slot->Now != Slot::Phase::Queued) return;  // read by the caller, or dropped
        slot->Now = Slot::Phase::Reading;
        ++state->Reads;
      }
      Piece piece{slot->Block, 0};
      Fill(fd, headroom, piece, slot->At, slot->Room, slot->Failure);
      piece.Block.reset();
      {
        std::lock_guard lock(state->Lock);
        slot->Size = piece.Size;
        slot->Now = Slot::Phase::Done;
        if (slot->Abandoned) {
          slot->Block.reset();
          slot->Reserved.Reset();
        }
        --state->Reads;
      }
      state->Changed.notify_all();
    });
    // No thread to be had: the caller reads this block itself when it gets
    // there, and nothing more is read ahead until then.
    if (!queued) return;
  }
}

void BlockReader::PutBack(Piece piece) {
  handedOut_ -= piece.Size;
  state_->PutBack.push_front(std::move(piece));
}

}  // namespace qm::io

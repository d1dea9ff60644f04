#include "io/BlockReader.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <new>

#include "quillmark/frame/Error.h"
#include "quillmark/frame/ErrorNumbers.h"

namespace qm::io {
namespace {

// Blocks on their way at most (empty, being read, or read and waiting):
// enough to cover the time a block takes to read while the one before is
// scanned, without holding much memory.
constexpr std::size_t kDepth = 2;

}  // namespace

BlockReader::BlockReader(int fd, std::uint64_t offset, std::size_t blockSize, std::size_t headroom)
    : fd_(fd), blockSize_(blockSize), headroom_(headroom), readAt_(offset), handedOut_(offset), planned_(offset) {
  Supply();
}

std::uint64_t BlockReader::FileSize() const {
  struct stat info {};
  return ::fstat(fd_, &info) == 0 && S_ISREG(info.st_mode) ? static_cast<std::uint64_t>(info.st_size) : 0;
}

// Tops the blocks on their way up to kDepth, each sized for the part of the
// file it is to hold.
void BlockReader::Supply() {
  std::size_t wanted = 0;
  {
    std::lock_guard lock(mutex_);
    const std::size_t onTheirWay = empty_.size() + ready_.size() + (filling_ ? 1 : 0);
    if (over_ || onTheirWay >= kDepth) return;
    wanted = kDepth - onTheirWay;
  }
  const std::uint64_t size = FileSize();
  std::deque<std::shared_ptr<HugeBlock>> made;
  for (; wanted > 0 && planned_ < size; --wanted) {
    const auto room = static_cast<std::size_t>(std::min<std::uint64_t>(blockSize_ - headroom_, size - planned_));
    made.push_back(std::make_shared<HugeBlock>(headroom_ + room));
    planned_ += room;
  }
  if (made.empty()) return;
  {
    std::lock_guard lock(mutex_);
    for (auto& block : made) empty_.push_back(std::move(block));
  }
  changed_.notify_all();
}

// Fills the block as far as the file goes; nothing left to read is the end.
// A read the kernel cuts short is continued.
BlockReader::Piece BlockReader::ReadOne(std::shared_ptr<HugeBlock> block) {
  const std::uint64_t size = FileSize();
  if (size <= readAt_) return {};
  // A file grown past the blocks supplied gets a block made here.
  if (!block) block = std::make_shared<HugeBlock>(blockSize_);
  Piece piece{std::move(block), 0};
  char* into = piece.Block->Data() + headroom_;
  const auto room =
      static_cast<std::size_t>(std::min<std::uint64_t>(piece.Block->Size() - headroom_, size - readAt_));
  while (piece.Size < room) {
    const ssize_t n = ::pread(fd_, into + piece.Size, room - piece.Size, static_cast<off_t>(readAt_));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) Raise(ERR_DeviceIO);
    if (n == 0) break;
    piece.Size += static_cast<std::size_t>(n);
    readAt_ += static_cast<std::uint64_t>(n);
  }
  if (piece.Size == 0) piece.Block.reset();  // cut short meanwhile
  return piece;
}

void BlockReader::Run() {
  for (;;) {
    std::shared_ptr<HugeBlock> block;
    {
      std::unique_lock lock(mutex_);
      // An empty block, or none when the caller waits and none is coming
      // (the file grew past what was supplied).
      changed_.wait(lock, [&] { return helper_.Stopping() || !empty_.empty() || (wanting_ && ready_.empty()); });
      if (helper_.Stopping()) return;
      if (!empty_.empty()) {
        block = std::move(empty_.front());
        empty_.pop_front();
      }
      filling_ = true;
    }
    Piece piece;
    std::exception_ptr failure;
    try {
      piece = ReadOne(std::move(block));
    } catch (...) {
      failure = std::current_exception();
    }
    std::lock_guard lock(mutex_);
    filling_ = false;
    if (!failure) {
      try {
        if (piece.Block) {
          ready_.push_back(std::move(piece));
        } else if (wanting_ && ready_.empty()) {
          // Nothing more when the caller asks for it: the end.
          ready_.push_back({});
          over_ = true;
        } else {
          // Nothing more for now, but the caller has blocks to read still:
          // the end is decided when it asks, as a stream reading itself
          // would (a file that grows meanwhile is read on). The empty
          // blocks wait no more.
          empty_.clear();
        }
      } catch (...) {
        failure = std::current_exception();
      }
    }
    if (failure) {
      failure_ = failure;
      over_ = true;
    }
    changed_.notify_all();
    if (over_) return;
  }
}

BlockReader::Piece BlockReader::Next() {
  Piece piece;
  if (!helper_.Started()) {
    if (!ready_.empty()) {  // put back
      piece = std::move(ready_.front());
      ready_.pop_front();
    } else {
      std::shared_ptr<HugeBlock> block;
      if (!empty_.empty()) {
        block = std::move(empty_.front());
        empty_.pop_front();
      }
      piece = ReadOne(std::move(block));
    }
  } else {
    std::unique_lock lock(mutex_);
    wanting_ = true;
    changed_.notify_all();
    changed_.wait(lock, [&] { return !ready_.empty() || over_; });
    wanting_ = false;
    if (ready_.empty()) {
      if (failure_) std::rethrow_exception(failure_);
      return {};  // the end, handed out before
    }
    piece = std::move(ready_.front());
    // The end stays queued, so that every later call gives it again.
    if (piece.Block) ready_.pop_front();
  }
  handedOut_ += piece.Size;
  if (piece.Block && helper_.Started()) {
    // More empty blocks for the thread. One that cannot be made now costs
    // nothing: the thread makes a block itself when the caller waits for
    // one, and a failure there comes back from a later call.
    try {
      Supply();
    } catch (const std::bad_alloc&) {
    }
  }
  return piece;
}

void BlockReader::PutBack(Piece piece) {
  handedOut_ -= piece.Size;
  std::lock_guard lock(mutex_);
  ready_.push_front(std::move(piece));
}

}  // namespace qm::io

#include "runtime/BlockReader.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>

#include "quillmark/frame/Error.h"
#include "quillmark/frame/ErrorNumbers.h"

namespace qm::detail {
namespace {

// Blocks read and waiting at most: enough to cover the time a block takes to
// read while the one before is scanned, without holding much memory.
constexpr std::size_t kAhead = 2;

}  // namespace

BlockReader::BlockReader(int fd, std::uint64_t offset, std::size_t blockSize, std::size_t headroom)
    : fd_(fd), blockSize_(blockSize), headroom_(headroom), readAt_(offset), handedOut_(offset) {
  try {
    thread_ = std::thread([this] { Run(); });
  } catch (const std::system_error&) {
    // No thread to be had: Next reads each block itself.
  }
}

BlockReader::~BlockReader() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

// Fills a new block as far as the file goes; nothing left to read is the end.
// The block is no larger than what the file still holds, and none is made
// past the end. A read the kernel cuts short is continued.
BlockReader::Piece BlockReader::ReadOne() {
  std::size_t room = blockSize_ - headroom_;
  struct stat info {};
  if (::fstat(fd_, &info) == 0 && S_ISREG(info.st_mode)) {
    const auto size = static_cast<std::uint64_t>(info.st_size);
    if (size <= readAt_) return {};
    room = static_cast<std::size_t>(std::min<std::uint64_t>(room, size - readAt_));
  }
  Piece piece{std::make_shared<HugeBlock>(headroom_ + room), 0};
  char* into = piece.Block->Data() + headroom_;
  while (piece.Size < room) {
    const ssize_t n = ::pread(fd_, into + piece.Size, room - piece.Size, static_cast<off_t>(readAt_));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) Raise(ERR_DeviceIO);
    if (n == 0) break;
    piece.Size += static_cast<std::size_t>(n);
    readAt_ += static_cast<std::uint64_t>(n);
  }
  if (piece.Size == 0) piece.Block.reset();
  return piece;
}

void BlockReader::Run() {
  for (;;) {
    {
      std::unique_lock lock(mutex_);
      changed_.wait(lock, [&] { return stopping_ || ready_.size() < kAhead; });
      if (stopping_) return;
    }
    Piece piece;
    std::exception_ptr failure;
    try {
      piece = ReadOne();
    } catch (...) {
      failure = std::current_exception();
    }
    std::lock_guard lock(mutex_);
    if (failure) {
      failure_ = failure;
      over_ = true;
    } else {
      over_ = !piece.Block;
      ready_.push_back(std::move(piece));
    }
    changed_.notify_all();
    if (over_) return;
  }
}

BlockReader::Piece BlockReader::Next() {
  Piece piece;
  if (!thread_.joinable()) {
    piece = ReadOne();
  } else {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return !ready_.empty() || over_; });
    if (ready_.empty()) {
      if (failure_) std::rethrow_exception(failure_);
      return {};  // the end, handed out before
    }
    piece = std::move(ready_.front());
    // The end stays queued, so that every later call gives it again.
    if (piece.Block) ready_.pop_front();
    changed_.notify_all();
  }
  handedOut_ += piece.Size;
  return piece;
}

}  // namespace qm::detail

#pragma once
// What a TextStream holds: kept out of the public header, so that the file
// machinery underneath can change without touching it. The record stream
// (a friend of TextStream) reads the block a line lies in from here.

#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "io/AtomicFile.h"
#include "io/BlockReader.h"
#include "io/Executor.h"
#include "io/HugeBlock.h"
#include "io/System.h"
#include "quillmark/runtime/TextStream.h"

namespace qm {

struct TextStream::Impl {
  // The file's descriptor when it is read, appended to or (a device or pipe)
  // written in place; closed with the stream. The stream buffers in its own
  // strings, never in the C library's: a child's exit() after fork flushes
  // nothing of it, and every call goes through io::sys.
  class Descriptor {
   public:
    Descriptor() = default;
    ~Descriptor() { Close(); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    void Reset(int fd) noexcept {
      Close();
      fd_ = fd;
    }
    int Get() const noexcept { return fd_; }
    explicit operator bool() const noexcept { return fd_ >= 0; }
    // 0, or -1 with errno (the descriptor is let go either way).
    int Close() noexcept { return fd_ >= 0 ? io::sys::Close(std::exchange(fd_, -1)) : 0; }

   private:
    int fd_ = -1;
  };
  Descriptor file_;
  std::uint64_t fileRead_ = 0;                   // where file_ is read next: bytes read from it so far
  bool seekable_ = false;                        // a regular file, read at fileRead_ (PRead)
  std::unique_ptr<io::AtomicFile> replacement_;  // writing a file as a whole
  std::string path_;
  IOMode mode_ = IOMode::ForReading;
  bool unicode_ = false;
  bool memory_ = false;
  bool closed_ = false;
  bool eof_ = false;          // the file has nothing more to read
  std::string buffer_;        // UTF-8 text read and not yet delivered, or text to write
  std::string unwritten_;     // bytes a failed write left, written first next time
  std::size_t pos_ = 0;       // read position in the read buffer (buffer_ or block_)
  std::string pendingBytes_;  // an incomplete UTF-16 unit carried to the next fill
  std::int32_t line_ = 1;
  // KeepReadText: the block being read into and how much of it is filled;
  // a memory stream's text moves into blocks from memoryRead_ on. While
  // KeepReadText holds, the block of the line ReadLineView returned last.
  std::shared_ptr<const io::HugeBlock> block_;
  std::shared_ptr<const io::HugeBlock> spare_;  // the block finished last
  std::size_t blockUsed_ = 0;
  std::size_t memoryRead_ = 0;
  // KeepReadText on a file longer than a block: the blocks read ahead.
  std::unique_ptr<io::BlockReader> readAhead_;
  // The executor's generation when the stream was made: a file stream made
  // before a fork belongs, in the child, to the parent.
  std::uint64_t generation_ = io::Executor::Generation();

  // One read of the file, of at most `size` bytes from fileRead_ on (a pipe
  // or terminal gives what it has); 0 at its end, which the stream then
  // keeps to. Raises 57.
  std::size_t ReadFile(char* into, std::size_t size);
  bool Inherited() const { return !memory_ && generation_ != io::Executor::Generation(); }
  // Lets an inherited file go: the parent's unwritten text is dropped
  // unwritten and its file is neither published nor removed.
  void DropInherited() noexcept;
};

}  // namespace qm

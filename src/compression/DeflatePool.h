#pragma once
// Reads and deflates the files of an archive ahead of the writer, in helper
// tasks on the library's executor (io/Executor.h), and hands each one over
// when the writer reaches it. The writer
// (libzip, one entry at a time) only copies finished bytes, so an archive of
// many files takes about the time of one core's share of the deflating.
//
// The bytes of each member are those one raw deflate stream at the pool's
// level gives for the file alone, whichever thread made them. Memory stays
// bounded: helpers stop reading ahead while the members they have finished
// (or are working on) and the writer has not taken yet add up to the limit.
//
// The pool owns no thread: its helpers are an io::TaskGroup's. The
// destructor stops the pool and waits for the helpers that have begun; one
// still queued then returns at once when it starts. Without a thread to be
// had the writer does every file itself.
//
// In a child process after fork, a pool made before the fork is the parent's:
// Plan, Start, Take and Make raise 75 (io::RaiseInherited) and the destructor
// lets the shared block go without waiting for the parent's helpers, which
// do not exist here (io/AfterFork.h).

#include <sys/types.h>
#include <zlib.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "io/TaskGroup.h"

namespace qm::compression {

/// One raw deflate stream (no zlib header, as zip entries hold it), reset for
/// every file.
class Deflater {
 public:
  explicit Deflater(int level);
  ~Deflater();
  Deflater(const Deflater&) = delete;
  Deflater& operator=(const Deflater&) = delete;

  /// Deflates `size` bytes into `out` (replacing its content). False when zlib fails.
  bool Deflate(const std::uint8_t* data, std::size_t size, std::vector<std::uint8_t>& out);

 private:
  z_stream stream_{};
};

/// A file read and deflated, or the reason it could not be.
struct DeflatedFile {
  int ZipError = 0;     // a libzip ZIP_ER_ code; 0 when the bytes are there
  int SystemError = 0;  // errno for open and read failures
  std::uint64_t Size = 0;
  std::uint32_t Crc = 0;
  std::vector<std::uint8_t> Deflated;
};

/// Reads `path` (refused when it has grown beyond `maxSize`) and deflates it.
DeflatedFile ReadAndDeflate(const std::string& path, off_t maxSize, Deflater& deflater);

class DeflatePool {
 public:
  /// Up to `helpers` helper tasks besides the writer; `memoryLimit` bytes of
  /// file read ahead at most (one file is always allowed).
  DeflatePool(int level, off_t maxFileSize, unsigned helpers, std::uint64_t memoryLimit);
  ~DeflatePool();
  DeflatePool(const DeflatePool&) = delete;
  DeflatePool& operator=(const DeflatePool&) = delete;

  /// The helpers for this process: one per executor thread (the writer
  /// mostly waits and copies), none when the executor has one thread or none.
  static unsigned HelpersForThisMachine();

  /// Plans a file (with its expected size) and returns its number. Helpers
  /// take planned files in this order, so plan them in the writer's order.
  std::size_t Plan(std::string path, off_t expectedSize);
  /// Posts the helper tasks (fewer, or none, when the executor refuses);
  /// plan nothing after this.
  void Start();
  /// The file's result, waiting for a helper that is working on it, or doing
  /// the work on this thread when no helper has begun it. A second call for
  /// the same file reads and deflates it again.
  DeflatedFile Take(std::size_t file);
  /// Reads and deflates a file on this thread, outside the plan.
  DeflatedFile Make(const std::string& path);

 private:
  struct Shared;  // what the helpers share with the writer (DeflatePool.cpp)
  bool Inherited() const noexcept;
  void CheckOwn() const;  // raises 75 in a child after fork

  const unsigned helpers_;
  const std::uint64_t generation_;  // the executor's, at construction
  std::shared_ptr<Shared> shared_;
  Deflater writerDeflater_;
  io::TaskGroup group_;  // gone first: its helpers use the members above
};

}  // namespace qm::compression

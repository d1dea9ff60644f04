#pragma once
// The archive file being written, with a large buffer of its own: lines of
// text go in through `Line`, encoders write straight into `Reserve`d space.
//
// A file is written through an AtomicFile: nothing is visible until
// `Publish`, which replaces the old archive in one step; an output destroyed
// before that leaves the old archive as it was. A target that is no regular
// file (a device such as /dev/null, a pipe) cannot be replaced and is written
// in place.
//
// In a child after fork an output made before it is the parent's: Line,
// Reserve and Rollback raise 75 when they would write or cut the file,
// Publish raises 75, and the destructor writes nothing.

#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace qm::io {
class AtomicFile;
}

namespace qm::mdlHTML2MHT {

class MhtOutput {
 public:
  /// Prepares the archive `path`: 76 when its folder is missing, 70 when
  /// access is refused (a read-only archive included), 75 otherwise.
  explicit MhtOutput(const std::string& path);
  /// Drops what was not published.
  ~MhtOutput();
  MhtOutput(const MhtOutput&) = delete;
  MhtOutput& operator=(const MhtOutput&) = delete;

  /// Writes `text` and CR LF.
  void Line(std::string_view text);
  /// Room for `count` bytes at the end of the buffer; `Commit` says how many were used.
  char* Reserve(std::size_t count);
  void Commit(std::size_t count) { used_ += count; }

  /// The place the next byte goes to; `Rollback` forgets everything written
  /// after it (a part that could not be read to its end).
  std::uint64_t Mark() const { return flushed_ + used_; }
  void Rollback(std::uint64_t mark);

  /// Writes out what is buffered and makes the archive the target's content;
  /// 57 "Device I/O error: <path>" when a write failed (and from Line,
  /// Reserve and Rollback, which write out a full buffer).
  void Publish();

 private:
  void Flush();
  bool Inherited() const noexcept;
  [[noreturn]] void RaiseWriteFailure(int error, const std::exception* failure = nullptr) const;

  std::string path_;
  std::unique_ptr<io::AtomicFile> file_;  // a regular file, replaced at Publish
  int device_ = -1;                       // a target written in place
  int fd_ = -1;                           // where the bytes go
  std::vector<char> buffer_;
  std::size_t used_ = 0;
  std::uint64_t flushed_ = 0;
  std::uint64_t generation_ = 0;  // the executor's, at construction
};

}  // namespace qm::mdlHTML2MHT

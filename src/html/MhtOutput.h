#pragma once
// The archive file being written, with a large buffer of its own: lines of
// text go in through `Line`, encoders write straight into `Reserve`d space.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace qm::mdlHTML2MHT {

class MhtOutput {
 public:
  /// Creates or truncates the file: 76 when its folder is missing, 70 when
  /// access is refused, 75 otherwise.
  explicit MhtOutput(const std::string& path);
  /// Writes out what is buffered and closes, without reporting: `Close` is
  /// the reporting path.
  ~MhtOutput();
  MhtOutput(const MhtOutput&) = delete;
  MhtOutput& operator=(const MhtOutput&) = delete;

  /// Writes `text` and CR LF.
  void Line(std::string_view text);
  /// Room for `count` bytes at the end of the buffer; `Commit` says how many were used.
  char* Reserve(std::size_t count);
  void Commit(std::size_t count) { used_ += count; }
  /// Writes out what is buffered and closes; 57 when any write failed.
  void Close();

 private:
  void Flush();

  int fd_ = -1;
  std::vector<char> buffer_;
  std::size_t used_ = 0;
  bool failed_ = false;
};

}  // namespace qm::mdlHTML2MHT

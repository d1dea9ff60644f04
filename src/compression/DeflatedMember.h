#pragma once
// Files handed to libzip already deflated. libzip's own path sets up (and,
// with glibc, pages in) a fresh deflate state of some 400 KB for every entry
// and deflates on the writing thread only; here a DeflatePool reads and
// deflates the files on every core while libzip writes them in order.

#include <sys/stat.h>
#include <zip.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "compression/DeflatePool.h"

namespace qm::compression {

/// A libzip source for one file: its deflated bytes are taken from the pool
/// when libzip first asks for them (while writing the archive, one entry at a
/// time), and released when libzip has copied them. The sizes and CRC stay
/// known for libzip's questions after the copy.
class DeflatedMember {
 public:
  /// Files up to this size go through a DeflatedMember; larger ones stream
  /// through libzip's own file source, which holds no whole file in memory.
  static constexpr off_t kMaxSize = 16 << 20;

  DeflatedMember(std::string path, const struct stat& info, DeflatePool& pool);
  ~DeflatedMember();
  DeflatedMember(const DeflatedMember&) = delete;
  DeflatedMember& operator=(const DeflatedMember&) = delete;

  /// The source for zip_file_add. The object must outlive the archive handle.
  zip_source_t* Source(zip_t* archive);
  /// Puts the file into the pool's plan under the number it returns.
  void PlanIn(DeflatePool& pool);

  const std::string& Path() const { return path_; }
  /// Whether reading or deflating the file failed, and why (libzip's words).
  bool Failed() const { return zip_error_code_zip(&error_) != ZIP_ER_OK; }
  std::string Problem();

 private:
  static zip_int64_t Callback(void* self, void* data, zip_uint64_t length, zip_source_cmd_t command);
  zip_int64_t Handle(void* data, zip_uint64_t length, zip_source_cmd_t command);
  bool Prepare();
  zip_int64_t Fail(int zipError, int systemError);

  std::string path_;
  off_t sizeOnDisk_;  // as the file was looked at: the pool's weight
  time_t mtime_;
  DeflatePool& pool_;
  std::size_t file_ = 0;  // the pool's number for it
  bool planned_ = false;
  bool prepared_ = false;  // deflated_ holds the data
  bool known_ = false;     // sizes and CRC are known
  std::uint64_t size_ = 0;
  std::uint64_t compressedSize_ = 0;
  std::uint32_t crc_ = 0;
  std::vector<std::uint8_t> deflated_;
  std::size_t offset_ = 0;
  zip_error_t error_{};
};

/// The deflated members of one archive and the pool that makes their bytes.
class DeflatedMembers {
 public:
  explicit DeflatedMembers(int level);

  /// A new member's source for zip_file_add (null when libzip refuses it).
  zip_source_t* Source(zip_t* archive, const std::string& path, const struct stat& info);
  /// Records the entry that the last source was added as; a later member
  /// added as the same entry replaces it.
  void Placed(zip_uint64_t entry);
  /// Plans the placed members in entry order (libzip's writing order) and
  /// starts the pool. Call just before zip_close.
  void Start();
  /// The first member whose file could not be read or deflated, or null.
  DeflatedMember* FirstFailure() const;

 private:
  DeflatePool pool_;
  std::vector<std::unique_ptr<DeflatedMember>> members_;
  std::map<zip_uint64_t, DeflatedMember*> byEntry_;
};

}  // namespace qm::compression

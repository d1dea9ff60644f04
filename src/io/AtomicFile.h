#pragma once
// Writes a file as a whole so that a crash at any instant leaves either the
// old file or the new one, complete: the bytes go to a hidden temporary in
// the target's folder, and Commit() flushes and syncs it, renames it over the
// target and syncs the folder. An AtomicFile destroyed without Commit()
// removes its temporary and leaves the target untouched.
//
// The temporary is named ".<target name>.~qm<pid>-<random>"; leftovers of a
// killed writer (their process no longer runs) are removed by the next
// AtomicFile for the same target.

#include <cstddef>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

namespace qm::io {

class AtomicFile {
 public:
  // What the new file takes over from the one it replaces.
  enum class Replace {
    // A symbolic link is followed, so the file it names is replaced and the
    // link kept; the new file gets the old one's permission bits (and owner,
    // where allowed); a file without write permission is refused (EACCES),
    // and so is a device, pipe or socket (EINVAL).
    // What writing over the old file in place would give.
    Contents,
    // The name itself gets a new file with a new file's permissions (0666
    // less the umask); a link is replaced, not followed. What deleting the
    // old file first and creating a new one would give.
    Name,
  };

  // Creates the temporary beside `target` (exclusive create). Failures throw
  // std::filesystem::filesystem_error with the system's error code.
  explicit AtomicFile(const std::filesystem::path& target, Replace how = Replace::Contents);
  ~AtomicFile();
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  // Appends bytes to the temporary. Every few megabytes the system is told to
  // start writing them out, so that Commit's sync has little left to wait for.
  void Write(const void* data, std::size_t size);
  void Write(std::string_view bytes) { Write(bytes.data(), bytes.size()); }
  // Appends bytes on a thread of the file's own, so that the caller goes on
  // while the system copies them, and gives back an empty buffer to fill
  // next (one written already, when there is one). A write that failed is
  // raised by the next WriteBehind, Write or Commit.
  std::string WriteBehind(std::string bytes);

  // The temporary's descriptor, for libraries that write through one.
  int Descriptor() const noexcept { return fd_; }
  // The temporary's path, for libraries that write to a named file; whatever
  // they leave there is what Commit() publishes.
  const std::filesystem::path& TemporaryPath() const noexcept { return temporary_; }
  // The file that Commit() replaces (the link's target when the target is a link).
  const std::filesystem::path& Target() const noexcept { return target_; }

  // Syncs the temporary, renames it over the target and syncs the folder.
  void Commit();
  // Removes the temporary without touching the target (also done on destruction).
  void Discard() noexcept;

  // Replaces `target` with `bytes` in one step.
  static void WriteWhole(const std::filesystem::path& target, std::string_view bytes,
                         Replace how = Replace::Contents);
  // Replaces `target` with a copy of `source`, which lends it its permission
  // bits (like std::filesystem::copy_file over an existing file).
  static void CopyWhole(const std::filesystem::path& source, const std::filesystem::path& target);

 private:
  class Behind;
  void WriteNow(const void* data, std::size_t size);
  void Drain();  // waits for the bytes queued behind

  std::filesystem::path target_;
  std::filesystem::path temporary_;
  int fd_ = -1;
  std::size_t written_ = 0;  // bytes written through Write
  std::size_t flushed_ = 0;  // of which the system was told to start writing out
  std::unique_ptr<Behind> behind_;  // the thread of WriteBehind, once there was one
};

// Syncs a folder, so that a rename or a new name in it survives a crash.
void SyncFolder(const std::filesystem::path& folder) noexcept;

}  // namespace qm::io

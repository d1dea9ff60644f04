#pragma once
// Writes a file as a whole so that a crash at any instant leaves either the
// old file or the new one, complete.
//
// - The bytes go to a temporary without a name, made in the target's folder
//   (open with O_TMPFILE). Commit() syncs it, links it under a hidden name
//   beside the target (".<target name>.~qm<pid>-<random>"), renames that
//   over the target and syncs the folder. A writer killed before Commit
//   leaves nothing behind (the file system frees a file without a name);
//   only a kill in the instant between the link and the rename leaves the
//   hidden name.
// - Where the file system has no O_TMPFILE (and for Temporary::Named, for
//   libraries that write to a named file), the temporary is a hidden file
//   created under that name (exclusive create); a writer killed mid-write
//   leaves it behind.
// - The folder is never listed and nothing is ever removed but the writer's
//   own temporary: leftovers (of this scheme or the older one, which removed
//   temporaries whose writer's process id looked dead) are left alone, as a
//   folder may be shared with other machines, where process ids say nothing.
// - A write that fails (Write or WriteBehind) is kept: every later Write,
//   WriteBehind and Commit raises it, and Commit never publishes the file.
//   A folder sync that fails after the rename is raised by Commit as well.
// - Every system call goes through io::sys (System.h): EINTR is retried and
//   descriptors are close-on-exec.
// - An AtomicFile destroyed without Commit() drops its temporary and leaves
//   the target untouched.
// - In a child process after fork, an AtomicFile made before the fork is the
//   parent's: Write, WriteBehind and Commit raise qm::Error 75 (through
//   io::RaiseInherited), nothing is published or removed, and the destructor
//   only closes the child's copy of the descriptor, never waiting for the
//   parent's writes.
//
// Internal, not exported: programs and the ui library write whole files
// through qm::AtomicFileWriter (quillmark/utility/AtomicFileWriter.h).

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace qm::io {

class Lane;

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

  // What the temporary is.
  enum class Temporary {
    // Without a name where the file system allows (O_TMPFILE): written only
    // through Write, WriteBehind and Descriptor().
    Unnamed,
    // A hidden file beside the target, for libraries that write to a named
    // file (TemporaryPath()).
    Named,
  };

  // Creates the temporary in the target's folder. Failures throw
  // std::filesystem::filesystem_error with the system's error code.
  explicit AtomicFile(const std::filesystem::path& target, Replace how = Replace::Contents,
                      Temporary temporary = Temporary::Unnamed);
  ~AtomicFile();
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  // Appends bytes to the temporary. Every few megabytes the system is told to
  // start writing them out, so that Commit's sync has little left to wait for.
  void Write(const void* data, std::size_t size);
  void Write(std::string_view bytes) { Write(bytes.data(), bytes.size()); }
  // Appends bytes through a lane of the executor (on the caller's thread
  // when no helper thread can be had), so that the caller goes on while the
  // system copies them, and gives back an empty buffer to fill next (one
  // written already, when there is one). A write that failed is raised by
  // the next WriteBehind, Write or Commit.
  std::string WriteBehind(std::string bytes);

  // The temporary's descriptor, for libraries that write through one.
  int Descriptor() const noexcept { return fd_; }
  // The temporary's path, for libraries that write to a named file; whatever
  // they leave there is what Commit() publishes. Empty unless the temporary
  // has a name (always so for Temporary::Named).
  const std::filesystem::path& TemporaryPath() const noexcept { return temporary_; }
  // The file that Commit() replaces (the link's target when the target is a link).
  const std::filesystem::path& Target() const noexcept { return target_; }

  // Syncs the temporary, puts it in place of the target and syncs the
  // folder. Raises, and drops the temporary keeping the old file, when any
  // write failed. A folder that cannot be synced is raised too, as a write
  // failure of the target, though the new file is in place by then (a
  // frame::FolderNotSynced, which says so): a crash soon after could bring back the old file. Writing
  // the same content again is the remedy either way. A folder the user may not read (write and search
  // permission only) cannot be opened to sync: there the sync is left out.
  void Commit();
  // Drops the temporary without touching the target (also done on destruction).
  void Discard() noexcept;

  // Replaces `target` with `bytes` in one step.
  static void WriteWhole(const std::filesystem::path& target, std::string_view bytes, Replace how = Replace::Contents);
  // Replaces `target` with a copy of `source`, which lends it its permission
  // bits (like std::filesystem::copy_file over an existing file).
  static void CopyWhole(const std::filesystem::path& source, const std::filesystem::path& target);

  // For tests: temporaries made from now on have a name (the path taken where
  // the file system has no O_TMPFILE), or are without one where possible.
  static void ForceNamedTemporaries(bool force) noexcept;

 private:
  void WriteNow(const void* data, std::size_t size);
  void Drain();        // waits for the bytes queued behind
  void CheckUsable();  // raises in a child after fork and after a failed write
  [[noreturn]] void Failed(int error);
  bool Inherited() const noexcept;
  void Publish();

  std::filesystem::path target_;
  std::filesystem::path temporary_;  // empty for a temporary without a name
  int fd_ = -1;
  std::uint64_t generation_ = 0;  // the executor's, at construction
  std::atomic<int> failure_{0};   // errno of the first failed write (sticky)
  std::size_t written_ = 0;       // bytes written
  std::size_t flushed_ = 0;       // of which the system was told to start writing out
  std::mutex sparesLock_;
  std::vector<std::string> spares_;  // buffers written behind, emptied, to fill again
  std::unique_ptr<Lane> lane_;       // last: its tasks use the members above
};

// Syncs a folder, so that a rename or a new name in it survives a crash.
// Throws std::filesystem::filesystem_error when the folder cannot be opened
// or synced; one the user may not read (EACCES or EPERM on opening it) is
// left unsynced, as no process of the user's could sync it.
void SyncFolder(const std::filesystem::path& folder);

}  // namespace qm::io

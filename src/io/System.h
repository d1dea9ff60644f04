#pragma once
// The one way the library's own code makes a system call that touches the
// file system or can block: opening, reading, writing, syncing, naming and
// listing files, waiting for a child process, polling.
//
// - A call that a signal interrupts (EINTR) is made again, so a handler
//   installed without SA_RESTART never ends a read or a write halfway. Close
//   is not: Linux releases the descriptor even when it answers EINTR, and a
//   second close could hit a descriptor another thread has just opened.
// - Every descriptor and stream is opened close-on-exec, so programs the
//   host starts inherit none of the library's files.
// - A write to a pipe or socket whose reader has gone answers EPIPE and never
//   raises SIGPIPE: the signal is held back in the writing thread for the
//   write, and one the write caused is taken off before it is let through.
//   The host's dispositions and its threads' masks stay as they were.
// - The calls answer as the system calls do (-1 or nullptr, with errno).
//   ReadFull and WriteAll loop over short counts.
//
// For tests, a Faults object installed with SetFaults sees each call before
// it is made and may fail it with an errno or make it short
// (tests/support/FaultInjection.h counts calls and fails the Nth).

#include <dirent.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <time.h>

#include <cstddef>
#include <cstdio>
#include <string>

namespace qm::io::sys {

int Open(const char* path, int flags, mode_t mode = 0);
int OpenAt(int folder, const char* path, int flags, mode_t mode = 0);
int Close(int fd);

ssize_t Read(int fd, void* buffer, std::size_t size);
ssize_t PRead(int fd, void* buffer, std::size_t size, off_t offset);
ssize_t Write(int fd, const void* bytes, std::size_t size);
ssize_t PWrite(int fd, const void* bytes, std::size_t size, off_t offset);
/// Reads until `size` bytes or the end of the file: the bytes read, or -1.
ssize_t ReadFull(int fd, void* buffer, std::size_t size);
/// Reads at `offset` until `size` bytes or the end of the file: the bytes read, or -1.
ssize_t PReadFull(int fd, void* buffer, std::size_t size, off_t offset);
/// Writes all of `bytes`: 0, or -1 with errno.
int WriteAll(int fd, const void* bytes, std::size_t size);

int Fsync(int fd);
int Fdatasync(int fd);
int Ftruncate(int fd, off_t length);
int Fstat(int fd, struct stat* info);
int Stat(const char* path, struct stat* info);
int Lstat(const char* path, struct stat* info);
int FstatAt(int folder, const char* path, struct stat* info, int flags);
int Access(const char* path, int mode);
ssize_t ReadLink(const char* path, char* buffer, std::size_t size);
int Fchmod(int fd, mode_t mode);
int Chmod(const char* path, mode_t mode);
int Fchown(int fd, uid_t owner, gid_t group);
int UtimensAt(int folder, const char* path, const timespec times[2], int flags);
/// Makes `to` a copy of `from` (left open across exec, as dup2 leaves it).
int Dup2(int from, int to);

int Rename(const char* from, const char* to);
int LinkAt(int fromFolder, const char* from, int toFolder, const char* to, int flags);
int Unlink(const char* path);
int Rmdir(const char* path);
int Mkdir(const char* path, mode_t mode);

DIR* OpenDir(const char* path);
/// The next entry, or nullptr at the end (errno 0) or on failure (errno set).
dirent* ReadDir(DIR* folder);
int CloseDir(DIR* folder);

/// For libraries that take a stream: opened close-on-exec ("e" is added to
/// `mode`). Fread goes on after EINTR and answers the bytes read (fewer only
/// at the end of the file) or -1. Fwrite answers 0, or -1 when not all of
/// `bytes` could be written; Fwrite and Fflush do not go on after a real
/// EINTR, since the C library drops what its interrupted write did not take:
/// a stream written where signals arrive sits on a descriptor of our own
/// (fopencookie over Write, which goes on). errno says why.
std::FILE* Fopen(const char* path, const char* mode);
ssize_t Fread(void* buffer, std::size_t size, std::FILE* stream);
int Fwrite(const void* bytes, std::size_t size, std::FILE* stream);
int Fflush(std::FILE* stream);
int Fclose(std::FILE* stream);

/// Reads the whole file at `path` into `bytes`: 0, or -1 with errno (EISDIR
/// for a folder). Built on the calls above.
int ReadWhole(const char* path, std::string& bytes);

/// Removes `path` and, when it is a folder, everything in it (links are
/// removed, never followed): 0 when it is gone (or was never there), -1 with
/// the errno of the first failure. Built on the calls above.
int RemoveAll(const char* path);

pid_t WaitPid(pid_t child, int* status, int options);
/// Polls; a signal does not end the wait early (the time left is waited).
int Poll(pollfd* fds, nfds_t count, int timeoutMs);

// ---- For tests ----------------------------------------------------------

/// The kinds of call a Faults object sees (stdio counts as Open, Read,
/// Write, Fsync for fflush, and Close).
/// Chmod stands for the calls that change a file's mode, owner or times.
enum class Call {
  Open,
  Close,
  Read,
  Write,
  Fsync,
  Truncate,
  Stat,
  Rename,
  Link,
  Unlink,
  Mkdir,
  ReadDir,
  Wait,
  Poll,
  Chmod
};

class Faults {
 public:
  /// Answer of Before that makes a read or write move at most half the bytes asked (at least 1).
  static constexpr int kShort = -1;

  virtual ~Faults() = default;
  /// Called before each call is made: 0 lets it run, an errno fails it
  /// without making it (Close releases the descriptor all the same),
  /// kShort shortens a read or a write.
  virtual int Before(Call call) noexcept = 0;
};

/// Installs `faults` for every thread (nullptr: none). The caller keeps it
/// alive until it is replaced.
void SetFaults(Faults* faults) noexcept;

}  // namespace qm::io::sys

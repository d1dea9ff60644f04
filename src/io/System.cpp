#include "io/System.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

namespace qm::io::sys {
namespace {

std::atomic<Faults*> installed{nullptr};

// 0 to make the call; an errno (set in errno) to fail it; Faults::kShort.
int Injected(Call call) noexcept {
  Faults* faults = installed.load(std::memory_order_acquire);
  if (faults == nullptr) return 0;
  const int answer = faults->Before(call);
  if (answer > 0) errno = answer;
  return answer;
}

// Makes `call` again while a signal interrupts it (and while a test makes
// it fail with EINTR). `size` is shortened when a test asks for it.
template <typename Make>
auto Retried(Call call, Make make) {
  for (;;) {
    const int fault = Injected(call);
    if (fault > 0) {
      if (fault == EINTR) continue;
      return decltype(make(false))(-1);
    }
    const auto result = make(fault == Faults::kShort);
    if (result == -1 && errno == EINTR) continue;
    return result;
  }
}

std::size_t Shortened(std::size_t size, bool shorten) { return shorten && size > 1 ? size / 2 : size; }

// Holds SIGPIPE back in this thread for one write, and takes off a SIGPIPE
// that the write raised, so that a pipe without a reader answers EPIPE.
class QuietPipe {
 public:
  QuietPipe() noexcept {
    ::sigemptyset(&pipe_);
    ::sigaddset(&pipe_, SIGPIPE);
    ::pthread_sigmask(SIG_BLOCK, &pipe_, &old_);
    sigset_t pending;
    ::sigemptyset(&pending);
    wasPending_ = ::sigpending(&pending) == 0 && ::sigismember(&pending, SIGPIPE) == 1;
  }
  ~QuietPipe() {
    if (::sigismember(&old_, SIGPIPE) != 1) ::pthread_sigmask(SIG_SETMASK, &old_, nullptr);
  }
  QuietPipe(const QuietPipe&) = delete;
  QuietPipe& operator=(const QuietPipe&) = delete;

  // After a write answered EPIPE: the SIGPIPE it raised never reaches the host.
  void TakeRaised() noexcept {
    if (wasPending_) return;  // one the host had pending stays its own
    const int saved = errno;
    const timespec now{};
    while (::sigtimedwait(&pipe_, nullptr, &now) == -1 && errno == EINTR) {}
    errno = saved;
  }

 private:
  sigset_t pipe_{};
  sigset_t old_{};
  bool wasPending_ = false;
};

template <typename WriteCall>
ssize_t QuietWrite(WriteCall write) {
  QuietPipe quiet;
  const ssize_t wrote = write();
  if (wrote == -1 && errno == EPIPE) quiet.TakeRaised();
  return wrote;
}

}  // namespace

void SetFaults(Faults* faults) noexcept { installed.store(faults, std::memory_order_release); }

int Open(const char* path, int flags, mode_t mode) {
  return Retried(Call::Open, [&](bool) { return ::open(path, flags | O_CLOEXEC, mode); });
}

int OpenAt(int folder, const char* path, int flags, mode_t mode) {
  return Retried(Call::Open, [&](bool) { return ::openat(folder, path, flags | O_CLOEXEC, mode); });
}

int Close(int fd) {
  const int fault = Injected(Call::Close);
  const int closed = ::close(fd);
  if (fault > 0 && fault != EINTR) {
    errno = fault;
    return -1;
  }
  // EINTR from close: the descriptor is released all the same on Linux.
  return closed == -1 && errno == EINTR ? 0 : closed;
}

ssize_t Read(int fd, void* buffer, std::size_t size) {
  return Retried(Call::Read, [&](bool shorten) { return ::read(fd, buffer, Shortened(size, shorten)); });
}

ssize_t PRead(int fd, void* buffer, std::size_t size, off_t offset) {
  return Retried(Call::Read, [&](bool shorten) { return ::pread(fd, buffer, Shortened(size, shorten), offset); });
}

ssize_t Write(int fd, const void* bytes, std::size_t size) {
  return Retried(Call::Write, [&](bool shorten) {
    return QuietWrite([&] { return ::write(fd, bytes, Shortened(size, shorten)); });
  });
}

ssize_t PWrite(int fd, const void* bytes, std::size_t size, off_t offset) {
  return Retried(Call::Write, [&](bool shorten) {
    return QuietWrite([&] { return ::pwrite(fd, bytes, Shortened(size, shorten), offset); });
  });
}

ssize_t ReadFull(int fd, void* buffer, std::size_t size) {
  auto* at = static_cast<char*>(buffer);
  std::size_t done = 0;
  while (done < size) {
    const ssize_t got = Read(fd, at + done, size - done);
    if (got < 0) return -1;
    if (got == 0) break;
    done += static_cast<std::size_t>(got);
  }
  return static_cast<ssize_t>(done);
}

ssize_t PReadFull(int fd, void* buffer, std::size_t size, off_t offset) {
  auto* at = static_cast<char*>(buffer);
  std::size_t done = 0;
  while (done < size) {
    const ssize_t got = PRead(fd, at + done, size - done, offset + static_cast<off_t>(done));
    if (got < 0) return -1;
    if (got == 0) break;
    done += static_cast<std::size_t>(got);
  }
  return static_cast<ssize_t>(done);
}

int WriteAll(int fd, const void* bytes, std::size_t size) {
  const auto* at = static_cast<const char*>(bytes);
  while (size > 0) {
    const ssize_t wrote = Write(fd, at, size);
    if (wrote < 0) return -1;
    if (wrote == 0) {
      errno = EIO;
      return -1;
    }
    at += wrote;
    size -= static_cast<std::size_t>(wrote);
  }
  return 0;
}

int Fsync(int fd) {
  return Retried(Call::Fsync, [&](bool) { return ::fsync(fd); });
}

int Fdatasync(int fd) {
  return Retried(Call::Fsync, [&](bool) { return ::fdatasync(fd); });
}

int Ftruncate(int fd, off_t length) {
  return Retried(Call::Truncate, [&](bool) { return ::ftruncate(fd, length); });
}

int Fstat(int fd, struct stat* info) {
  return Retried(Call::Stat, [&](bool) { return ::fstat(fd, info); });
}

int Stat(const char* path, struct stat* info) {
  return Retried(Call::Stat, [&](bool) { return ::stat(path, info); });
}

int Lstat(const char* path, struct stat* info) {
  return Retried(Call::Stat, [&](bool) { return ::lstat(path, info); });
}

int FstatAt(int folder, const char* path, struct stat* info, int flags) {
  return Retried(Call::Stat, [&](bool) { return ::fstatat(folder, path, info, flags); });
}

int Access(const char* path, int mode) {
  return Retried(Call::Stat, [&](bool) { return ::access(path, mode); });
}

ssize_t ReadLink(const char* path, char* buffer, std::size_t size) {
  return Retried(Call::Stat, [&](bool) { return ::readlink(path, buffer, size); });
}

int Fchmod(int fd, mode_t mode) {
  return Retried(Call::Chmod, [&](bool) { return ::fchmod(fd, mode); });
}

int Chmod(const char* path, mode_t mode) {
  return Retried(Call::Chmod, [&](bool) { return ::chmod(path, mode); });
}

int Fchown(int fd, uid_t owner, gid_t group) {
  return Retried(Call::Chmod, [&](bool) { return ::fchown(fd, owner, group); });
}

int UtimensAt(int folder, const char* path, const timespec times[2], int flags) {
  return Retried(Call::Chmod, [&](bool) { return ::utimensat(folder, path, times, flags); });
}

int Dup2(int from, int to) {
  return Retried(Call::Open, [&](bool) { return ::dup2(from, to); });
}

int Rename(const char* from, const char* to) {
  return Retried(Call::Rename, [&](bool) { return ::rename(from, to); });
}

int LinkAt(int fromFolder, const char* from, int toFolder, const char* to, int flags) {
  return Retried(Call::Link, [&](bool) { return ::linkat(fromFolder, from, toFolder, to, flags); });
}

int Unlink(const char* path) {
  return Retried(Call::Unlink, [&](bool) { return ::unlink(path); });
}

int Rmdir(const char* path) {
  return Retried(Call::Unlink, [&](bool) { return ::rmdir(path); });
}

int Mkdir(const char* path, mode_t mode) {
  return Retried(Call::Mkdir, [&](bool) { return ::mkdir(path, mode); });
}

DIR* OpenDir(const char* path) {
  // Through a descriptor of our own, so that it is close-on-exec.
  const int fd = Open(path, O_RDONLY | O_DIRECTORY);
  if (fd < 0) return nullptr;
  DIR* folder = ::fdopendir(fd);
  if (folder == nullptr) {
    const int error = errno;
    ::close(fd);
    errno = error;
  }
  return folder;
}

dirent* ReadDir(DIR* folder) {
  for (;;) {
    const int fault = Injected(Call::ReadDir);
    if (fault == EINTR) continue;
    if (fault > 0) return nullptr;
    errno = 0;
    dirent* entry = ::readdir(folder);
    if (entry == nullptr && errno == EINTR) continue;
    return entry;
  }
}

int CloseDir(DIR* folder) {
  const int fault = Injected(Call::Close);
  const int closed = ::closedir(folder);
  if (fault > 0 && fault != EINTR) {
    errno = fault;
    return -1;
  }
  return closed == -1 && errno == EINTR ? 0 : closed;
}

std::FILE* Fopen(const char* path, const char* mode) {
  std::string closing = mode;
  if (closing.find('e') == std::string::npos) closing += 'e';
  for (;;) {
    const int fault = Injected(Call::Open);
    if (fault == EINTR) continue;
    if (fault > 0) return nullptr;
    std::FILE* stream = std::fopen(path, closing.c_str());
    if (stream == nullptr && errno == EINTR) continue;
    return stream;
  }
}

ssize_t Fread(void* buffer, std::size_t size, std::FILE* stream) {
  auto* at = static_cast<char*>(buffer);
  std::size_t done = 0;
  while (done < size) {
    const int fault = Injected(Call::Read);
    if (fault == EINTR) continue;
    if (fault > 0) return -1;
    const std::size_t want = Shortened(size - done, fault == Faults::kShort);
    const std::size_t got = std::fread(at + done, 1, want, stream);
    done += got;
    if (got == want) continue;
    if (std::feof(stream)) break;
    if (errno == EINTR) {
      std::clearerr(stream);
      continue;
    }
    return -1;
  }
  return static_cast<ssize_t>(done);
}

int Fwrite(const void* bytes, std::size_t size, std::FILE* stream) {
  const auto* at = static_cast<const char*>(bytes);
  QuietPipe quiet;
  while (size > 0) {
    const int fault = Injected(Call::Write);
    if (fault == EINTR) continue;
    if (fault > 0) return -1;
    const std::size_t want = Shortened(size, fault == Faults::kShort);
    const std::size_t wrote = std::fwrite(at, 1, want, stream);
    at += wrote;
    size -= wrote;
    if (wrote == want) continue;
    // No retry after a real EINTR: the C library drops the bytes its write
    // did not take, so a second try would report them written.
    if (errno == EPIPE) quiet.TakeRaised();
    return -1;
  }
  return 0;
}

int Fflush(std::FILE* stream) {
  QuietPipe quiet;
  for (;;) {
    const int fault = Injected(Call::Fsync);
    if (fault == EINTR) continue;
    if (fault > 0) return -1;
    if (std::fflush(stream) == 0) return 0;
    if (errno == EPIPE) quiet.TakeRaised();
    return -1;
  }
}

int Fclose(std::FILE* stream) {
  // What is still buffered goes out first, where EINTR can be retried.
  const int flushed = Fflush(stream);
  const int error = errno;
  const int fault = Injected(Call::Close);
  const int closed = std::fclose(stream);
  if (flushed != 0) {
    errno = error;
    return -1;
  }
  if (fault > 0 && fault != EINTR) {
    errno = fault;
    return -1;
  }
  return closed == -1 && errno == EINTR ? 0 : closed;
}

int ReadWhole(const char* path, std::string& bytes) {
  const int fd = Open(path, O_RDONLY);
  if (fd < 0) return -1;
  int failure = 0;
  struct stat info {};
  if (Fstat(fd, &info) != 0) failure = errno;
  else if (S_ISDIR(info.st_mode)) failure = EISDIR;
  bytes.clear();
  if (failure == 0 && S_ISREG(info.st_mode) && info.st_size > 0) {
    try {
      bytes.reserve(static_cast<std::size_t>(info.st_size));
    } catch (const std::exception&) {
      failure = ENOMEM;
    }
  }
  char block[65536];
  while (failure == 0) {
    const ssize_t got = Read(fd, block, sizeof block);
    if (got < 0) failure = errno;
    if (got <= 0) break;
    try {
      bytes.append(block, static_cast<std::size_t>(got));
    } catch (const std::exception&) {
      failure = ENOMEM;
    }
  }
  Close(fd);
  if (failure == 0) return 0;
  errno = failure;
  return -1;
}

int RemoveAll(const char* path) {
  // Depth first without recursion: a folder is looked at twice, to empty it
  // and, once what it held is gone, to remove it.
  struct Step {
    std::string Path;
    bool Emptied;
  };
  std::vector<Step> steps{{path, false}};
  int failure = 0;
  while (!steps.empty()) {
    Step step = std::move(steps.back());
    steps.pop_back();
    if (step.Emptied) {
      if (Rmdir(step.Path.c_str()) != 0 && errno != ENOENT && failure == 0) failure = errno;
      continue;
    }
    struct stat info {};
    if (Lstat(step.Path.c_str(), &info) != 0) {
      if (errno != ENOENT && failure == 0) failure = errno;
      continue;
    }
    if (!S_ISDIR(info.st_mode)) {
      if (Unlink(step.Path.c_str()) != 0 && errno != ENOENT && failure == 0) failure = errno;
      continue;
    }
    steps.push_back({step.Path, true});
    DIR* folder = OpenDir(step.Path.c_str());
    if (folder == nullptr) {
      if (errno != ENOENT && failure == 0) failure = errno;  // why its Rmdir fails next
      continue;
    }
    while (const dirent* entry = ReadDir(folder)) {
      const std::string_view name = entry->d_name;
      if (name != "." && name != "..") steps.push_back({step.Path + "/" + entry->d_name, false});
    }
    if (errno != 0 && failure == 0) failure = errno;  // the listing ended early
    CloseDir(folder);
  }
  if (failure == 0) return 0;
  errno = failure;
  return -1;
}

pid_t WaitPid(pid_t child, int* status, int options) {
  return Retried(Call::Wait, [&](bool) { return ::waitpid(child, status, options); });
}

int Poll(pollfd* fds, nfds_t count, int timeoutMs) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
  for (;;) {
    int wait = timeoutMs;
    if (timeoutMs > 0) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      wait = left > 0 ? static_cast<int>(left) : 0;
    }
    const int fault = Injected(Call::Poll);
    if (fault == EINTR) continue;
    if (fault > 0) return -1;
    const int ready = ::poll(fds, count, wait);
    if (ready == -1 && errno == EINTR) continue;
    return ready;
  }
}

}  // namespace qm::io::sys

#include "io/AtomicFile.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <exception>
#include <mutex>
#include <new>
#include <random>
#include <system_error>
#include <vector>

#include "io/HelperThread.h"

namespace qm::io {
namespace fs = std::filesystem;
namespace {

// Long names are shortened in the temporary's name so that it stays within
// the file system's limit of 255 bytes per name.
constexpr std::size_t kMaxEmbeddedName = 200;
constexpr std::string_view kMarker = ".~qm";
// How much is written before the system is asked to start writing it out.
constexpr std::size_t kWriteBehind = std::size_t{4} << 20;

[[noreturn]] void Fail(const char* what, const fs::path& path, int error) {
  throw fs::filesystem_error(what, path, std::error_code(error, std::generic_category()));
}

std::string TemporaryPrefix(const fs::path& target) {
  std::string name = target.filename().string();
  if (name.size() > kMaxEmbeddedName) name.resize(kMaxEmbeddedName);
  return "." + name + std::string(kMarker);
}

// Removes temporaries of the same target whose writer no longer runs.
void RemoveLeftovers(const fs::path& folder, const std::string& prefix) {
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.compare(0, prefix.size(), prefix) != 0) continue;
    const std::string rest = name.substr(prefix.size());
    const auto dash = rest.find('-');
    if (dash == 0 || dash == std::string::npos) continue;
    pid_t pid = 0;
    bool digits = true;
    for (std::size_t i = 0; i < dash; ++i) {
      if (rest[i] < '0' || rest[i] > '9' || pid > 100000000) {
        digits = false;
        break;
      }
      pid = pid * 10 + (rest[i] - '0');
    }
    if (!digits) continue;
    if (pid != ::getpid() && ::kill(pid, 0) != 0 && errno == ESRCH) ::unlink(it->path().c_str());
  }
}

fs::path ResolveTarget(const fs::path& target) {
  std::error_code ec;
  if (fs::is_symlink(fs::symlink_status(target, ec))) {
    const fs::path resolved = fs::weakly_canonical(target, ec);
    if (!ec) return resolved;
  }
  return target;
}

}  // namespace

void SyncFolder(const fs::path& folder) noexcept {
  const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

AtomicFile::AtomicFile(const fs::path& target, Replace how)
    : target_(how == Replace::Contents ? ResolveTarget(target) : target) {
  if (target_.filename().empty()) Fail("cannot write a file without a name", target, EISDIR);
  const fs::path folder = target_.parent_path();
  const std::string prefix = TemporaryPrefix(target_);
  RemoveLeftovers(folder.empty() ? fs::path(".") : folder, prefix);

  mode_t mode = 0666;
  struct stat existing {};
  const bool found = ::stat(target_.c_str(), &existing) == 0;
  if (found && S_ISDIR(existing.st_mode)) Fail("cannot replace a folder", target_, EISDIR);
  const bool exists = found && how == Replace::Contents;
  if (exists) {
    // A device, pipe or socket cannot be replaced by a file.
    if (!S_ISREG(existing.st_mode)) Fail("cannot replace a special file", target_, EINVAL);
    // Writing over a file in place needs leave to write it.
    if (::access(target_.c_str(), W_OK) != 0) Fail("cannot write", target_, errno);
    mode = existing.st_mode & 07777;
  }

  std::random_device random;
  for (int attempt = 0; attempt < 32; ++attempt) {
    char suffix[48];
    std::snprintf(suffix, sizeof suffix, "%ld-%08x", static_cast<long>(::getpid()), static_cast<unsigned>(random()));
    temporary_ = folder / (prefix + suffix);
    fd_ = ::open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, exists ? 0600 : 0666);
    if (fd_ >= 0) break;
    if (errno != EEXIST) Fail("cannot create a file beside", target_, errno);
  }
  if (fd_ < 0) Fail("cannot create a file beside", target_, EEXIST);
  if (exists) {
    // The replacement keeps the old file's permissions (and its owner, where allowed).
    if (::fchown(fd_, existing.st_uid, existing.st_gid) != 0) {
      // Only root may give a file away; the file stays the writer's own.
    }
    ::fchmod(fd_, mode);
  }
}

// Writes queued buffers in order on a thread of its own. After a failure
// nothing more is written; the failure is raised to the caller instead.
class AtomicFile::Behind {
 public:
  explicit Behind(AtomicFile& file) : file_(file) {}
  bool Started() const { return helper_.Started(); }

  std::string Queue(std::string bytes) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return queue_.size() < kQueued || failure_; });
    if (failure_) std::rethrow_exception(failure_);
    queue_.push_back(std::move(bytes));
    changed_.notify_all();
    std::string spare;
    if (!spares_.empty()) {
      spare = std::move(spares_.back());
      spares_.pop_back();
    }
    return spare;
  }

  void Drain() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return (queue_.empty() && !busy_) || failure_; });
    if (failure_) std::rethrow_exception(failure_);
  }

 private:
  static constexpr std::size_t kQueued = 2;

  void Loop() {
    std::unique_lock lock(mutex_);
    for (;;) {
      changed_.wait(lock, [&] { return helper_.Stopping() || (!queue_.empty() && !failure_); });
      if (helper_.Stopping()) return;
      std::string bytes = std::move(queue_.front());
      queue_.pop_front();
      busy_ = true;
      lock.unlock();
      std::exception_ptr failure;
      try {
        file_.WriteNow(bytes.data(), bytes.size());
      } catch (...) {
        failure = std::current_exception();
      }
      lock.lock();
      busy_ = false;
      if (failure) failure_ = failure;
      bytes.clear();
      try {
        if (spares_.size() < kQueued) spares_.push_back(std::move(bytes));
      } catch (const std::bad_alloc&) {
        // Without room to keep it the buffer simply goes.
      }
      changed_.notify_all();
    }
  }

  AtomicFile& file_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::string> queue_;
  std::vector<std::string> spares_;  // written buffers, emptied, to fill again
  std::exception_ptr failure_;
  bool busy_ = false;
  // Last: starts when the rest is ready; stops without writing what is still
  // queued (the file is discarded then).
  HelperThread helper_{mutex_, changed_, [this] { Loop(); }};
};

AtomicFile::~AtomicFile() { Discard(); }

std::string AtomicFile::WriteBehind(std::string bytes) {
  if (!behind_) behind_ = std::make_unique<Behind>(*this);
  if (!behind_->Started()) {
    // No thread to be had: written here and now.
    behind_.reset();
    WriteNow(bytes.data(), bytes.size());
    bytes.clear();
    return bytes;
  }
  return behind_->Queue(std::move(bytes));
}

void AtomicFile::Drain() {
  if (behind_) behind_->Drain();
}

void AtomicFile::Write(const void* data, std::size_t size) {
  Drain();
  WriteNow(data, size);
}

void AtomicFile::WriteNow(const void* data, std::size_t size) {
  const auto* bytes = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = ::write(fd_, bytes, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) Fail("cannot write", temporary_, n < 0 ? errno : ENOSPC);
    bytes += n;
    size -= static_cast<std::size_t>(n);
    written_ += static_cast<std::size_t>(n);
  }
  if (written_ - flushed_ >= kWriteBehind) {
    ::sync_file_range(fd_, static_cast<off_t>(flushed_), static_cast<off_t>(written_ - flushed_), SYNC_FILE_RANGE_WRITE);
    flushed_ = written_;
  }
}

void AtomicFile::Commit() {
  if (fd_ < 0) Fail("the file was already written or discarded", target_, EBADF);
  try {
    Drain();
  } catch (...) {
    Discard();
    throw;
  }
  behind_.reset();
  if (::fsync(fd_) != 0) {
    const int error = errno;
    Discard();
    Fail("cannot write", target_, error);
  }
  const int closed = ::close(fd_);
  const int closeError = errno;
  fd_ = -1;
  if (closed != 0) {
    Discard();
    Fail("cannot write", target_, closeError);
  }
  if (::rename(temporary_.c_str(), target_.c_str()) != 0) {
    const int error = errno;
    Discard();
    Fail("cannot replace", target_, error);
  }
  temporary_.clear();
  SyncFolder(target_.parent_path());
}

void AtomicFile::Discard() noexcept {
  behind_.reset();  // its thread writes to the descriptor
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  if (!temporary_.empty()) {
    ::unlink(temporary_.c_str());
    temporary_.clear();
  }
}

void AtomicFile::WriteWhole(const fs::path& target, std::string_view bytes, Replace how) {
  AtomicFile file(target, how);
  file.Write(bytes);
  file.Commit();
}

void AtomicFile::CopyWhole(const fs::path& source, const fs::path& target) {
  const int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) Fail("cannot open", source, errno);
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{in};
  struct stat info {};
  if (::fstat(in, &info) != 0) Fail("cannot open", source, errno);
  if (S_ISDIR(info.st_mode)) Fail("cannot copy a folder", source, EISDIR);
  AtomicFile file(target);
  ::fchmod(file.fd_, info.st_mode & 07777);
  char block[1 << 16];
  for (;;) {
    const ssize_t n = ::read(in, block, sizeof block);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) Fail("cannot read", source, errno);
    if (n == 0) break;
    file.Write(block, static_cast<std::size_t>(n));
  }
  file.Commit();
}

}  // namespace qm::io

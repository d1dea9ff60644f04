#include "io/AtomicFile.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <new>
#include <system_error>

#include "frame/FileErrors.h"
#include "io/Executor.h"
#include "io/Lane.h"
#include "io/System.h"

namespace qm::io {
namespace fs = std::filesystem;
namespace {

// Long names are shortened in the hidden name so that it stays within the
// file system's limit of 255 bytes per name.
constexpr std::size_t kMaxEmbeddedName = 200;
constexpr std::string_view kMarker = ".~qm";
// How much is written before the system is asked to start writing it out.
constexpr std::size_t kWriteBehind = std::size_t{4} << 20;
// Buffers queued behind at most, and written ones kept to be filled again.
constexpr std::size_t kBehind = 2;

std::atomic<bool> forceNamed{false};

[[noreturn]] void Fail(const char* what, const fs::path& path, int error) {
  throw fs::filesystem_error(what, path, std::error_code(error, std::generic_category()));
}

// ".<target name>.~qm<pid>-<random>" beside the target.
fs::path HiddenName(const fs::path& target) {
  std::string name = target.filename().string();
  if (name.size() > kMaxEmbeddedName) name.resize(kMaxEmbeddedName);
  std::uint32_t random = 0;
  if (::getrandom(&random, sizeof random, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof random)) {
    static std::atomic<std::uint32_t> counter{0};
    random = static_cast<std::uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count()) * 2654435761u +
             counter.fetch_add(1);
  }
  char suffix[48];
  std::snprintf(suffix, sizeof suffix, "%ld-%08x", static_cast<long>(::getpid()), static_cast<unsigned>(random));
  return target.parent_path() / ("." + name + std::string(kMarker) + suffix);
}

// A file system without O_TMPFILE answers one of these (an old kernel, which
// does not know the flag, sees a folder opened for writing: EISDIR).
bool LacksUnnamedFiles(int error) { return error == EOPNOTSUPP || error == EISDIR || error == EINVAL; }

// A file without a name is linked through /proc/self/fd (AT_EMPTY_PATH needs
// a privilege most writers lack); without /proc, temporaries get names.
bool CanLinkUnnamedFiles() {
  static const bool can = sys::Access("/proc/self/fd", X_OK) == 0;
  return can;
}

fs::path ResolveTarget(const fs::path& target) {
  struct stat link {};
  if (sys::Lstat(target.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
    std::error_code ec;
    const fs::path resolved = fs::weakly_canonical(target, ec);
    if (!ec) return resolved;
  }
  return target;
}

}  // namespace

void SyncFolder(const fs::path& folder) {
  const char* name = folder.empty() ? "." : folder.c_str();
  const int fd = sys::Open(name, O_RDONLY | O_DIRECTORY);
  // A folder this user may write into but not read cannot be opened, so no
  // process of this user can sync it: failing would fail every write there,
  // and writing again would never help. Only then is the sync left out.
  if (fd < 0 && (errno == EACCES || errno == EPERM)) return;
  if (fd < 0) Fail("cannot open the folder to sync it", folder, errno);
  const int synced = sys::Fsync(fd);
  const int error = errno;
  sys::Close(fd);
  if (synced != 0) Fail("cannot sync the folder", folder, error);
}

void AtomicFile::ForceNamedTemporaries(bool force) noexcept { forceNamed = force; }

AtomicFile::AtomicFile(const fs::path& target, Replace how, Temporary temporary)
    : target_(how == Replace::Contents ? ResolveTarget(target) : target), generation_(Executor::Generation()) {
  if (target_.filename().empty()) Fail("cannot write a file without a name", target, EISDIR);

  mode_t mode = 0666;
  struct stat existing {};
  const bool found = sys::Stat(target_.c_str(), &existing) == 0;
  if (found && S_ISDIR(existing.st_mode)) Fail("cannot replace a folder", target_, EISDIR);
  const bool exists = found && how == Replace::Contents;
  if (exists) {
    // A device, pipe or socket cannot be replaced by a file.
    if (!S_ISREG(existing.st_mode)) Fail("cannot replace a special file", target_, EINVAL);
    // Writing over a file in place needs leave to write it.
    if (sys::Access(target_.c_str(), W_OK) != 0) Fail("cannot write", target_, errno);
    mode = existing.st_mode & 07777;
  }
  // A new file gets 0666 less the umask from the creation, with a name or
  // without; a replacement gets the old file's bits below.
  const mode_t created = exists ? 0600 : 0666;

  if (temporary == Temporary::Unnamed && !forceNamed && CanLinkUnnamedFiles()) {
    const fs::path folder = target_.parent_path();
    fd_ = sys::Open(folder.empty() ? "." : folder.c_str(), O_TMPFILE | O_WRONLY, created);
    if (fd_ < 0 && !LacksUnnamedFiles(errno)) Fail("cannot create a file beside", target_, errno);
  }
  if (fd_ < 0) {
    // A hidden file of a name no other file has (exclusive create).
    for (int attempt = 0; attempt < 32 && fd_ < 0; ++attempt) {
      temporary_ = HiddenName(target_);
      fd_ = sys::Open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL, created);
      if (fd_ < 0 && errno != EEXIST) {
        const int error = errno;
        temporary_.clear();
        Fail("cannot create a file beside", target_, error);
      }
    }
    if (fd_ < 0) {
      temporary_.clear();
      Fail("cannot create a file beside", target_, EEXIST);
    }
  }
  if (exists) {
    // The replacement keeps the old file's permissions (and its owner, where allowed).
    if (sys::Fchown(fd_, existing.st_uid, existing.st_gid) != 0) {
      // Only root may give a file away; the file stays the writer's own.
    }
    sys::Fchmod(fd_, mode);
  }
}

AtomicFile::~AtomicFile() { Discard(); }

bool AtomicFile::Inherited() const noexcept { return generation_ != Executor::Generation(); }

void AtomicFile::CheckUsable() {
  if (Inherited()) RaiseInherited();
  if (const int error = failure_.load()) Fail("cannot write", target_, error);
  if (fd_ < 0) Fail("the file was already written or discarded", target_, EBADF);
}

void AtomicFile::Failed(int error) {
  int none = 0;
  failure_.compare_exchange_strong(none, error);
  Fail("cannot write", target_, error);
}

std::string AtomicFile::WriteBehind(std::string bytes) {
  CheckUsable();
  try {
    if (!lane_) lane_ = std::make_unique<Lane>(kBehind);
    lane_->Post([this, bytes = std::move(bytes)]() mutable {
      WriteNow(bytes.data(), bytes.size());
      bytes.clear();
      try {
        std::lock_guard lock(sparesLock_);
        if (spares_.size() < kBehind) spares_.push_back(std::move(bytes));
      } catch (const std::bad_alloc&) {
        // Without room to keep it the buffer simply goes.
      }
    });
  } catch (...) {
    // The bytes were not written (a failure before them, or no memory to
    // queue them): the file can no longer be complete.
    int none = 0;
    failure_.compare_exchange_strong(none, ENOMEM);
    throw;
  }
  std::string spare;
  std::lock_guard lock(sparesLock_);
  if (!spares_.empty()) {
    spare = std::move(spares_.back());
    spares_.pop_back();
  }
  return spare;
}

void AtomicFile::Drain() {
  if (lane_) lane_->Drain();
}

void AtomicFile::Write(const void* data, std::size_t size) {
  CheckUsable();
  Drain();
  WriteNow(data, size);
}

// On the caller's thread or, for WriteBehind, in the lane's tasks (one at a
// time, and never while the caller writes: Write drains the lane first).
void AtomicFile::WriteNow(const void* data, std::size_t size) {
  if (const int error = failure_.load()) Fail("cannot write", target_, error);
  const auto* bytes = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = sys::Write(fd_, bytes, size);
    if (n <= 0) Failed(n < 0 ? errno : ENOSPC);
    bytes += n;
    size -= static_cast<std::size_t>(n);
    written_ += static_cast<std::size_t>(n);
  }
  if (written_ - flushed_ >= kWriteBehind) {
    // A hint whose answer nobody needs, so it goes around io::sys.
    ::sync_file_range(fd_, static_cast<off_t>(flushed_), static_cast<off_t>(written_ - flushed_),
                      SYNC_FILE_RANGE_WRITE);
    flushed_ = written_;
  }
}

void AtomicFile::Commit() {
  // The parent's file: neither published nor dropped here.
  if (Inherited()) RaiseInherited();
  if (fd_ < 0) Fail("the file was already written or discarded", target_, EBADF);
  try {
    Drain();
    CheckUsable();
    Publish();
  } catch (...) {
    Discard();
    throw;
  }
}

void AtomicFile::Publish() {
  lane_.reset();
  if (sys::Fsync(fd_) != 0) Fail("cannot write", target_, errno);
  if (temporary_.empty()) {
    // The file without a name gets a hidden one beside the target (which the
    // rename takes away again), as rename needs a name to move.
    char self[64];
    std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd_);
    for (int attempt = 0; attempt < 32 && temporary_.empty(); ++attempt) {
      const fs::path name = HiddenName(target_);
      int linked = sys::LinkAt(AT_FDCWD, self, AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW);
      if (linked != 0 && errno == ENOENT) linked = sys::LinkAt(fd_, "", AT_FDCWD, name.c_str(), AT_EMPTY_PATH);
      if (linked == 0) temporary_ = name;
      else if (errno != EEXIST) Fail("cannot replace", target_, errno);
    }
    if (temporary_.empty()) Fail("cannot replace", target_, EEXIST);
  }
  const int closed = sys::Close(fd_);
  const int closeError = errno;
  fd_ = -1;
  if (closed != 0) Fail("cannot write", target_, closeError);
  if (sys::Rename(temporary_.c_str(), target_.c_str()) != 0) Fail("cannot replace", target_, errno);
  temporary_.clear();
  // The new file is in place now; a folder that cannot be synced is still a
  // failed write: a crash could bring back the old file.
  try {
    SyncFolder(target_.parent_path());
  } catch (const fs::filesystem_error& e) {
    throw frame::FolderNotSynced("the new file is in place but its folder cannot be synced", target_, e.code());
  }
}

void AtomicFile::Discard() noexcept {
  if (Inherited()) {
    // The parent's file and writes: this process only lets go of its copy of
    // the descriptor; a named temporary stays for the parent to finish.
    lane_.reset();  // an inherited lane is let go untouched (Lane.h)
    if (fd_ >= 0) sys::Close(fd_);
    fd_ = -1;
    temporary_.clear();
    return;
  }
  lane_.reset();  // waits for the write under way, which uses the descriptor
  if (fd_ >= 0) {
    sys::Close(fd_);
    fd_ = -1;
  }
  if (!temporary_.empty()) {
    sys::Unlink(temporary_.c_str());
    temporary_.clear();
  }
}

void AtomicFile::WriteWhole(const fs::path& target, std::string_view bytes, Replace how) {
  AtomicFile file(target, how);
  file.Write(bytes);
  file.Commit();
}

void AtomicFile::CopyWhole(const fs::path& source, const fs::path& target) {
  const int in = sys::Open(source.c_str(), O_RDONLY);
  if (in < 0) Fail("cannot open", source, errno);
  struct Closer {
    int fd;
    ~Closer() { sys::Close(fd); }
  } closer{in};
  struct stat info {};
  if (sys::Fstat(in, &info) != 0) Fail("cannot open", source, errno);
  if (S_ISDIR(info.st_mode)) Fail("cannot copy a folder", source, EISDIR);
  AtomicFile file(target);
  sys::Fchmod(file.fd_, info.st_mode & 07777);
  char block[1 << 16];
  for (;;) {
    const ssize_t n = sys::Read(in, block, sizeof block);
    if (n < 0) Fail("cannot read", source, errno);
    if (n == 0) break;
    file.Write(block, static_cast<std::size_t>(n));
  }
  file.Commit();
}

}  // namespace qm::io

#include "compression/DeflatePool.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <zip.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>

#include "io/AfterFork.h"
#include "io/Executor.h"
#include "io/Lane.h"
#include "io/System.h"

namespace qm::compression {

Deflater::Deflater(int level) {
  // Raw deflate (negative window bits) with zlib's default memory level.
  if (deflateInit2(&stream_, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) throw std::bad_alloc();
}

Deflater::~Deflater() { deflateEnd(&stream_); }

bool Deflater::Deflate(const std::uint8_t* data, std::size_t size, std::vector<std::uint8_t>& out) {
  if (deflateReset(&stream_) != Z_OK) return false;
  out.resize(deflateBound(&stream_, static_cast<uLong>(size)));
  stream_.next_in = const_cast<Bytef*>(data);  // zlib's interface is not const-correct
  stream_.avail_in = static_cast<uInt>(size);
  stream_.next_out = out.data();
  stream_.avail_out = static_cast<uInt>(out.size());
  const int result = deflate(&stream_, Z_FINISH);
  out.resize(stream_.total_out);
  return result == Z_STREAM_END;
}

namespace {

// Reads from `fd` until its end into `bytes`, expecting `expected` bytes (one
// more is asked for at once, so a regular file that kept its size ends with
// the first read, which comes back short once all `expected` bytes are in; a
// read cut short before them is followed by another). 0, or the errno of a
// failed read, or EFBIG when there is more than `limit`.
int ReadToEnd(int fd, bool regular, std::size_t expected, std::size_t limit, std::unique_ptr<std::uint8_t[]>& bytes,
              std::size_t& size) {
  std::size_t capacity = std::min(expected, limit) + 1;
  bytes = std::make_unique_for_overwrite<std::uint8_t[]>(capacity);
  size = 0;
  for (;;) {
    if (size == capacity) {
      if (size > limit) return EFBIG;
      const std::size_t grown = std::min(std::max<std::size_t>(capacity * 2, 4096), limit + 1);
      auto larger = std::make_unique_for_overwrite<std::uint8_t[]>(grown);
      std::memcpy(larger.get(), bytes.get(), size);
      bytes = std::move(larger);
      capacity = grown;
    }
    const std::size_t asked = capacity - size;
    const ssize_t got = io::sys::Read(fd, bytes.get() + size, asked);
    if (got < 0) return errno;
    if (got == 0) return 0;
    size += static_cast<std::size_t>(got);
    if (regular && static_cast<std::size_t>(got) < asked && size >= expected) return 0;
  }
}

}  // namespace

DeflatedFile ReadAndDeflate(const std::string& path, off_t maxSize, Deflater& deflater) {
  DeflatedFile file;
  const int fd = io::sys::Open(path.c_str(), O_RDONLY);
  if (fd < 0) {
    file.ZipError = ZIP_ER_OPEN;
    file.SystemError = errno;
    return file;
  }
  // Read to the end, not to the size the file reports: files of /proc and
  // /sys report none and have content. A file that has grown beyond the limit
  // that sent it here is refused.
  struct stat now {};
  std::size_t size = 0;
  std::unique_ptr<std::uint8_t[]> bytes;
  int readError = io::sys::Fstat(fd, &now) != 0 ? errno : now.st_size > maxSize ? EFBIG : 0;
  if (readError == 0) {
    try {
      // Files of /proc and /sys say they are regular and empty, and read short before their end.
      const bool regular = S_ISREG(now.st_mode) && now.st_size > 0;
      readError = ReadToEnd(fd, regular, static_cast<std::size_t>(std::max<off_t>(now.st_size, 0)),
                            static_cast<std::size_t>(maxSize), bytes, size);
    } catch (const std::bad_alloc&) {
      io::sys::Close(fd);
      throw;
    }
  }
  io::sys::Close(fd);
  if (readError != 0) {
    file.ZipError = ZIP_ER_READ;
    file.SystemError = readError;
    return file;
  }
  if (!deflater.Deflate(bytes.get(), size, file.Deflated)) {
    file.ZipError = ZIP_ER_ZLIB;
    return file;
  }
  file.Size = size;
  file.Crc = static_cast<std::uint32_t>(crc32_z(crc32_z(0, nullptr, 0), bytes.get(), size));
  return file;
}

struct DeflatePool::Shared {
  enum class State : std::uint8_t { Planned, Working, Done, Taken };
  struct Entry {
    std::string Path;
    std::uint64_t Weight = 0;  // memory it holds until taken
    State Status = State::Planned;
    DeflatedFile Result;
  };

  Shared(int level, off_t maxFileSize, std::uint64_t memoryLimit)
      : Level(level), MaxFileSize(maxFileSize), MemoryLimit(memoryLimit) {}

  bool MayStart(const Entry& entry) const { return InFlight == 0 || InFlight + entry.Weight <= MemoryLimit; }
  void Help() noexcept;

  const int Level;
  const off_t MaxFileSize;
  const std::uint64_t MemoryLimit;

  std::mutex Lock;
  std::condition_variable Changed;
  std::vector<Entry> Entries;  // fixed once the helpers are posted
  std::size_t Next = 0;        // helpers look for work from here
  std::uint64_t InFlight = 0;  // weight of the files helpers hold
  bool Stopping = false;       // the pool is going: helpers stop at their next file
};

// A helper's turn: files until none is left (or the pool stops).
void DeflatePool::Shared::Help() noexcept {
  std::unique_ptr<Deflater> deflater;
  try {
    deflater = std::make_unique<Deflater>(Level);
  } catch (const std::bad_alloc&) {
    return;  // the writer does the work
  }
  std::unique_lock lock(Lock);
  for (;;) {
    while (Next < Entries.size() && Entries[Next].Status != State::Planned) ++Next;
    if (Stopping || Next == Entries.size()) return;
    Entry& entry = Entries[Next];
    if (!MayStart(entry)) {
      // Waits for the writer to take a file (never for another task).
      Changed.wait(lock);
      continue;
    }
    entry.Status = State::Working;
    InFlight += entry.Weight;
    ++Next;
    lock.unlock();
    DeflatedFile result;
    try {
      result = ReadAndDeflate(entry.Path, MaxFileSize, *deflater);
    } catch (const std::bad_alloc&) {
      result = DeflatedFile{};
      result.ZipError = ZIP_ER_MEMORY;
    }
    lock.lock();
    entry.Result = std::move(result);
    entry.Status = State::Done;
    Changed.notify_all();
  }
}

DeflatePool::DeflatePool(int level, off_t maxFileSize, unsigned helpers, std::uint64_t memoryLimit)
    : helpers_(helpers),
      generation_(io::Executor::Generation()),
      shared_(std::make_shared<Shared>(level, maxFileSize, memoryLimit)),
      writerDeflater_(level) {}

DeflatePool::~DeflatePool() {
  if (Inherited()) {
    // The parent's helpers: never waited for.
    io::LetGoInChild(shared_);
    return;
  }
  // Helpers that have begun stop at their next file; the group, gone first,
  // waits for them, and queued ones never begin.
  std::lock_guard lock(shared_->Lock);
  shared_->Stopping = true;
  shared_->Changed.notify_all();
}

bool DeflatePool::Inherited() const noexcept { return generation_ != io::Executor::Generation(); }

void DeflatePool::CheckOwn() const {
  if (Inherited()) io::RaiseInherited();
}

unsigned DeflatePool::HelpersForThisMachine() {
  const unsigned threads = io::Executor::Capacity();
  return threads <= 1 ? 0 : threads;
}

std::size_t DeflatePool::Plan(std::string path, off_t expectedSize) {
  CheckOwn();
  Shared::Entry entry;
  entry.Path = std::move(path);
  entry.Weight = static_cast<std::uint64_t>(std::max<off_t>(expectedSize, 0));
  shared_->Entries.push_back(std::move(entry));
  return shared_->Entries.size() - 1;
}

void DeflatePool::Start() {
  CheckOwn();
  const std::size_t files = shared_->Entries.size();
  const auto wanted = std::min<std::size_t>(helpers_, files > 1 ? files : 0);
  // Fewer helpers, or none, when the executor refuses: the writer does what is left.
  group_.Post(static_cast<unsigned>(wanted), [shared = shared_.get()] { shared->Help(); });
}

DeflatedFile DeflatePool::Take(std::size_t file) {
  CheckOwn();
  Shared& shared = *shared_;
  std::unique_lock lock(shared.Lock);
  Shared::Entry& entry = shared.Entries.at(file);
  if (entry.Status == Shared::State::Planned || entry.Status == Shared::State::Taken) {
    entry.Status = Shared::State::Taken;
    lock.unlock();
    return Make(entry.Path);
  }
  shared.Changed.wait(lock, [&] { return entry.Status == Shared::State::Done; });
  entry.Status = Shared::State::Taken;
  shared.InFlight -= entry.Weight;
  shared.Changed.notify_all();
  return std::move(entry.Result);
}

DeflatedFile DeflatePool::Make(const std::string& path) {
  CheckOwn();
  return ReadAndDeflate(path, shared_->MaxFileSize, writerDeflater_);
}

}  // namespace qm::compression

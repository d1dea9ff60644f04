#include "compression/DeflatePool.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <new>
#include <system_error>

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
// more is asked for at once, which finds the end of a file that kept its size
// with no further read). 0, or the errno of a failed read, or EFBIG when there
// is more than `limit`.
int ReadToEnd(int fd, std::size_t expected, std::size_t limit, std::unique_ptr<std::uint8_t[]>& bytes,
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
    const ssize_t got = ::read(fd, bytes.get() + size, capacity - size);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return errno;
    if (got == 0) return 0;
    size += static_cast<std::size_t>(got);
  }
}

}  // namespace

DeflatedFile ReadAndDeflate(const std::string& path, off_t maxSize, Deflater& deflater) {
  DeflatedFile file;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
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
  int readError = ::fstat(fd, &now) != 0 ? errno : now.st_size > maxSize ? EFBIG : 0;
  if (readError == 0) {
    try {
      readError = ReadToEnd(fd, static_cast<std::size_t>(std::max<off_t>(now.st_size, 0)),
                            static_cast<std::size_t>(maxSize), bytes, size);
    } catch (const std::bad_alloc&) {
      ::close(fd);
      throw;
    }
  }
  ::close(fd);
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

DeflatePool::DeflatePool(int level, off_t maxFileSize, unsigned helpers, std::uint64_t memoryLimit)
    : level_(level), maxFileSize_(maxFileSize), helpers_(helpers), memoryLimit_(memoryLimit), writerDeflater_(level) {}

DeflatePool::~DeflatePool() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  for (auto& thread : threads_) thread.join();
}

unsigned DeflatePool::HelpersForThisMachine() {
  const unsigned cores = std::thread::hardware_concurrency();
  return cores <= 1 ? 0 : std::min(cores, 8u);
}

std::size_t DeflatePool::Plan(std::string path, off_t expectedSize) {
  Entry entry;
  entry.Path = std::move(path);
  entry.Weight = static_cast<std::uint64_t>(std::max<off_t>(expectedSize, 0));
  entries_.push_back(std::move(entry));
  return entries_.size() - 1;
}

void DeflatePool::Start() {
  const auto wanted = std::min<std::size_t>(helpers_, entries_.size() > 1 ? entries_.size() : 0);
  for (std::size_t i = 0; i < wanted; ++i) {
    try {
      threads_.emplace_back([this] { Help(); });
    } catch (const std::system_error&) {
      break;  // fewer helpers; the writer does what is left
    }
  }
}

bool DeflatePool::MayStart(const Entry& entry) const {
  return inFlight_ == 0 || inFlight_ + entry.Weight <= memoryLimit_;
}

void DeflatePool::Help() {
  std::unique_ptr<Deflater> deflater;
  try {
    deflater = std::make_unique<Deflater>(level_);
  } catch (const std::bad_alloc&) {
    return;  // the writer does the work
  }
  std::unique_lock lock(mutex_);
  for (;;) {
    while (next_ < entries_.size() && entries_[next_].Status != State::Planned) ++next_;
    if (stopping_ || next_ == entries_.size()) return;
    Entry& entry = entries_[next_];
    if (!MayStart(entry)) {
      changed_.wait(lock);
      continue;
    }
    entry.Status = State::Working;
    inFlight_ += entry.Weight;
    ++next_;
    lock.unlock();
    DeflatedFile result;
    try {
      result = ReadAndDeflate(entry.Path, maxFileSize_, *deflater);
    } catch (const std::bad_alloc&) {
      result = DeflatedFile{};
      result.ZipError = ZIP_ER_MEMORY;
    }
    lock.lock();
    entry.Result = std::move(result);
    entry.Status = State::Done;
    changed_.notify_all();
  }
}

DeflatedFile DeflatePool::Take(std::size_t file) {
  std::unique_lock lock(mutex_);
  Entry& entry = entries_.at(file);
  if (entry.Status == State::Planned || entry.Status == State::Taken) {
    entry.Status = State::Taken;
    lock.unlock();
    return Make(entry.Path);
  }
  changed_.wait(lock, [&] { return entry.Status == State::Done; });
  entry.Status = State::Taken;
  inFlight_ -= entry.Weight;
  changed_.notify_all();
  return std::move(entry.Result);
}

DeflatedFile DeflatePool::Make(const std::string& path) { return ReadAndDeflate(path, maxFileSize_, writerDeflater_); }

}  // namespace qm::compression

#include "quillmark/persistence/detail/LineStore.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <new>

#include "quillmark/frame/Error.h"
#include "quillmark/frame/ErrorNumbers.h"

namespace qm::detail {
namespace {
constexpr std::size_t kHugePage = std::size_t{2} << 20;
#ifdef MADV_POPULATE_WRITE
constexpr int kPopulateWrite = MADV_POPULATE_WRITE;
#else
constexpr int kPopulateWrite = 23;  // older C library headers lack the name
#endif
}

HugeBlock::HugeBlock(std::size_t bytes) : size_(bytes) {
  if (bytes < kHugePage) {
    void* p = std::malloc(bytes ? bytes : 1);
    if (!p) throw std::bad_alloc();
    data_.reset(static_cast<char*>(p));
    return;
  }
  size_ = (bytes + kHugePage - 1) / kHugePage * kHugePage;
  void* p = ::mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) throw std::bad_alloc();
  data_ = std::unique_ptr<char, BlockRelease>(static_cast<char*>(p), BlockRelease{size_});
  // Advice only: a kernel without huge pages or without MADV_POPULATE_WRITE
  // (Linux 5.14) faults the pages in as they are first written.
  ::madvise(p, size_, MADV_HUGEPAGE);
  ::madvise(p, size_, kPopulateWrite);
}

void BlockRelease::operator()(char* p) const {
  if (MappedBytes) {
    ::munmap(p, MappedBytes);
  } else {
    std::free(p);
  }
}

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = other.release();
  }
  return *this;
}

UniqueFd::~UniqueFd() {
  if (fd_ >= 0) ::close(fd_);
}

// A line pushed back further than the ring reaches: read again from the
// file. A file that has shrunk since is a device error, not a short line.
std::string_view LineStore::ReadAgain(std::size_t index, std::uint64_t entry) const {
  const std::size_t length = entry & kLengthMask;
  const std::uint64_t offset = entry >> kLengthBits;
  Recent& recent = ring_[index % kRecent];
  recent.Index = static_cast<std::size_t>(-1);
  recent.Text.resize(length);
  std::size_t done = 0;
  while (done < length) {
    const ssize_t n = ::pread(file_.get(), recent.Text.data() + done, length - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) Raise(ERR_DeviceIO, "The file changed while its lines were being read");
    done += static_cast<std::size_t>(n);
  }
  recent.Index = index;
  return recent.Text;
}

void LineStore::NewTextBlock(std::size_t atLeast) {
  const std::size_t size = textBlocks_.empty() ? kFirstTextBlock : kTextBlock;
  textBlocks_.emplace_back(atLeast > size ? atLeast : size);
  textFree_ = textBlocks_.back().Size();
}

void LineStore::clear() {
  textBlocks_.clear();
  indexBlocks_.clear();
  copies_.clear();
  textFree_ = 0;
  count_ = 0;
  file_ = UniqueFd();
  for (Recent& recent : ring_) recent.Index = static_cast<std::size_t>(-1);
}

}  // namespace qm::detail

#include "io/HugeBlock.h"

#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>

namespace qm::io {
namespace {
constexpr std::size_t kHugePage = std::size_t{2} << 20;
#ifdef MADV_POPULATE_WRITE
constexpr int kPopulateWrite = MADV_POPULATE_WRITE;
#else
constexpr int kPopulateWrite = 23;  // older C library headers lack the name
#endif
std::atomic<unsigned> allocationsToFail{0};
}  // namespace

void FailAllocations(unsigned count) noexcept { allocationsToFail.store(count, std::memory_order_relaxed); }

void CheckAllocation() {
  unsigned left = allocationsToFail.load(std::memory_order_relaxed);
  while (left > 0)
    if (allocationsToFail.compare_exchange_weak(left, left - 1, std::memory_order_relaxed)) throw std::bad_alloc();
}

HugeBlock::HugeBlock(std::size_t bytes, Pages pages) : size_(bytes) {
  CheckAllocation();
  if (bytes < kHugePage) {
    void* p = std::malloc(bytes ? bytes : 1);
    if (!p) throw std::bad_alloc();
    data_.reset(static_cast<char*>(p));
    return;
  }
  size_ = SizeFor(bytes);
  void* p = ::mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) throw std::bad_alloc();
  data_ = std::unique_ptr<char, BlockRelease>(static_cast<char*>(p), BlockRelease{size_});
  if (pages == Pages::Now) Prefault(p, size_);
}

std::size_t HugeBlock::SizeFor(std::size_t bytes) {
  return bytes < kHugePage ? bytes : (bytes + kHugePage - 1) / kHugePage * kHugePage;
}

// Advice only: a kernel without huge pages or without MADV_POPULATE_WRITE
// (Linux 5.14) faults the pages in as they are first written.
void Prefault(void* data, std::size_t bytes) {
  const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
  const auto begin = (reinterpret_cast<std::uintptr_t>(data) + page - 1) / page * page;
  const auto end = (reinterpret_cast<std::uintptr_t>(data) + bytes) / page * page;
  if (end <= begin) return;
  ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
  ::madvise(reinterpret_cast<void*>(begin), end - begin, kPopulateWrite);
}

void BlockRelease::operator()(char* p) const {
  if (MappedBytes) {
    ::munmap(p, MappedBytes);
  } else {
    std::free(p);
  }
}

}  // namespace qm::io

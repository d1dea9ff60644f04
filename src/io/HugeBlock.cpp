#include "io/HugeBlock.h"

#include <sys/mman.h>

#include <array>
#include <atomic>
#include <cstdlib>
#include <new>

namespace qm::io {
namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;
// From this size on malloc maps fresh memory for a block (glibc's threshold).
constexpr std::size_t kKeptFrom = std::size_t{128} << 10;

std::atomic<unsigned> allocationsToFail{0};

// The blocks let go and kept for the next ones (null: an empty place). Any
// thread puts and takes with one atomic exchange; never destroyed, so a block
// let go during the static destructors still finds it.
std::array<std::atomic<char*>, HugeBlock::kKeptBlocks> keptBlocks{};

char* TakeKept() noexcept {
  for (auto& place : keptBlocks) {
    if (place.load(std::memory_order_relaxed) == nullptr) continue;
    if (char* block = place.exchange(nullptr, std::memory_order_acquire)) return block;
  }
  return nullptr;
}

bool Keep(char* block) noexcept {
  for (auto& place : keptBlocks) {
    char* empty = nullptr;
    if (place.load(std::memory_order_relaxed) == nullptr &&
        place.compare_exchange_strong(empty, block, std::memory_order_release, std::memory_order_relaxed))
      return true;
  }
  return false;
}

}  // namespace

void FailAllocations(unsigned count) noexcept { allocationsToFail.store(count, std::memory_order_relaxed); }

void CheckAllocation() {
  unsigned left = allocationsToFail.load(std::memory_order_relaxed);
  while (left > 0)
    if (allocationsToFail.compare_exchange_weak(left, left - 1, std::memory_order_relaxed)) throw std::bad_alloc();
}

HugeBlock::HugeBlock(std::size_t bytes, Pages pages) : size_(bytes) {
  CheckAllocation();
  // A kept block serves any block filled whole of a size malloc would map
  // afresh (the first block of a read, the last one): its pages are there.
  if (pages == Pages::Whole && bytes >= kKeptFrom && bytes <= kHugePage) {
    if (char* kept = TakeKept()) {
      size_ = kHugePage;
      data_ = std::unique_ptr<char, BlockRelease>(kept, BlockRelease{size_, true});
      return;
    }
  }
  if (bytes < kHugePage) {
    void* p = std::malloc(bytes ? bytes : 1);
    if (!p) throw std::bad_alloc();
    data_.reset(static_cast<char*>(p));
    return;
  }
  size_ = SizeFor(bytes);
  const bool reusable = pages == Pages::Whole && size_ == kHugePage;
  void* p = ::mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) throw std::bad_alloc();
  data_ = std::unique_ptr<char, BlockRelease>(static_cast<char*>(p), BlockRelease{size_, reusable});
  // Advice only (a kernel without huge pages faults 4 KiB at a time). No
  // page is asked for ahead: the write that fills the block faults them in,
  // so the kernel's zeroing happens on the thread that fills it.
  if (pages == Pages::Whole) ::madvise(p, size_, MADV_HUGEPAGE);
}

std::size_t HugeBlock::SizeFor(std::size_t bytes) {
  return bytes < kHugePage ? bytes : (bytes + kHugePage - 1) / kHugePage * kHugePage;
}

std::size_t HugeBlock::KeptBlocks() noexcept {
  std::size_t count = 0;
  for (const auto& place : keptBlocks) count += place.load(std::memory_order_relaxed) != nullptr;
  return count;
}

void BlockRelease::operator()(char* p) const {
  if (!MappedBytes) {
    std::free(p);
    return;
  }
  // A block kept is the kernel's to take back while it waits: its pages
  // stay in place unless memory runs short.
  // The advice comes first: once kept, another thread may take the block
  // and fill it at once.
  if (Reusable && ::madvise(p, MappedBytes, MADV_FREE) == 0 && Keep(p)) return;
  ::munmap(p, MappedBytes);
}

}  // namespace qm::io

#include "quillmark/persistence/detail/LineStore.h"

#include <sys/mman.h>

#include <cstdlib>
#include <new>

namespace qm::detail {
namespace {
constexpr std::size_t kHugePage = std::size_t{2} << 20;
}

HugeBlock::HugeBlock(std::size_t bytes) : size_(bytes) {
  if (bytes < kHugePage) {
    void* p = std::malloc(bytes ? bytes : 1);
    if (!p) throw std::bad_alloc();
    data_.reset(static_cast<char*>(p));
    return;
  }
  size_ = (bytes + kHugePage - 1) / kHugePage * kHugePage;
  void* p = std::aligned_alloc(kHugePage, size_);
  if (!p) throw std::bad_alloc();
  // Huge pages make filling the block cost one fault per 2 MiB instead of one per 4 KiB.
  madvise(p, size_, MADV_HUGEPAGE);
  data_.reset(static_cast<char*>(p));
}

void HugeBlock::Free::operator()(char* p) const { std::free(p); }

}  // namespace qm::detail

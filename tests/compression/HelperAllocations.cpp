#include "compression/HelperAllocations.h"

#include <pthread.h>

#include <atomic>
#include <cstdlib>
#include <new>

// operator delete is free here, which GCC cannot tell matches this operator new.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

namespace {

std::atomic<bool> armed{false};
std::atomic<int> refused{0};
pthread_t armingThread;
constexpr std::size_t kLargeAllocation = std::size_t{1} << 20;

bool Refused(std::size_t size) noexcept {
  if (size < kLargeAllocation || !armed.load(std::memory_order_acquire) ||
      ::pthread_equal(::pthread_self(), armingThread))
    return false;
  refused.fetch_add(1, std::memory_order_acq_rel);
  return true;
}

}  // namespace

namespace qm::test {

HelperAllocationsFail::HelperAllocationsFail() {
  armingThread = ::pthread_self();
  refused = 0;
  armed.store(true, std::memory_order_release);
}

HelperAllocationsFail::~HelperAllocationsFail() { armed.store(false, std::memory_order_release); }

int HelperAllocationsFailed() { return refused.load(std::memory_order_acquire); }

}  // namespace qm::test

void* operator new(std::size_t size) {
  if (!Refused(size))
    if (void* memory = std::malloc(size == 0 ? 1 : size)) return memory;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return ::operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return Refused(size) ? nullptr : std::malloc(size == 0 ? 1 : size);
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept { return ::operator new(size, tag); }
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete[](void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete[](void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete(void* memory, const std::nothrow_t&) noexcept { std::free(memory); }
void operator delete[](void* memory, const std::nothrow_t&) noexcept { std::free(memory); }

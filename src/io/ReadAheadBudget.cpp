#include "io/ReadAheadBudget.h"

#include <pthread.h>

#include <atomic>
#include <utility>

#include "io/Executor.h"

namespace qm::io {
namespace {

std::atomic<std::size_t> inUse{0};

void AfterForkInChild() noexcept { inUse.store(0, std::memory_order_relaxed); }
[[maybe_unused]] const bool handlerSet = (::pthread_atfork(nullptr, nullptr, AfterForkInChild), true);

}  // namespace

bool ReadAheadBudget::Reserve(std::size_t bytes) noexcept {
  std::size_t now = inUse.load(std::memory_order_relaxed);
  do {
    if (bytes > kLimit || now > kLimit - bytes) return false;
  } while (!inUse.compare_exchange_weak(now, now + bytes, std::memory_order_relaxed));
  return true;
}

void ReadAheadBudget::Release(std::size_t bytes) noexcept { inUse.fetch_sub(bytes, std::memory_order_relaxed); }

std::size_t ReadAheadBudget::InUse() noexcept { return inUse.load(std::memory_order_relaxed); }

Reservation Reservation::Take(std::size_t bytes) noexcept {
  Reservation r;
  if (bytes == 0 || !ReadAheadBudget::Reserve(bytes)) return r;
  r.bytes_ = bytes;
  r.generation_ = Executor::Generation();
  return r;
}

Reservation::Reservation(Reservation&& other) noexcept
    : bytes_(std::exchange(other.bytes_, 0)), generation_(other.generation_) {}

Reservation& Reservation::operator=(Reservation&& other) noexcept {
  if (this != &other) {
    Reset();
    bytes_ = std::exchange(other.bytes_, 0);
    generation_ = other.generation_;
  }
  return *this;
}

void Reservation::Reset() noexcept {
  if (bytes_ && generation_ == Executor::Generation()) ReadAheadBudget::Release(bytes_);
  bytes_ = 0;
}

}  // namespace qm::io

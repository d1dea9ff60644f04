#include "io/Executor.h"

#include <pthread.h>
#include <sched.h>
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <new>

#include "io/CpuQuota.h"

namespace qm::io {

std::atomic<std::uint64_t> detail::forkGeneration{1};

namespace {

constexpr unsigned kMaxThreads = 8;
// A thread with nothing to do for this long leaves.
constexpr auto kIdleTime = std::chrono::seconds(2);

struct Pool {
  std::mutex Lock;
  std::condition_variable Work;
  std::deque<Executor::Task> Queue;
  unsigned Live = 0;   // threads alive
  unsigned Idle = 0;   // of which waiting for work
  unsigned Limit = 0;  // the most threads at once
  bool LimitSet = false;
  bool FailCreation = false;
};

// The pool lives in storage of its own and is never destroyed (see
// Executor.h). In a child after fork it is emptied in place: the parent's
// threads and queued work do not exist there.
alignas(Pool) unsigned char poolRoom[sizeof(Pool)];

void BeforeFork() noexcept;
void AfterForkInParent() noexcept;
void AfterForkInChild() noexcept;

Pool& PoolInRoom() { return *std::launder(reinterpret_cast<Pool*>(poolRoom)); }

// The pool and the fork handlers, made once, at the latest when the library
// is loaded (below), so that every fork is seen (the generation changes)
// even before any work was posted.
Pool& MadePool() {
  static Pool* const pool = [] {
    Pool* made = ::new (poolRoom) Pool();
    ::pthread_atfork(BeforeFork, AfterForkInParent, AfterForkInChild);
    return made;
  }();
  (void)pool;
  return PoolInRoom();
}
[[maybe_unused]] const bool madeAtLoad = (MadePool(), true);

// The pool, with its thread limit read from the system at the first use.
Pool& ThePool() {
  Pool& pool = MadePool();
  static const bool limitRead = [&] {
    std::lock_guard lock(pool.Lock);
    if (!pool.LimitSet) pool.Limit = std::min(Executor::UsableProcessors(), kMaxThreads);
    pool.LimitSet = true;
    return true;
  }();
  (void)limitRead;
  return pool;
}

void BeforeFork() noexcept { PoolInRoom().Lock.lock(); }
void AfterForkInParent() noexcept { PoolInRoom().Lock.unlock(); }
void AfterForkInChild() noexcept {
  // The lock, taken before the fork by this very thread, kept the pool whole.
  // The parent's threads do not exist here and its queued work never runs:
  // the queue is emptied and the condition made anew (the parent's idle
  // threads were waiting on the old one).
  Pool& pool = PoolInRoom();
  std::deque<Executor::Task> dropped;
  dropped.swap(pool.Queue);
  pool.Live = 0;
  pool.Idle = 0;
  ::new (&pool.Work) std::condition_variable();
  pool.Lock.unlock();
  detail::forkGeneration.fetch_add(1, std::memory_order_acq_rel);
}  // what the dropped tasks hold goes here, outside the lock

void* Worker(void*) {
  Pool& pool = ThePool();
  std::unique_lock lock(pool.Lock);
  for (;;) {
    if (pool.Queue.empty()) {
      // Above a lowered limit a thread leaves once nothing waits.
      if (pool.Live > pool.Limit) break;
      ++pool.Idle;
      const bool woken =
          pool.Work.wait_for(lock, kIdleTime, [&] { return !pool.Queue.empty() || pool.Live > pool.Limit; });
      --pool.Idle;
      if (!woken) break;
      continue;
    }
    Executor::Task task = std::move(pool.Queue.front());
    pool.Queue.pop_front();
    lock.unlock();
    try {
      task();
    } catch (...) {
      // A task must not throw; the thread lives on.
    }
    task = nullptr;  // what the task holds goes outside the lock
    lock.lock();
  }
  --pool.Live;
  return nullptr;
}

// Under the pool's lock. Every signal is blocked while the thread is made,
// so that it starts (and stays) with all of them blocked.
bool StartThread(Pool& pool) {
  if (pool.FailCreation) return false;
  sigset_t all, old;
  ::sigfillset(&all);
  ::pthread_sigmask(SIG_SETMASK, &all, &old);
  pthread_t thread;
  const int rc = ::pthread_create(&thread, nullptr, Worker, nullptr);
  ::pthread_sigmask(SIG_SETMASK, &old, nullptr);
  if (rc != 0) return false;
  ::pthread_detach(thread);
  ++pool.Live;
  return true;
}

}  // namespace

unsigned Executor::UsableProcessors() noexcept {
  unsigned count = 1;
  cpu_set_t set;
  CPU_ZERO(&set);
  if (::sched_getaffinity(0, sizeof set, &set) == 0) count = std::max(CPU_COUNT(&set), 1);
  const unsigned quota = CgroupCpuQuota();
  if (quota > 0) count = std::min(count, quota);
  return count;
}

bool Executor::Post(Task task) noexcept {
  Pool& pool = ThePool();
  std::lock_guard lock(pool.Lock);
  if (pool.Limit == 0) return false;
  // A thread more when every idle one already has work waiting for it.
  if (pool.Idle <= pool.Queue.size() && pool.Live < pool.Limit && !StartThread(pool) && pool.Live == 0) return false;
  try {
    pool.Queue.push_back(std::move(task));
  } catch (...) {
    return false;
  }
  if (pool.Idle > 0) pool.Work.notify_one();
  return true;
}

unsigned Executor::Capacity() noexcept {
  Pool& pool = ThePool();
  std::lock_guard lock(pool.Lock);
  return pool.Limit;
}

unsigned Executor::LiveThreads() noexcept {
  Pool& pool = ThePool();
  std::lock_guard lock(pool.Lock);
  return pool.Live;
}

void Executor::SetLimit(unsigned threads) noexcept {
  Pool& pool = ThePool();
  std::lock_guard lock(pool.Lock);
  pool.Limit = std::min(threads, kMaxThreads);
  pool.LimitSet = true;
  pool.Work.notify_all();  // idle threads above the limit leave
}

void Executor::ResetLimit() noexcept { SetLimit(UsableProcessors()); }

void Executor::FailThreadCreation(bool fail) noexcept {
  Pool& pool = ThePool();
  std::lock_guard lock(pool.Lock);
  pool.FailCreation = fail;
}

}  // namespace qm::io

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

#include "io/Executor.h"
#include "io/Lane.h"
#include "quillmark/errors/Error.h"
#include "support/TestEnvironment.h"

namespace {

using qm::io::Executor;
using qm::io::Lane;
using namespace std::chrono_literals;

void WaitForNoThreads() {
  Executor::SetLimit(0);
  while (Executor::LiveThreads() > 0) std::this_thread::sleep_for(1ms);
}

// Restores the pool however a test ends.
struct PoolReset {
  ~PoolReset() {
    Executor::FailThreadCreation(false);
    Executor::ResetLimit();
  }
};

// Tasks run in order, one at a time, whichever thread runs them (a waiting
// caller runs what no pool thread has begun).
TEST(Lane, RunsInOrderAndKeepsTheFirstFailure) {
  PoolReset reset;
  Executor::SetLimit(4);
  Lane lane(2);
  std::vector<int> order;
  std::atomic<int> inside{0}, overlapped{0};
  for (int i = 0; i < 50; ++i)
    lane.Post([&, i] {
      if (++inside > 1) ++overlapped;
      order.push_back(i);
      --inside;
    });
  lane.Drain();
  ASSERT_EQ(order.size(), 50u);
  for (int i = 0; i < 50; ++i) EXPECT_EQ(order[i], i);
  EXPECT_EQ(overlapped.load(), 0);

  // A failure stops the lane; it is raised at every later call.
  std::atomic<int> after{0};
  lane.Post([] { throw std::runtime_error("disk full"); });
  try {
    for (int i = 0; i < 10; ++i) lane.Post([&] { ++after; });
  } catch (const std::runtime_error&) {}
  EXPECT_THROW(lane.Drain(), std::runtime_error);
  EXPECT_THROW(lane.Check(), std::runtime_error);
  EXPECT_THROW(lane.Post([] {}), std::runtime_error);
  EXPECT_TRUE(lane.Failed());
  EXPECT_EQ(after.load(), 0);
}

// Every pool thread is busy with work that waits for the caller: the
// caller's Drain must run its lane's work itself rather than wait for them.
TEST(Lane, AWaiterRunsWorkThePoolHasNotBegun) {
  PoolReset reset;
  Executor::SetLimit(2);
  std::atomic<bool> release{false};
  std::atomic<int> blocked{0};
  for (int i = 0; i < 2; ++i)
    ASSERT_TRUE(Executor::Post([&] {
      ++blocked;
      while (!release) std::this_thread::sleep_for(1ms);
      --blocked;
    }));
  while (blocked < 2) std::this_thread::yield();
  {
    Lane lane(1);
    int done = 0;
    for (int i = 0; i < 5; ++i) lane.Post([&] { ++done; });
    lane.Drain();
    EXPECT_EQ(done, 5);
  }
  release = true;
  while (blocked > 0) std::this_thread::yield();  // the tasks use this frame
}

// With no thread to be had the work runs on the caller's thread, under the
// same failure rule; the library never needs a helper.
TEST(Lane, RunsOnTheCallerWithoutThreads) {
  PoolReset reset;
  WaitForNoThreads();
  Executor::SetLimit(8);
  Executor::FailThreadCreation(true);
  EXPECT_FALSE(Executor::Post([] {}));
  Lane lane;
  const auto caller = std::this_thread::get_id();
  bool here = false;
  lane.Post([&] { here = std::this_thread::get_id() == caller; });
  EXPECT_TRUE(here);
  EXPECT_THROW(lane.Post([] { throw std::runtime_error("write failed"); }), std::runtime_error);
  EXPECT_THROW(lane.Drain(), std::runtime_error);
  EXPECT_EQ(Executor::LiveThreads(), 0u);
}

// Many objects at work share the pool's threads: their number never exceeds
// its capacity, and every helper has all signals blocked.
TEST(Executor, ThreadsStayWithinCapacityWithSignalsBlocked) {
  PoolReset reset;
  Executor::SetLimit(3);
  while (Executor::LiveThreads() > 3) std::this_thread::sleep_for(1ms);  // threads above it leave
  const auto caller = std::this_thread::get_id();
  std::atomic<int> unblocked{0}, running{0}, most{0};
  {
    std::vector<std::unique_ptr<Lane>> lanes;
    for (int i = 0; i < 100; ++i) {
      lanes.push_back(std::make_unique<Lane>());
      lanes.back()->Post([&] {
        if (std::this_thread::get_id() == caller) return;  // run by the caller, whose mask is its own
        sigset_t mask;
        pthread_sigmask(SIG_SETMASK, nullptr, &mask);
        if (!sigismember(&mask, SIGINT) || !sigismember(&mask, SIGTERM) || !sigismember(&mask, SIGUSR1)) ++unblocked;
        const int now = ++running;
        for (int seen = most.load(); now > seen && !most.compare_exchange_weak(seen, now);) {}
        std::this_thread::sleep_for(1ms);
        --running;
      });
      EXPECT_LE(Executor::LiveThreads(), 3u);
    }
    for (auto& lane : lanes) lane->Drain();
  }
  EXPECT_EQ(unblocked.load(), 0);
  EXPECT_LE(most.load(), 3);
  EXPECT_LE(Executor::Capacity(), 8u);
  EXPECT_GE(Executor::UsableProcessors(), 1u);
}

// A child forked while a lane's task runs never waits for it: the lane says
// it is inherited, refuses work with a clear error, and goes without a wait;
// the child's own lanes work on threads of its own.
TEST(Lane, ChildAfterForkNeverWaitsForTheParentsWork) {
  if (qm::test::ThreadSanitizer())
    GTEST_SKIP() << "the child starts threads, which ThreadSanitizer does not allow after fork";
  PoolReset reset;
  Executor::SetLimit(2);
  std::atomic<bool> release{false}, started{false};
  auto lane = std::make_unique<Lane>();
  lane->Post([&] {
    started = true;
    while (!release) std::this_thread::sleep_for(1ms);
  });
  while (!started) std::this_thread::yield();
  const pid_t pid = fork();
  if (pid == 0) {
    int failures = 0;
    failures += !lane->Inherited();
    try {
      lane->Post([] {});
      ++failures;
    } catch (const qm::Error& e) {
      failures += e.Description().find("forked") == std::string::npos;
    }
    lane.reset();  // must not wait for the parent's task
    Lane own;
    std::atomic<int> ran{0};
    for (int i = 0; i < 5; ++i) own.Post([&] { ++ran; });
    own.Drain();
    failures += ran != 5;
    _exit(failures == 0 ? 0 : 1);
  }
  ASSERT_GT(pid, 0);
  int status = 0;
  bool finished = false;
  const auto deadline = std::chrono::steady_clock::now() + 60s;
  while (!finished && std::chrono::steady_clock::now() < deadline) {
    finished = waitpid(pid, &status, WNOHANG) == pid;
    if (!finished) std::this_thread::sleep_for(1ms);
  }
  if (!finished) kill(pid, SIGKILL), waitpid(pid, &status, 0);
  release = true;
  lane->Drain();
  EXPECT_TRUE(finished) << "the child waited for the parent's task";
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

}  // namespace

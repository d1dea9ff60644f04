#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "io/CpuQuota.h"
#include "io/Executor.h"
#include "io/Lane.h"
#include "io/TaskGroup.h"
#include "support/ErrorOf.h"
#include "support/FaultInjection.h"
#include "support/TestEnvironment.h"

namespace {

using qm::io::Executor;
using qm::io::Lane;
using qm::io::TaskGroup;
using namespace std::chrono_literals;

// Restores the pool however a test ends.
struct PoolReset {
  ~PoolReset() {
    Executor::FailThreadCreation(false);
    Executor::ResetLimit();
  }
};

// The pool's one thread busy elsewhere until the end of the scope, when
// the work queued behind it meanwhile has run too.
struct BusyPool {
  std::atomic<bool> release{false}, started{false};
  BusyPool() {
    Executor::SetLimit(0);
    while (Executor::LiveThreads() > 0) std::this_thread::sleep_for(1ms);
    Executor::SetLimit(1);
    EXPECT_TRUE(Executor::Post([this] {
      started = true;
      while (!release) std::this_thread::sleep_for(1ms);
    }));
    while (!started) std::this_thread::yield();
  }
  ~BusyPool() {
    release = true;
    std::atomic<bool> drained{false};
    if (Executor::Post([&] { drained = true; }))
      while (!drained) std::this_thread::yield();
  }
};

// Tasks run in order, one at a time, whichever thread runs them: a waiting
// caller runs what no pool thread has begun, rather than wait for a pool
// busy elsewhere (perhaps with work that waits for this very caller).
TEST(Lane, RunsInOrderAndKeepsTheFirstFailure) {
  for (const bool busy : {false, true}) {
    SCOPED_TRACE(busy ? "the pool busy elsewhere" : "four threads");
    PoolReset reset;
    Executor::SetLimit(4);
    std::optional<BusyPool> pool;
    if (busy) pool.emplace();
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
}

// Every piece runs once whoever takes it, the first failure is raised once,
// the caller finishes alone when no helper can be had or starts, and a
// helper still queued is never waited for. The helpers share the pool's
// threads: their number never exceeds its capacity. (HelperThreads checks
// their signal masks from outside.)
TEST(TaskGroup, EveryPieceRunsOnceAndTheFirstFailureIsRaisedOnce) {
  enum class Pool { Threads, NoThread, NoThreadCreated, Busy };
  struct Case {
    const char* name;
    Pool pool;
    int failAt;  // the piece that throws, -1 for none
    unsigned posted;
  };
  const Case cases[] = {
      {"three threads", Pool::Threads, -1, 8},
      {"three threads, piece 300 fails", Pool::Threads, 300, 8},
      {"no thread", Pool::NoThread, -1, 0},
      {"no thread, the first piece fails", Pool::NoThread, 0, 0},
      {"no thread can be made", Pool::NoThreadCreated, -1, 0},
      {"the pool's one thread busy elsewhere: the helpers stay queued", Pool::Busy, -1, 8},
  };
  constexpr int kPieces = 2000;
  ::alarm(30);  // a Wait that waits for a queued helper hangs here
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PoolReset reset;
    const unsigned threads = c.pool == Pool::Threads ? 3 : 0;
    Executor::SetLimit(threads);
    while (Executor::LiveThreads() > threads) std::this_thread::sleep_for(1ms);  // threads above it leave
    Executor::FailThreadCreation(c.pool == Pool::NoThreadCreated);
    if (c.pool == Pool::NoThreadCreated) Executor::SetLimit(3);
    std::optional<BusyPool> busy;  // the queued helpers start once the group has gone
    if (c.pool == Pool::Busy) busy.emplace();
    std::vector<std::atomic<int>> runs(kPieces);
    std::atomic<int> next{0};
    TaskGroup group;
    const auto turn = [&] {
      for (int i = 0; !group.Failed() && (i = next++) < kPieces;) {
        ++runs[i];
        if (i == c.failAt) throw std::runtime_error("piece " + std::to_string(i));
        // A piece after the failing one ends once the failure is kept (it is taken by then).
        while (c.failAt >= 0 && i > c.failAt && !group.Failed()) std::this_thread::yield();
      }
    };
    EXPECT_EQ(group.Post(8, turn), c.posted);
    EXPECT_LE(Executor::LiveThreads(), 3u);
    try {
      turn();  // the caller works too
    } catch (...) {
      group.Fail(std::current_exception());
    }
    std::string raised;
    for (int i = 0; i < 2; ++i) {
      try {
        group.Wait();
      } catch (const std::runtime_error& e) {
        raised += e.what();
      }
    }
    EXPECT_EQ(raised, c.failAt < 0 ? "" : "piece " + std::to_string(c.failAt));
    int ran = 0;
    for (const auto& r : runs) {
      EXPECT_LE(r.load(), 1);
      ran += r;
    }
    // After a failure each thread takes at most one piece more.
    EXPECT_TRUE(c.failAt >= 0 ? ran <= c.failAt + 1 + 4 : ran == kPieces) << ran;
  }
  ::alarm(0);
}

// The quota is the process's own group's, read where its hierarchy is
// mounted (the mount may show only a sub-tree), the smallest on the way up;
// missing or garbled files are no quota.
TEST(Executor, CpuQuotaOfTheProcessesOwnGroup) {
  const std::string tmpfs = "31 23 0:28 / /sys/fs/cgroup rw shared:9 - tmpfs tmpfs rw,mode=755\n";
  const std::string v1Cpu = "32 31 0:29 / /sys/fs/cgroup/cpu rw shared:10 - cgroup cgroup rw,cpu,cpuacct\n";
  const std::string v1Cpuset = "34 31 0:31 / /sys/fs/cgroup/cpuset rw shared:12 - cgroup cgroup rw,cpuset\n";
  const std::string v2 = "41 23 0:38 / /sys/fs/cgroup rw shared:4 - cgroup2 cgroup2 rw,nsdelegate\n";
  const std::string v2Hybrid = "41 31 0:38 / /sys/fs/cgroup/unified rw shared:4 - cgroup2 cgroup2 rw\n";
  struct Case {
    const char* name;
    std::string cgroup, mountinfo;
    std::string files;  // "path=line;..." under the root's sys/fs
    unsigned processors;
  };
  const std::vector<Case> cases = {
      {"v1: the group's own quota, not the root's", "5:cpuset:/\n4:cpu,cpuacct:/app/web\n", tmpfs + v1Cpuset + v1Cpu,
       "cgroup/cpu/cpu.cfs_quota_us=-1;cgroup/cpu/cpu.cfs_period_us=100000;cgroup/cpu/app/cpu.cfs_quota_us=250000;"
       "cgroup/cpu/app/cpu.cfs_period_us=100000;cgroup/cpu/app/web/cpu.cfs_quota_us=-1;"
       "cgroup/cpuset/app/web/cpu.cfs_quota_us=100000",
       3},
      {"v2: nested quotas, the smallest rounded up", "0::/a/b/c\n", v2,
       "cgroup/a/cpu.max=400000 100000;cgroup/a/b/cpu.max=150000 100000;cgroup/a/b/c/cpu.max=max 100000", 2},
      {"hybrid: v1 holds the cpu controller, v2 is mounted under it",
       "4:cpu,cpuacct:/svc\n1:name=systemd:/svc\n0::/svc\n",
       tmpfs + v1Cpu + "40 31 0:37 / /sys/fs/cgroup/systemd rw - cgroup cgroup rw,xattr,name=systemd\n" + v2Hybrid,
       "cgroup/cpu/svc/cpu.cfs_quota_us=50000;cgroup/cpu/svc/cpu.cfs_period_us=100000;cgroup/svc/cpu.max=800000 100000",
       1},
      {"hybrid: a v2 quota under the unified mount", "4:cpuacct:/svc\n0::/svc\n", tmpfs + v2Hybrid,
       "cgroup/unified/svc/cpu.max=300000 100000;cgroup/svc/cpu.max=100000 100000", 3},
      {"container: the v1 mount shows the group as its root", "4:cpu,cpuacct:/docker/abc\n",
       tmpfs + "32 31 0:29 /docker/abc /sys/fs/cgroup/cpu rw - cgroup cgroup rw,cpu,cpuacct\n",
       "cgroup/cpu/cpu.cfs_quota_us=300000;cgroup/cpu/cpu.cfs_period_us=100000", 3},
      {"container: a v2 sub-tree mounted at an escaped path", "0::/pod1/c1\n",
       "41 23 0:38 /pod1 /sys/fs/my\\040cgroup rw - cgroup2 cgroup2 rw\n",
       "my cgroup/cpu.max=200000 100000;my cgroup/c1/cpu.max=max 100000", 2},
      {"a group outside the mounted sub-tree", "0::/other\n",
       "41 23 0:38 /pod1 /sys/fs/cgroup rw - cgroup2 cgroup2 rw\n", "cgroup/cpu.max=100000 100000", 0},
      {"garbled and missing files", "nonsense\n4:cpu:\n0::/a/b/c/d/e\n", "garbage\n- cgroup2\n" + v2,
       "cgroup/a/cpu.max=lots 100000;cgroup/a/b/cpu.max=100000;cgroup/a/b/c/cpu.max=-5 100000;"
       "cgroup/a/b/c/d/cpu.max=100000 0;cgroup/a/b/c/d/e/cpu.max=99999999999999999999 100000",
       0},
      {"a quota past any count", "0::/\n", v2, "cgroup/cpu.max=9223372036854775807 1", UINT_MAX},
      {"nothing to read", "", "", "", 0},
  };
  for (const Case& c : cases) {
    qm::test::ScratchDir root;
    for (std::size_t at = 0, end = 0; end != std::string::npos && !c.files.empty(); at = end + 1) {
      end = c.files.find(';', at);
      const std::string file = c.files.substr(at, end - at);
      const std::filesystem::path path = root.Path() / "sys/fs" / file.substr(0, file.find('='));
      std::filesystem::create_directories(path.parent_path());
      qm::test::WriteFile(path, file.substr(file.find('=') + 1) + "\n");
    }
    EXPECT_EQ(qm::io::CgroupCpuQuota(c.cgroup, c.mountinfo, root.Path().string()), c.processors) << c.name;
  }

  // This process's files are read through the system-call layer; one that
  // cannot be opened is no quota.
  qm::test::FailNthCall failOpen(1, EMFILE, qm::io::sys::Call::Open);
  EXPECT_EQ(qm::io::CgroupCpuQuota(), 0u);
  EXPECT_TRUE(failOpen.Fired());
  EXPECT_GE(Executor::UsableProcessors(), 1u);
}

// A child forked while a lane's task and a task group's helper run never
// waits for them: the lane says it is inherited, refuses work with a clear
// error, and goes without a wait; the group waits for no helper; the
// child's own lanes work on threads of its own.
TEST(Lane, ChildAfterForkNeverWaitsForTheParentsWork) {
  if (qm::test::ThreadSanitizer())
    GTEST_SKIP() << "the child starts threads, which ThreadSanitizer does not allow after fork";
  PoolReset reset;
  Executor::SetLimit(2);
  std::atomic<bool> release{false};
  std::atomic<int> started{0};
  const auto hold = [&] {
    ++started;
    while (!release) std::this_thread::sleep_for(1ms);
  };
  auto lane = std::make_unique<Lane>();
  lane->Post(hold);
  auto group = std::make_unique<TaskGroup>();
  ASSERT_EQ(group->Post(1, hold), 1u);
  while (started < 2) std::this_thread::yield();
  const pid_t pid = fork();
  if (pid == 0) {
    ::alarm(20);  // a child that waits for the parent's task ends here
    const bool refused =
        lane->Inherited() &&
        qm::test::RaisedBy([&] { lane->Post([] {}); }).Description().find("forked") != std::string::npos;
    lane.reset();  // must not wait for the parent's task
    group->Wait();
    group.reset();
    Lane own;
    std::atomic<int> ran{0};
    for (int i = 0; i < 5; ++i) own.Post([&] { ++ran; });
    own.Drain();
    _exit(refused && ran == 5 ? 0 : 1);
  }
  ASSERT_GT(pid, 0);
  int status = 0;
  waitpid(pid, &status, 0);
  release = true;
  lane->Drain();
  group->Wait();
  EXPECT_FALSE(WIFSIGNALED(status) && WTERMSIG(status) == SIGALRM) << "the child waited for the parent's task";
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

}  // namespace

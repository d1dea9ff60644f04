// The io layer: the executor's pool, its lanes and task groups and the CPU
// quota that sizes it; the whole-file writer (AtomicFile); the helpers io::sys
// builds on its calls; and the read blocks.

#include "io/AtomicFile.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "io/CpuQuota.h"
#include "io/Executor.h"
#include "io/HugeBlock.h"
#include "io/Lane.h"
#include "io/System.h"
#include "io/TaskGroup.h"
#include "support/Child.h"
#include "support/ErrorOf.h"
#include "support/FaultInjection.h"
#include "support/FileSizeLimit.h"
#include "support/TestEnvironment.h"

namespace {

namespace fs = std::filesystem;
using namespace qm::io;
using namespace qm::test;
using namespace std::chrono_literals;

// Limits the pool to `threads` once those above it have left, and restores
// the pool however a test ends.
struct PoolReset {
  explicit PoolReset(unsigned threads) {
    Executor::SetLimit(threads);
    while (Executor::LiveThreads() > threads) std::this_thread::sleep_for(1ms);
  }
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
    PoolReset reset(4);
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
    EXPECT_EQ(std::pair(lane.Failed(), after.load()), std::pair(true, 0));
  }
}

// Every piece runs once whoever takes it, the first failure is raised once,
// the caller finishes alone when no helper can be had or starts, and a
// helper still queued is never waited for. The helpers share the pool's
// threads: their number never exceeds its capacity. (HelperThreads checks
// their signal masks from outside.)
TEST(TaskGroup, EveryPieceRunsOnceAndTheFirstFailureIsRaisedOnce) {
  enum class Pool { Threads, NoThread, NoThreadCreated, Busy };
  // The case, the pool, the piece that throws (-1 for none), the helpers posted.
  const std::tuple<const char*, Pool, int, unsigned> cases[] = {
      {"three threads", Pool::Threads, -1, 8},
      {"three threads, piece 300 fails", Pool::Threads, 300, 8},
      {"no thread", Pool::NoThread, -1, 0},
      {"no thread, the first piece fails", Pool::NoThread, 0, 0},
      {"no thread can be made", Pool::NoThreadCreated, -1, 0},
      {"the pool's one thread busy elsewhere: the helpers stay queued", Pool::Busy, -1, 8},
  };
  constexpr int kPieces = 2000;
  ::alarm(30);  // a Wait that waits for a queued helper hangs here
  for (const auto& [name, pool, failAt, posted] : cases) {
    SCOPED_TRACE(name);
    PoolReset reset(pool == Pool::Threads ? 3 : 0);
    Executor::FailThreadCreation(pool == Pool::NoThreadCreated);
    if (pool == Pool::NoThreadCreated) Executor::SetLimit(3);
    std::optional<BusyPool> busy;  // the queued helpers start once the group has gone
    if (pool == Pool::Busy) busy.emplace();
    std::vector<std::atomic<int>> runs(kPieces);
    std::atomic<int> next{0};
    TaskGroup group;
    const auto turn = [&, failAt = failAt] {
      for (int i = 0; !group.Failed() && (i = next++) < kPieces;) {
        ++runs[i];
        if (i == failAt) throw std::runtime_error("piece " + std::to_string(i));
        // A piece after the failing one ends once the failure is kept (it is taken by then).
        while (failAt >= 0 && i > failAt && !group.Failed()) std::this_thread::yield();
      }
    };
    EXPECT_EQ(group.Post(8, turn), posted);
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
    EXPECT_EQ(raised, failAt < 0 ? "" : "piece " + std::to_string(failAt));
    int ran = 0;
    for (const auto& r : runs) {
      EXPECT_LE(r.load(), 1);
      ran += r;
    }
    // After a failure each thread takes at most one piece more.
    EXPECT_TRUE(failAt >= 0 ? ran <= failAt + 1 + 4 : ran == kPieces) << ran;
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
  // The case, /proc/self/cgroup, /proc/self/mountinfo, the files ("path=line;..." under the root's sys/fs),
  // and the processors the quota gives.
  const std::vector<std::tuple<const char*, std::string, std::string, std::string, unsigned>> cases = {
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
  for (const auto& [name, cgroup, mountinfo, files, processors] : cases) {
    ScratchDir root;
    for (std::size_t at = 0, end = 0; end != std::string::npos && !files.empty(); at = end + 1) {
      end = files.find(';', at);
      const std::string file = files.substr(at, end - at);
      const fs::path path = root.Path() / "sys/fs" / file.substr(0, file.find('='));
      fs::create_directories(path.parent_path());
      WriteFile(path, file.substr(file.find('=') + 1) + "\n");
    }
    EXPECT_EQ(CgroupCpuQuota(cgroup, mountinfo, root.Path().string()), processors) << name;
  }

  // This process's files are read through the system-call layer; one that
  // cannot be opened is no quota.
  FailNthCall failOpen(1, EMFILE, sys::Call::Open);
  EXPECT_EQ(CgroupCpuQuota(), 0u);
  EXPECT_TRUE(failOpen.Fired());
  EXPECT_GE(Executor::UsableProcessors(), 1u);
}

// A child forked while a lane's task and a task group's helper run never
// waits for them: the lane says it is inherited, refuses work with a clear
// error, and goes without a wait; the group waits for no helper; the
// child's own lanes work on threads of its own.
TEST(Lane, ChildAfterForkNeverWaitsForTheParentsWork) {
  if (ThreadSanitizer()) GTEST_SKIP() << "the child starts threads, which ThreadSanitizer does not allow after fork";
  PoolReset reset(2);
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
  // A child that waits for the parent's task ends at its alarm.
  EXPECT_TRUE(InChild([&] {
    const bool refused =
        lane->Inherited() && RaisedBy([&] { lane->Post([] {}); }).Description().find("forked") != std::string::npos;
    lane.reset();  // must not wait for the parent's task
    group->Wait();
    group.reset();
    Lane own;
    std::atomic<int> ran{0};
    for (int i = 0; i < 5; ++i) own.Post([&] { ++ran; });
    own.Drain();
    return refused && ran == 5;
  }));
  release = true;
  lane->Drain();
  group->Wait();
}

// Permissions in octal, and a space.
std::string Octal(unsigned mode) {
  return std::to_string(mode >> 6 & 7) + std::to_string(mode >> 3 & 7) + std::to_string(mode & 7) + " ";
}

// A file's permissions and bytes, to compare in one line.
std::string Held(const fs::path& path) {
  struct stat info {};
  ::lstat(path.c_str(), &info);
  return Octal(info.st_mode) + ReadFile(path);
}

// The permissions of a new file, as Held shows them.
std::string NewMode() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return Octal(0666 & ~mask);
}

// The names in a folder, sorted, with a space after each.
std::string Listing(const fs::path& folder) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename());
  std::string listing;
  for (const std::string& name : names) listing += name + " ";
  return listing;
}

// Both kinds of temporary: without a name (O_TMPFILE), and the named one
// taken where the file system has no O_TMPFILE.
struct NamedTemporaries {
  explicit NamedTemporaries(bool named) { AtomicFile::ForceNamedTemporaries(named); }
  ~NamedTemporaries() { AtomicFile::ForceNamedTemporaries(false); }
};

// The error number a step raises as a filesystem_error, 0 when it raises none.
int CodeOf(auto&& step) {
  try {
    step();
  } catch (const fs::filesystem_error& e) {
    return e.code().value();
  }
  return 0;
}

void ReplacesContentsOrName() {
  const ScratchDir dir;
  AtomicFile::WriteWhole(dir / "data.txt", "one");
  EXPECT_EQ(Held(dir / "data.txt"), NewMode() + "one");

  // In place: the old permissions stay, a link is followed and kept.
  ::chmod((dir / "data.txt").c_str(), 0640);
  fs::create_symlink("data.txt", dir / "link.txt");
  AtomicFile::WriteWhole(dir / "link.txt", "two");
  EXPECT_TRUE(fs::is_symlink(dir / "link.txt"));
  EXPECT_EQ(Held(dir / "data.txt"), "640 two");

  // As a new file: a new file's permissions, the link itself replaced.
  AtomicFile::WriteWhole(dir / "link.txt", "three", AtomicFile::Replace::Name);
  EXPECT_EQ(Held(dir / "link.txt") + ", " + Held(dir / "data.txt"), NewMode() + "three, 640 two");

  // A copy takes the source's bytes and permissions.
  WriteFile(dir / "big.bin", std::string(300000, 'b'));
  ::chmod((dir / "big.bin").c_str(), 0600);
  AtomicFile::CopyWhole(dir / "big.bin", dir / "data.txt");
  EXPECT_EQ(Listing(dir.Path()) + Held(dir / "data.txt"), "big.bin data.txt link.txt 600 " + std::string(300000, 'b'));
}

// (A named temporary asked for by a library that writes to it is published
// by PublicSeamTest.WriterPublishesOnCommitOnly.)
void TargetUntouchedUntilCommitAndNoNameLeft(bool named) {
  const ScratchDir dir;
  const fs::path file = dir / "data.txt";
  WriteFile(file, "old");
  {
    AtomicFile writer(file);
    writer.Write("new");
    EXPECT_EQ(ReadFile(file), "old");
    // A named temporary is hidden beside the target; a file without a name shows nowhere.
    const std::string temporary = writer.TemporaryPath().filename();
    EXPECT_EQ(std::tuple(temporary.starts_with(".data.txt.~qm"), writer.TemporaryPath().empty(), Listing(dir.Path())),
              std::tuple(named, !named, (named ? temporary + " " : "") + "data.txt "));
    EXPECT_EQ(named ? ReadFile(writer.TemporaryPath()) : "new", "new");
  }  // dropped without Commit
  EXPECT_EQ(ReadFile(file) + " " + Listing(dir.Path()), "old data.txt ");

  AtomicFile writer(file);
  writer.Write("new");
  writer.Commit();
  EXPECT_THROW(writer.Commit(), fs::filesystem_error);
  EXPECT_EQ(ReadFile(file) + " " + Listing(dir.Path()), "new data.txt ");
}

// The folder is never listed and nothing but the writer's own temporary is
// ever removed: leftovers of other writers, even of ones whose process no
// longer runs, stay (the folder may be shared with other machines). A folder
// that may not be listed is written all the same. Refused writes leave
// nothing behind.
void LeftoversOfOtherWritersAndRefusals() {
  const ScratchDir dir;
  const pid_t child = ForkChild([] { return true; });
  Succeeded(child);  // a writer's process that no longer runs
  for (const std::string& name : {".data.txt.~qm" + std::to_string(child) + "-0000abcd",
                                  std::string(".data.txt.~qm1-0000abcd"), std::string(".data.txt.~qmx-1")})
    WriteFile(dir / name, "partial");
  const std::string leftovers = Listing(dir.Path());
  AtomicFile::WriteWhole(dir / "data.txt", "new");
  EXPECT_EQ(ReadFile(dir / "data.txt") + " " + Listing(dir.Path()), "new " + leftovers + "data.txt ");
  if (::geteuid() != 0) {
    ::chmod(dir.Path().c_str(), 0300);
    AtomicFile::WriteWhole(dir / "data.txt", "unlisted");
    ::chmod(dir.Path().c_str(), 0700);
    EXPECT_EQ(ReadFile(dir / "data.txt"), "unlisted");
  }

  EXPECT_EQ(CodeOf([&] { AtomicFile::WriteWhole(dir / "none/x.txt", "x"); }), ENOENT);
  EXPECT_EQ(CodeOf([&] { AtomicFile::WriteWhole(dir.Path(), "x"); }), EISDIR);
  EXPECT_EQ(CodeOf([&] { AtomicFile::WriteWhole("/dev/null", "x"); }), EINVAL);
  EXPECT_EQ(CodeOf([&] { AtomicFile::CopyWhole(dir / "missing", dir / "x.txt"); }), ENOENT);
  if (::geteuid() != 0) {
    const fs::path locked = dir / "locked.txt";
    WriteFile(locked, "keep");
    ::chmod(locked.c_str(), 0444);
    EXPECT_EQ(CodeOf([&] { AtomicFile::WriteWhole(locked, "x"); }), EACCES);
    EXPECT_EQ(ReadFile(locked), "keep");
    // As a new file it may go, as deleting it could.
    AtomicFile::WriteWhole(locked, "x", AtomicFile::Replace::Name);
    EXPECT_EQ(ReadFile(locked), "x");
  }
  EXPECT_EQ(Listing(dir.Path()), leftovers + "data.txt " + (::geteuid() != 0 ? "locked.txt " : ""));
}

// With either kind of temporary: the whole-file writes and copies, what the
// folder shows before and after a commit, the refusals, and others' leftovers.
TEST(AtomicFile, ReplacesContentsOrNameAndNoNameIsLeft) {
  for (const bool named : {false, true}) {
    SCOPED_TRACE(named ? "named temporary" : "temporary without a name");
    NamedTemporaries kind(named);
    ReplacesContentsOrName();
    TargetUntouchedUntilCommitAndNoNameLeft(named);
    LeftoversOfOtherWritersAndRefusals();
  }
}

// The last step of a commit, putting the new file in place, fails when what
// is at the target's name by then cannot be replaced (here a folder with a
// file in it, put there while the new file was written): the commit raises,
// the folder and its file stay as they are, and no temporary is left beside
// them. The writer is spent afterwards.
TEST(AtomicFileCommit, AFailedPlacingLeavesNothingBehind) {
  const ScratchDir dir;
  const fs::path file = dir / "placed.txt";
  for (const bool named : {false, true}) {
    NamedTemporaries kind(named);
    for (const auto how : {AtomicFile::Replace::Contents, AtomicFile::Replace::Name}) {
      SCOPED_TRACE(std::string(named ? "named" : "unnamed") + (how == AtomicFile::Replace::Name ? ", new file" : ""));
      WriteFile(file, "old");
      AtomicFile writer(file, how);
      writer.Write(std::string(100000, 'n'));
      fs::remove(file);
      fs::create_directory(file);
      WriteFile(file / "inside.txt", "keep");
      EXPECT_EQ(CodeOf([&] { writer.Commit(); }), EISDIR);
      EXPECT_EQ(Listing(dir.Path()) + Held(file / "inside.txt"), "placed.txt " + NewMode() + "keep");
      EXPECT_EQ(std::pair(CodeOf([&] { writer.Commit(); }), CodeOf([&] { writer.Write("x"); })),
                std::pair(EBADF, EBADF));
      fs::remove_all(file);
      EXPECT_EQ(Listing(dir.Path()), "");
    }
  }
}

// A write that fails (here past a file-size limit) sticks: every later
// write and Commit raise it, and the old file stays whole, whether the
// bytes went directly, behind on a helper thread, or behind with no thread
// to be had (the lane then writes on the caller's thread).
TEST(AtomicFile, AFailedWriteIsKeptAndTheOldFileStays) {
  enum class Way { Direct, Behind, BehindNoThread };
  for (const Way way : {Way::Direct, Way::Behind, Way::BehindNoThread}) {
    for (const bool named : {false, true}) {
      SCOPED_TRACE(static_cast<int>(way) * 2 + named);
      PoolReset reset(way == Way::BehindNoThread ? 0 : Executor::UsableProcessors());
      NamedTemporaries kind(named);
      ScratchDir dir;
      WriteFile(dir / "data.txt", "old");
      std::vector<int> raised;
      {
        FileSizeLimit limit(700 << 10);
        AtomicFile writer(dir / "data.txt");
        const std::string block(256 << 10, 'x');
        const auto write = [&] {
          for (int i = 0; i < 8; ++i) way == Way::Direct ? writer.Write(block) : (void)writer.WriteBehind(block);
        };
        raised = {CodeOf(write), CodeOf([&] { writer.Write("x"); }), CodeOf([&] { (void)writer.WriteBehind("x"); }),
                  CodeOf([&] { writer.Commit(); })};
      }
      // Written behind on a helper, the failure may show only at a later step.
      EXPECT_TRUE(way == Way::Behind || raised[0] == EFBIG) << "raised at once";
      EXPECT_GE(std::count(raised.begin(), raised.end(), EFBIG), 3);
      for (const int code : raised) EXPECT_TRUE(code == 0 || code == EFBIG) << code;
      EXPECT_TRUE(way != Way::BehindNoThread || Executor::LiveThreads() == 0);
      EXPECT_EQ(ReadFile(dir / "data.txt") + " " + Listing(dir.Path()), "old data.txt ");
    }
  }
}

// An AtomicFile made before fork is the parent's: in the child, Write,
// WriteBehind and Commit raise 75, nothing is published or removed, and
// dropping it does not wait for the parent's writes; the parent finishes it.
TEST(AtomicFile, ChildAfterForkNeverPublishesNorRemoves) {
  if (ThreadSanitizer()) GTEST_SKIP() << "the child starts threads, which ThreadSanitizer does not allow after fork";
  PoolReset reset(2);
  ScratchDir dir;
  // Either kind of temporary, with large writes behind, so that a helper is likely at work at the fork.
  const std::string block(8 << 20, 'x');
  const fs::path files[] = {dir / "unnamed.txt", dir / "named.txt"};
  std::optional<AtomicFile> writers[2];
  for (const bool named : {false, true}) {
    NamedTemporaries kind(named);
    WriteFile(files[named], "old");
    writers[named].emplace(files[named]);
    writers[named]->Write("head");
    EXPECT_TRUE(writers[named]->WriteBehind(block).empty());  // no spare buffer yet
    (void)writers[named]->WriteBehind(block);
  }
  const std::string before = Listing(dir.Path());
  EXPECT_TRUE(before.starts_with(".named.txt.~qm") && before.ends_with(" named.txt unnamed.txt ")) << before;

  EXPECT_TRUE(InChild([&] {
    std::string raised;
    for (std::optional<AtomicFile>& writer : writers) {
      raised += std::to_string(ErrorOf([&] { writer->Commit(); }));
      raised += std::to_string(ErrorOf([&] { writer->Write("child"); }));
      raised += std::to_string(ErrorOf([&] { (void)writer->WriteBehind("child"); }));
      raised += std::to_string(ErrorOf([&] { writer->Commit(); }));
      writer.reset();  // closes the child's descriptor only
    }
    const bool untouched = Listing(dir.Path()) == before && ReadFile(files[0]) == "old" && ReadFile(files[1]) == "old";
    return raised == "7575757575757575" && untouched;
  }));
  EXPECT_EQ(Listing(dir.Path()), before);
  for (const bool named : {false, true}) {
    EXPECT_EQ(ReadFile(files[named]), "old");
    writers[named]->Write("tail");
    writers[named]->Commit();
    EXPECT_EQ(ReadFile(files[named]), "head" + block + block + "tail");
  }
  EXPECT_EQ(Listing(dir.Path()), "named.txt unnamed.txt ");
}

// The helpers io::sys builds on its calls (a tree removed without following
// its links, a file read whole), and the read blocks: a block gets no page
// before the write that fills it (the kernel would zero it ahead for
// nothing), and a block let go comes back for the next one without being
// zeroed again.
TEST(System, RemoveAllLeavesWhatLinksPointToAndReadWholeReadsFiles) {
  const ScratchDir dir;
  const fs::path tree = dir.Path() / "tree";
  const fs::path kept = dir.Path() / "kept";
  fs::create_directories(tree / "a" / "b");
  fs::create_directory(kept);
  WriteFile(kept / "file", "stays");
  WriteFile(tree / "a" / "b" / "deep", "x");
  WriteFile(tree / "top", "y");
  fs::create_directory_symlink(kept, tree / "a" / "link");

  // Removed a second time, nothing there: done.
  EXPECT_EQ((std::tuple{sys::RemoveAll(tree.c_str()), fs::exists(fs::symlink_status(tree)), ReadFile(kept / "file"),
                        sys::RemoveAll(tree.c_str())}),
            std::tuple(0, false, "stays", 0));

  const auto read = [](const fs::path& path) {  // the answer, and the bytes or the error
    std::string bytes;
    const int answer = sys::ReadWhole(path.c_str(), bytes);
    return std::to_string(answer) + " " + (answer == 0 ? bytes : std::strerror(errno));
  };
  EXPECT_EQ(read(kept / "file") + ", " + read(kept) + ", " + read(dir.Path() / "missing"),
            "0 stays, -1 Is a directory, -1 No such file or directory");
}

constexpr std::size_t kBlock = std::size_t{2} << 20;

std::size_t ResidentPages(const HugeBlock& block) {
  const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
  std::vector<unsigned char> pages((block.Size() + page - 1) / page);
  if (::mincore(block.Data(), block.Size(), pages.data()) != 0) return ~std::size_t{0};
  std::size_t resident = 0;
  for (const unsigned char p : pages) resident += p & 1;
  return resident;
}

TEST(HugeBlock, ABlockIsFaultedInByItsFillAndComesBackWhenLetGo) {
  // The blocks kept now go to other owners first, so that the next one let go is the one taken again.
  std::vector<HugeBlock> earlier;
  while (HugeBlock::KeptBlocks() > 0) earlier.emplace_back(kBlock);

  const char* filled = nullptr;
  using Taken = std::pair<const char*, std::size_t>;  // a block's data and size, or the data and the blocks kept
  {
    HugeBlock block(kBlock);
    ASSERT_EQ(block.Size(), kBlock);
    EXPECT_EQ(ResidentPages(block), 0u) << "no page is asked for before the block is filled";
    std::memset(block.Data(), 'x', block.Size());
    filled = block.Data();
  }
  EXPECT_EQ(HugeBlock::KeptBlocks(), 1u);
  {
    const HugeBlock again(kBlock);
    EXPECT_EQ(Taken(again.Data(), HugeBlock::KeptBlocks()), Taken(filled, 0));
  }
  // A smaller block filled whole, which malloc would map afresh, takes a kept one too.
  const HugeBlock smaller(kBlock / 8);
  EXPECT_EQ(Taken(smaller.Data(), smaller.Size()), Taken(filled, kBlock));

  // A block that may stay partly empty, and a small one, are never kept.
  { const HugeBlock partly(kBlock, HugeBlock::Pages::AsWritten); }
  { const HugeBlock small(4096); }
  EXPECT_EQ(HugeBlock::KeptBlocks(), 0u);
}

}  // namespace

#include "io/AtomicFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <optional>
#include <set>
#include <thread>
#include <vector>

#include "io/Executor.h"
#include "support/ErrorOf.h"
#include "support/FileSizeLimit.h"
#include "support/TestEnvironment.h"

namespace {
namespace fs = std::filesystem;
using qm::io::AtomicFile;
using qm::io::Executor;
using namespace std::chrono_literals;
using qm::test::ReadFile;
using qm::test::WriteFile;

unsigned Mode(const fs::path& path) {
  struct stat info {};
  ::lstat(path.c_str(), &info);
  return info.st_mode & 07777;
}

std::set<std::string> Names(const fs::path& folder) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename());
  return names;
}

unsigned NewFileMode() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

// Both kinds of temporary: without a name (O_TMPFILE), and the named one
// taken where the file system has no O_TMPFILE.
struct NamedTemporaries {
  explicit NamedTemporaries(bool named) { AtomicFile::ForceNamedTemporaries(named); }
  ~NamedTemporaries() { AtomicFile::ForceNamedTemporaries(false); }
};

// Restores the executor however a test ends.
struct PoolReset {
  ~PoolReset() { Executor::ResetLimit(); }
};

bool IsHidden(const std::string& name, const std::string& target) { return name.rfind("." + target + ".~qm", 0) == 0; }

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
  qm::test::ScratchDir dir;
  const fs::path file = dir.Path() / "data.txt";
  AtomicFile::WriteWhole(file, "one");
  EXPECT_EQ(ReadFile(file), "one");
  EXPECT_EQ(Mode(file), NewFileMode());

  // In place: the old permissions stay, a link is followed and kept.
  ::chmod(file.c_str(), 0640);
  fs::create_symlink("data.txt", dir.Path() / "link.txt");
  AtomicFile::WriteWhole(dir.Path() / "link.txt", "two");
  EXPECT_TRUE(fs::is_symlink(dir.Path() / "link.txt"));
  EXPECT_EQ(ReadFile(file), "two");
  EXPECT_EQ(Mode(file), 0640u);

  // As a new file: a new file's permissions, the link itself replaced.
  AtomicFile::WriteWhole(dir.Path() / "link.txt", "three", AtomicFile::Replace::Name);
  EXPECT_FALSE(fs::is_symlink(dir.Path() / "link.txt"));
  EXPECT_EQ(ReadFile(dir.Path() / "link.txt"), "three");
  EXPECT_EQ(ReadFile(file), "two");
  EXPECT_EQ(Mode(dir.Path() / "link.txt"), NewFileMode());

  // A copy takes the source's bytes and permissions.
  WriteFile(dir.Path() / "big.bin", std::string(300000, 'b'));
  ::chmod((dir.Path() / "big.bin").c_str(), 0600);
  AtomicFile::CopyWhole(dir.Path() / "big.bin", file);
  EXPECT_EQ(ReadFile(file), std::string(300000, 'b'));
  EXPECT_EQ(Mode(file), 0600u);
  EXPECT_EQ(Names(dir.Path()), (std::set<std::string>{"data.txt", "link.txt", "big.bin"}));
}

void TargetUntouchedUntilCommitAndNoNameLeft(bool named) {
  qm::test::ScratchDir dir;
  const fs::path file = dir.Path() / "data.txt";
  WriteFile(file, "old");
  {
    AtomicFile writer(file);
    writer.Write("new");
    EXPECT_EQ(ReadFile(file), "old");
    const std::set<std::string> names = Names(dir.Path());
    if (named) {
      EXPECT_EQ(ReadFile(writer.TemporaryPath()), "new");
      EXPECT_TRUE(IsHidden(writer.TemporaryPath().filename().string(), "data.txt"));
      EXPECT_EQ(names, (std::set<std::string>{"data.txt", writer.TemporaryPath().filename().string()}));
    } else {
      // A file without a name: nothing in the folder shows it.
      EXPECT_TRUE(writer.TemporaryPath().empty());
      EXPECT_EQ(names, std::set<std::string>{"data.txt"});
    }
  }  // dropped without Commit
  EXPECT_EQ(ReadFile(file), "old");
  EXPECT_EQ(Names(dir.Path()), std::set<std::string>{"data.txt"});

  AtomicFile writer(file);
  writer.Write("new");
  writer.Commit();
  EXPECT_THROW(writer.Commit(), fs::filesystem_error);
  EXPECT_EQ(ReadFile(file), "new");
  EXPECT_EQ(Names(dir.Path()), std::set<std::string>{"data.txt"});

  // A write behind, and one of a new file.
  AtomicFile behind(dir.Path() / "new.txt");
  std::string spare = behind.WriteBehind(std::string(300000, 'a'));
  EXPECT_TRUE(spare.empty());
  spare = behind.WriteBehind(std::string(300000, 'b'));
  behind.Write("end");
  behind.Commit();
  EXPECT_EQ(ReadFile(dir.Path() / "new.txt"), std::string(300000, 'a') + std::string(300000, 'b') + "end");
  EXPECT_EQ(Mode(dir.Path() / "new.txt"), NewFileMode());
  EXPECT_EQ(Names(dir.Path()), (std::set<std::string>{"data.txt", "new.txt"}));

  // A library that writes to a named file gets a real one, whatever the
  // file system; what it leaves there is published.
  const fs::path book = dir.Path() / "book.xlsx";
  WriteFile(book, "old");
  ::chmod(book.c_str(), 0640);
  AtomicFile library(book, AtomicFile::Replace::Contents, AtomicFile::Temporary::Named);
  ASSERT_FALSE(library.TemporaryPath().empty());
  EXPECT_TRUE(IsHidden(library.TemporaryPath().filename().string(), "book.xlsx"));
  WriteFile(library.TemporaryPath(), "written by name");
  EXPECT_EQ(ReadFile(book), "old");
  library.Commit();
  EXPECT_EQ(ReadFile(book), "written by name");
  EXPECT_EQ(Mode(book), 0640u);
  EXPECT_EQ(Names(dir.Path()), (std::set<std::string>{"data.txt", "new.txt", "book.xlsx"}));
}

// The folder is never listed and nothing but the writer's own temporary is
// ever removed: leftovers of other writers, even of ones whose process no
// longer runs, stay (the folder may be shared with other machines).
TEST(AtomicFile, LeftoversOfOtherWritersAreLeftAlone) {
  qm::test::ScratchDir dir;
  const fs::path file = dir.Path() / "data.txt";
  const pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  ::waitpid(child, nullptr, 0);
  const std::set<std::string> leftovers{".data.txt.~qm" + std::to_string(child) + "-0000abcd",
                                        ".data.txt.~qm1-0000abcd", ".data.txt.~qmx-1"};
  for (const std::string& name : leftovers) WriteFile(dir.Path() / name, "partial");
  for (const bool named : {false, true}) {
    NamedTemporaries kind(named);
    AtomicFile::WriteWhole(file, named ? "named" : "unnamed");
    EXPECT_EQ(ReadFile(file), named ? "named" : "unnamed");
    std::set<std::string> expected = leftovers;
    expected.insert("data.txt");
    EXPECT_EQ(Names(dir.Path()), expected);
  }
  // A folder that may not be listed is written all the same.
  if (::geteuid() != 0) {
    ::chmod(dir.Path().c_str(), 0300);
    AtomicFile::WriteWhole(file, "unlisted");
    ::chmod(dir.Path().c_str(), 0700);
    EXPECT_EQ(ReadFile(file), "unlisted");
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
      PoolReset reset;
      Executor::SetLimit(way == Way::BehindNoThread ? 0 : Executor::UsableProcessors());
      while (way == Way::BehindNoThread && Executor::LiveThreads() > 0) std::this_thread::sleep_for(1ms);
      NamedTemporaries kind(named);
      qm::test::ScratchDir dir;
      const fs::path file = dir.Path() / "data.txt";
      WriteFile(file, "old");
      std::vector<int> raised;
      {
        qm::test::FileSizeLimit limit(700 << 10);
        AtomicFile writer(file);
        const std::string block(256 << 10, 'x');
        raised.push_back(CodeOf([&] {
          for (int i = 0; i < 8; ++i) {
            if (way == Way::Direct) writer.Write(block);
            else (void)writer.WriteBehind(block);
          }
        }));
        if (way != Way::Behind) {
          EXPECT_EQ(raised[0], EFBIG) << "raised at once";
        }
        raised.push_back(CodeOf([&] { writer.Write("x"); }));
        raised.push_back(CodeOf([&] { (void)writer.WriteBehind("x"); }));
        raised.push_back(CodeOf([&] { writer.Commit(); }));
      }
      EXPECT_GE(std::count(raised.begin(), raised.end(), EFBIG), 3);
      for (const int code : raised) EXPECT_TRUE(code == 0 || code == EFBIG) << code;
      if (way == Way::BehindNoThread) {
        EXPECT_EQ(Executor::LiveThreads(), 0u);
      }
      EXPECT_EQ(ReadFile(file), "old");
      EXPECT_EQ(Names(dir.Path()), std::set<std::string>{"data.txt"});
    }
  }
}

// An AtomicFile made before fork is the parent's: in the child, Write,
// WriteBehind and Commit raise 75, nothing is published or removed, and
// dropping it does not wait for the parent's writes; the parent finishes it.
TEST(AtomicFile, ChildAfterForkNeverPublishesNorRemoves) {
  if (qm::test::ThreadSanitizer())
    GTEST_SKIP() << "the child starts threads, which ThreadSanitizer does not allow after fork";
  PoolReset reset;
  Executor::SetLimit(2);
  qm::test::ScratchDir dir;
  // Either kind of temporary, with large writes behind, so that a helper is likely at work at the fork.
  const std::string block(8 << 20, 'x');
  const fs::path files[] = {dir.Path() / "unnamed.txt", dir.Path() / "named.txt"};
  std::optional<AtomicFile> writers[2];
  for (const bool named : {false, true}) {
    NamedTemporaries kind(named);
    WriteFile(files[named], "old");
    writers[named].emplace(files[named]);
    writers[named]->Write("head");
    (void)writers[named]->WriteBehind(block);
    (void)writers[named]->WriteBehind(block);
  }
  const std::set<std::string> before = Names(dir.Path());
  EXPECT_EQ(before.size(), 3u);

  const pid_t child = ::fork();
  if (child == 0) {
    int failures = 0;
    for (std::optional<AtomicFile>& writer : writers) {
      failures += qm::test::ErrorOf([&] { writer->Commit(); }) != 75;
      failures += qm::test::ErrorOf([&] { writer->Write("child"); }) != 75;
      failures += qm::test::ErrorOf([&] { (void)writer->WriteBehind("child"); }) != 75;
      failures += qm::test::ErrorOf([&] { writer->Commit(); }) != 75;
      writer.reset();  // closes the child's descriptor only
    }
    failures += Names(dir.Path()) != before;
    for (const fs::path& file : files) failures += ReadFile(file) != "old";
    ::_exit(failures);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(Names(dir.Path()), before);
  for (const bool named : {false, true}) {
    EXPECT_EQ(ReadFile(files[named]), "old");
    writers[named]->Write("tail");
    writers[named]->Commit();
    EXPECT_EQ(ReadFile(files[named]), "head" + block + block + "tail");
  }
  EXPECT_EQ(Names(dir.Path()), (std::set<std::string>{"unnamed.txt", "named.txt"}));
}

void Refusals() {
  qm::test::ScratchDir dir;
  EXPECT_EQ(CodeOf([&] { AtomicFile::WriteWhole(dir.Path() / "none" / "x.txt", "x"); }), ENOENT);
  EXPECT_EQ(CodeOf([&] { AtomicFile::WriteWhole(dir.Path(), "x"); }), EISDIR);
  EXPECT_EQ(CodeOf([&] { AtomicFile::WriteWhole("/dev/null", "x"); }), EINVAL);
  EXPECT_EQ(CodeOf([&] { AtomicFile::CopyWhole(dir.Path() / "missing", dir.Path() / "x.txt"); }), ENOENT);
  if (::geteuid() != 0) {
    const fs::path locked = dir.Path() / "locked.txt";
    WriteFile(locked, "keep");
    ::chmod(locked.c_str(), 0444);
    EXPECT_EQ(CodeOf([&] { AtomicFile::WriteWhole(locked, "x"); }), EACCES);
    EXPECT_EQ(ReadFile(locked), "keep");
    // As a new file it may go, as deleting it could.
    AtomicFile::WriteWhole(locked, "x", AtomicFile::Replace::Name);
    EXPECT_EQ(ReadFile(locked), "x");
  }
  EXPECT_EQ(Names(dir.Path()).size(), ::geteuid() != 0 ? 1u : 0u);
}

// With either kind of temporary: the whole-file writes and copies, what the
// folder shows before and after a commit, and the refusals.
TEST(AtomicFile, ReplacesContentsOrNameAndNoNameIsLeft) {
  for (const bool named : {false, true}) {
    SCOPED_TRACE(named ? "named temporary" : "temporary without a name");
    NamedTemporaries kind(named);
    ReplacesContentsOrName();
    TargetUntouchedUntilCommitAndNoNameLeft(named);
    Refusals();
  }
}

// The last step of a commit, putting the new file in place, fails when what
// is at the target's name by then cannot be replaced (here a folder with a
// file in it, put there while the new file was written): the commit raises,
// the folder and its file stay as they are, and no temporary is left beside
// them. The writer is spent afterwards.
TEST(AtomicFileCommit, AFailedPlacingLeavesNothingBehind) {
  for (const bool named : {false, true}) {
    SCOPED_TRACE(named ? "named temporary" : "temporary without a name");
    NamedTemporaries kind(named);
    qm::test::ScratchDir dir;
    const fs::path file = dir.Path() / "data.txt";
    WriteFile(file, "old");
    for (const auto how : {AtomicFile::Replace::Contents, AtomicFile::Replace::Name}) {
      AtomicFile writer(file, how);
      writer.Write(std::string(100000, 'n'));
      fs::remove(file);
      fs::create_directory(file);
      WriteFile(file / "inside.txt", "keep");

      EXPECT_EQ(CodeOf([&] { writer.Commit(); }), EISDIR);
      EXPECT_EQ(Names(dir.Path()), std::set<std::string>{"data.txt"});
      EXPECT_EQ(ReadFile(file / "inside.txt"), "keep");
      EXPECT_EQ(CodeOf([&] { writer.Commit(); }), EBADF);
      EXPECT_EQ(CodeOf([&] { writer.Write("x"); }), EBADF);

      fs::remove_all(file);
      WriteFile(file, "old");
    }
  }
}

}  // namespace

#include "io/AtomicFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <set>

#include "support/TestEnvironment.h"

namespace {
namespace fs = std::filesystem;
using qm::io::AtomicFile;
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

TEST(AtomicFile, ReplacesContentsOrName) {
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

TEST(AtomicFile, TargetUntouchedUntilCommit) {
  qm::test::ScratchDir dir;
  const fs::path file = dir.Path() / "data.txt";
  WriteFile(file, "old");
  {
    AtomicFile writer(file);
    writer.Write("new");
    EXPECT_EQ(ReadFile(file), "old");
    EXPECT_EQ(ReadFile(writer.TemporaryPath()), "new");
    EXPECT_EQ(writer.TemporaryPath().filename().string().rfind(".data.txt.~qm", 0), 0u);
  }  // dropped without Commit
  EXPECT_EQ(ReadFile(file), "old");
  EXPECT_EQ(Names(dir.Path()), std::set<std::string>{"data.txt"});

  AtomicFile writer(file);
  writer.Write("new");
  writer.Commit();
  EXPECT_THROW(writer.Commit(), fs::filesystem_error);
  EXPECT_EQ(ReadFile(file), "new");
  EXPECT_EQ(Names(dir.Path()), std::set<std::string>{"data.txt"});
}

TEST(AtomicFile, LeftoversOfDeadWritersGoWithTheNextWrite) {
  qm::test::ScratchDir dir;
  const fs::path file = dir.Path() / "data.txt";
  // A writer that no longer runs (a child that has exited), one that still
  // runs (init), a name that only looks alike, and another target's leftover.
  const pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  ::waitpid(child, nullptr, 0);
  const std::string dead = ".data.txt.~qm" + std::to_string(child) + "-0000abcd";
  for (const std::string& name : {dead, std::string(".data.txt.~qm1-0000abcd"), std::string(".data.txt.~qmx-1"),
                                  ".other.txt.~qm" + std::to_string(child) + "-0000abcd"})
    WriteFile(dir.Path() / name, "partial");
  AtomicFile::WriteWhole(file, "new");
  EXPECT_EQ(Names(dir.Path()), (std::set<std::string>{"data.txt", ".data.txt.~qm1-0000abcd", ".data.txt.~qmx-1",
                                                      ".other.txt.~qm" + std::to_string(child) + "-0000abcd"}));
}

TEST(AtomicFile, Refusals) {
  qm::test::ScratchDir dir;
  auto code = [](auto&& write) {
    try {
      write();
    } catch (const fs::filesystem_error& e) {
      return e.code().value();
    }
    return 0;
  };
  EXPECT_EQ(code([&] { AtomicFile::WriteWhole(dir.Path() / "none" / "x.txt", "x"); }), ENOENT);
  EXPECT_EQ(code([&] { AtomicFile::WriteWhole(dir.Path(), "x"); }), EISDIR);
  EXPECT_EQ(code([&] { AtomicFile::WriteWhole("/dev/null", "x"); }), EINVAL);
  EXPECT_EQ(code([&] { AtomicFile::CopyWhole(dir.Path() / "missing", dir.Path() / "x.txt"); }), ENOENT);
  if (::geteuid() != 0) {
    const fs::path locked = dir.Path() / "locked.txt";
    WriteFile(locked, "keep");
    ::chmod(locked.c_str(), 0444);
    EXPECT_EQ(code([&] { AtomicFile::WriteWhole(locked, "x"); }), EACCES);
    EXPECT_EQ(ReadFile(locked), "keep");
    // As a new file it may go, as deleting it could.
    AtomicFile::WriteWhole(locked, "x", AtomicFile::Replace::Name);
    EXPECT_EQ(ReadFile(locked), "x");
  }
  EXPECT_EQ(Names(dir.Path()).size(), ::geteuid() != 0 ? 1u : 0u);
}

}  // namespace

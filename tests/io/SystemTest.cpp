// The helpers io::sys builds on its calls: a tree removed without following
// its links, a file read whole.

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <string>

#include "io/System.h"
#include "support/TestEnvironment.h"

namespace {

namespace fs = std::filesystem;

TEST(System, RemoveAllLeavesWhatLinksPointToAndReadWholeReadsFiles) {
  qm::test::ScratchDir dir;
  const fs::path tree = dir.Path() / "tree";
  const fs::path kept = dir.Path() / "kept";
  fs::create_directories(tree / "a" / "b");
  fs::create_directory(kept);
  qm::test::WriteFile(kept / "file", "stays");
  qm::test::WriteFile(tree / "a" / "b" / "deep", "x");
  qm::test::WriteFile(tree / "top", "y");
  fs::create_directory_symlink(kept, tree / "a" / "link");

  EXPECT_EQ(qm::io::sys::RemoveAll(tree.c_str()), 0);
  EXPECT_FALSE(fs::exists(fs::symlink_status(tree)));
  EXPECT_EQ(qm::test::ReadFile(kept / "file"), "stays");
  EXPECT_EQ(qm::io::sys::RemoveAll(tree.c_str()), 0);  // nothing there: done

  std::string bytes;
  EXPECT_EQ(qm::io::sys::ReadWhole((kept / "file").c_str(), bytes), 0);
  EXPECT_EQ(bytes, "stays");
  EXPECT_EQ(qm::io::sys::ReadWhole(kept.c_str(), bytes), -1);
  EXPECT_EQ(errno, EISDIR);
  EXPECT_EQ(qm::io::sys::ReadWhole((dir.Path() / "missing").c_str(), bytes), -1);
  EXPECT_EQ(errno, ENOENT);
}

}  // namespace

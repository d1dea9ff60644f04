#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>

#include "quillmark/errors/Error.h"
#include "quillmark/utility/FileRecurser.h"
#include "quillmark/utility/FindFiles.h"
#include "support/ErrorOf.h"
#include "support/ProgressLog.h"
#include "support/TestEnvironment.h"

namespace fs = std::filesystem;
using qm::test::ScratchDir;
using qm::test::WriteFile;

namespace {

// The files FileRecurser finds under `root`, relative to it, parted by blanks.
std::string Found(const char* pattern, bool recurse, const fs::path& root, const qm::Progress& progress = {}) {
  const qm::Variant found = qm::FileRecurser().Files(pattern, recurse, root.string(), progress);
  std::string names;
  for (const auto& v : found.Array().Data())
    names += (names.empty() ? "" : " ") + fs::path(v.String()).lexically_relative(root).string();
  return names;
}

}  // namespace

TEST(FileRecurser, MatchesWithoutRegardToCaseAndRecursesDepthFirstInNameOrder) {
  ScratchDir dir;
  for (const char* name : {"a.txt", "B.Txt", "c.doc", "notes.txt.bak", "x\xE9.dat", "x\xC9.dat"})
    WriteFile(dir / name, "");
  fs::create_directory(dir.Path() / "sub.txt");  // folders never match
  EXPECT_EQ(Found("*.TXT", false, dir.Path()), "B.Txt a.txt");
  EXPECT_EQ(Found("  *.txt ", false, dir.Path()), "B.Txt a.txt");
  // Names that are not UTF-8 are found by their own bytes only (letters
  // beyond ASCII match as Like's TextCompare has them).
  EXPECT_EQ(Found("X\xE9.*", false, dir.Path()), "x\xE9.dat");
  EXPECT_EQ(Found("x?.dat", false, dir.Path()), "x\xC9.dat x\xE9.dat");

  ScratchDir tree;  // depth first, in name order
  fs::create_directories(tree.Path() / "s1" / "deep");
  fs::create_directories(tree.Path() / "s2");
  WriteFile(tree / "f1", "");
  WriteFile(tree / "s2/h1", "");
  WriteFile(tree / "s1/g1", "");
  WriteFile(tree / "s1/deep/d1", "");
  fs::create_directory_symlink(tree.Path() / "s1", tree.Path() / "s3");  // links to folders are not followed
  EXPECT_EQ(Found("*", true, tree.Path()), "f1 s1/g1 s1/deep/d1 s2/h1");
  EXPECT_EQ(Found("*", false, tree.Path()), "f1");

  // Progress: each folder listed, the total not known; the result the same.
  qm::test::ProgressLog log;
  EXPECT_EQ(Found("*", true, tree.Path(), log.Callback()), "f1 s1/g1 s1/deep/d1 s2/h1");
  EXPECT_EQ(log.Calls, (decltype(log.Calls){{1, 0}, {2, 0}, {3, 0}, {4, 0}}));

  // A failure in a subfolder carries one element for each folder entered, as
  // recursive calls of Files would, under the pattern as passed on (upper case).
  const auto failAtDeep = [](std::uint64_t done, std::uint64_t) {
    if (done == 3) throw qm::Error(1234, "Client", "stopped");
  };
  const qm::Error e = qm::test::RaisedBy([&] { Found(" [a-z]* ", true, tree.Path(), failAtDeep); });
  const auto element = [](const std::string& filter, const fs::path& folder) {
    return "|[FileRecurser]Public Function Files(\"" + filter + "\", True, \"" + folder.string() + "\")";
  };
  EXPECT_EQ(e.Source(), "Client" + element("[A-Z]*", tree.Path() / "s1/deep") + element("[A-Z]*", tree.Path() / "s1") +
                            element(" [a-z]* ", tree.Path()));
}

TEST(FileRecurser, EmptyFolderAndBadInput) {
  ScratchDir dir;
  qm::FileRecurser r;
  const qm::Variant empty = r.Files("*", true, dir.Path().string());
  EXPECT_EQ(empty.Array().LBound(), 0);
  EXPECT_EQ(empty.Array().UBound(), -1);
  const qm::Error e = qm::test::RaisedBy([&] { r.Files("*", false, dir / "missing"); });
  EXPECT_EQ(e.Number(), 76);
  EXPECT_EQ(e.Source(), "QuillmarkLibrary.FileRecurser|[FileRecurser]Public Function Files(\"*\", False, \"" +
                            (dir / "missing") + "\")");
  WriteFile(dir / "x", "");
  EXPECT_EQ(qm::test::ErrorOf([&] { r.Files("[abc", false, dir.Path().string()); }), 93);
}

// FindFiles makes its paths on a lane beside the walk once a search finds
// hundreds: the result is the recurser's list, in order, also when the
// callback stops the search or forks a child that goes on with it (the
// child cannot trust the paths its parent's lane was making).
TEST(FileRecurser, FindFilesOfManyMatchesIsItsListThroughCancelAndFork) {
  ScratchDir dir;
  for (int folder = 0; folder < 4; ++folder) {
    const fs::path sub = dir.Path() / ("f" + std::to_string(folder));
    fs::create_directory(sub);
    for (int file = 0; file < 700; ++file) WriteFile(sub / ("n" + std::to_string(file) + ".txt"), "");
  }
  const qm::Variant published = qm::FileRecurser().Files("*.txt", true, dir.Path().string());
  std::vector<std::string> expected;
  for (const auto& v : published.Array().Data()) expected.push_back(v.String());
  ASSERT_EQ(expected.size(), 2800u);
  const auto texts = [](const std::vector<fs::path>& paths) {
    std::vector<std::string> out;
    for (const auto& p : paths) out.push_back(p.string());
    return out;
  };

  enum class Then { Nothing, Throw, Fork };
  for (const Then then : {Then::Nothing, Then::Throw, Then::Fork}) {
    // The child starts a thread, which ThreadSanitizer does not allow, and a
    // fork amid helper threads is not safe under the sanitizers' allocator
    // (as in the fork matrix); the first pass runs it.
    if (then == Then::Fork && (qm::test::ThreadSanitizer() || qm::test::SanitizerAllocator())) continue;
    SCOPED_TRACE(static_cast<int>(then));
    pid_t child = -1;
    // Folder 4 is listed once two folders' paths were handed to the lane.
    const auto atFolder = [&](std::uint64_t done, std::uint64_t) {
      if (done != 4) return;
      if (then == Then::Throw) throw std::runtime_error("stop");
      if (then == Then::Fork) {
        child = ::fork();
        if (child == 0) ::alarm(10);
      }
    };
    if (then == Then::Throw) {
      EXPECT_THROW(qm::FindFiles(dir.Path(), "*.txt", true, atFolder), std::runtime_error);
      continue;
    }
    std::vector<std::string> found;
    try {
      found = texts(qm::FindFiles(dir.Path(), "*.txt", true, atFolder));
    } catch (...) {
      if (child == 0) ::_exit(2);
      throw;
    }
    if (child == 0) ::_exit(found == expected ? 0 : 1);
    EXPECT_EQ(found, expected);
    if (then == Then::Fork) {
      ASSERT_GT(child, 0);
      int status = -1;
      ASSERT_EQ(::waitpid(child, &status, 0), child);
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;
    }
  }
}

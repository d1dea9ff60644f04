#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <set>
#include <string>

#include "io/AtomicFile.h"
#include "support/TestEnvironment.h"

namespace {
namespace fs = std::filesystem;
using qm::io::AtomicFile;
using qm::test::ReadFile;
using qm::test::WriteFile;

std::set<std::string> Names(const fs::path& folder) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename());
  return names;
}

int CodeOf(auto&& step) {
  try {
    step();
  } catch (const fs::filesystem_error& e) {
    return e.code().value();
  }
  return 0;
}

// The last step of a commit, putting the new file in place, fails when what
// is at the target's name by then cannot be replaced (here a folder with a
// file in it, put there while the new file was written): the commit raises,
// the folder and its file stay as they are, and no temporary is left beside
// them, whether the temporary had a name or not. The writer is spent
// afterwards.
TEST(AtomicFileCommit, AFailedPlacingLeavesNothingBehind) {
  for (const bool named : {false, true}) {
    SCOPED_TRACE(named ? "named temporary" : "temporary without a name");
    AtomicFile::ForceNamedTemporaries(named);
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
    AtomicFile::ForceNamedTemporaries(false);
  }
}

}  // namespace

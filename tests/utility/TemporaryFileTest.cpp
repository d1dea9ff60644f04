#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <sstream>

#include "quillmark/errors/Error.h"
#include "quillmark/runtime/FileTable.h"
#include "quillmark/utility/TemporaryFile.h"
#include "quillmark/utility/Utility.h"
#include "support/ErrorOf.h"
#include "support/TestEnvironment.h"

namespace fs = std::filesystem;

TEST(TemporaryFile, CreatesAnEmptyFileDeletesItAndEmptiesItForStreams) {
  std::string name;
  {
    qm::TemporaryFile t;
    name = t.Filename();
    EXPECT_EQ(fs::path(name).parent_path(), fs::path(qm::Utility::TempFolder()));
    EXPECT_TRUE(fs::path(name).filename().string().starts_with("~tmp"));
    EXPECT_EQ(fs::path(name).extension(), "");
    ASSERT_TRUE(fs::exists(name));
    EXPECT_EQ(fs::file_size(name), 0u);
    t.SetSuffix(".xls");
    EXPECT_FALSE(fs::exists(name));
    name = t.Filename();
    EXPECT_TRUE(name.ends_with(".xls"));
    EXPECT_TRUE(fs::exists(name));
  }
  EXPECT_FALSE(fs::exists(name));

  // Each text stream starts the file afresh.
  qm::TemporaryFile t;
  auto s = t.CreateTextStream(false);
  s->WriteLine("first");
  s->Close();
  s = t.CreateTextStream(true);
  s->Write("é");
  s->Close();
  EXPECT_EQ(qm::test::ReadFile(t.Filename()), std::string("\xFF\xFE\xE9\x00", 4));

  // The file number must be assigned first.
  const qm::Error e = qm::test::RaisedBy([&] { t.FileNo(); });
  EXPECT_EQ(e.Number(), 11000);
  EXPECT_EQ(e.Description(), "AssignFileNo() not yet called");
  EXPECT_TRUE(e.Source().ends_with("|[TemporaryFile]Public Property Get FileNo()")) << e.Source();
  const std::int32_t n = t.AssignFileNo();
  EXPECT_FALSE(qm::files::IsOpen(n));  // only reserved, not opened
  EXPECT_EQ(t.FileNo(), n);
}

TEST(TemporaryFile, AssignedNumbersStayReservedUntilOpenedOrReleased) {
  auto first = std::make_unique<qm::TemporaryFile>();
  auto second = std::make_unique<qm::TemporaryFile>();
  const std::int32_t a = first->AssignFileNo();
  const std::int32_t b = second->AssignFileNo();
  EXPECT_NE(a, b);  // neither has opened a file yet
  EXPECT_NE(qm::files::FreeFile(), a);
  EXPECT_NE(qm::files::FreeFile(), b);
  EXPECT_EQ(first->AssignFileNo(), a);  // assigning again keeps the number

  // Opening under the number ends the reservation; closing frees the number,
  // and the object's release later takes nothing from a newer holder.
  qm::files::Open(a, first->Filename(), qm::files::OpenMode::Output);
  qm::files::Close(a);
  qm::TemporaryFile third;
  EXPECT_EQ(third.AssignFileNo(), a);
  first.reset();
  qm::TemporaryFile fourth;
  EXPECT_NE(fourth.AssignFileNo(), a);

  // Released without opening: the number is free again.
  second.reset();
  EXPECT_EQ(qm::files::FreeFile(), b);
  qm::TemporaryFile fifth;
  fifth.AssignFileNo();
  fifth.SetSuffix(".xls");  // a new file: the number goes back too
  EXPECT_EQ(qm::files::FreeFile(), b);
}

// Names are never shared, even across processes: the child takes its names
// while the parent takes its own. A child after fork holds the parent's
// object: releasing it there leaves the file (the parent deletes it), and the
// child cannot empty it for a stream; a TemporaryFile the child makes is the
// child's to delete.
TEST(TemporaryFile, AChildLeavesTheParentsFileToTheParentAndDeletesItsOwn) {
  constexpr int kPerProcess = 40;
  qm::test::ScratchDir dir;
  auto parents = std::make_unique<qm::TemporaryFile>();
  const std::string name = parents->Filename();
  qm::test::WriteFile(name, "the parent's");
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::alarm(10);
    int faults = 0;
    if (qm::test::ErrorOf([&] { parents->CreateTextStream(false); }) != 75) faults |= 1;
    if (parents->Filename() != name) faults |= 2;
    parents.reset();
    if (qm::test::ReadFile(name) != "the parent's") faults |= 4;
    std::string own;
    {
      qm::TemporaryFile mine;
      own = mine.Filename();
    }
    if (fs::exists(own)) faults |= 8;
    std::vector<std::unique_ptr<qm::TemporaryFile>> kept;
    std::string names;
    for (int i = 0; i < kPerProcess; ++i) {
      kept.push_back(std::make_unique<qm::TemporaryFile>());
      names += kept.back()->Filename() + "\n";
    }
    qm::test::WriteFile(dir / "child", names);
    ::_exit(faults);  // runs no destructors: the files stay for the parent to check and remove
  }
  std::vector<std::unique_ptr<qm::TemporaryFile>> ours;
  std::set<std::string> names{name};
  for (int i = 0; i < kPerProcess; ++i) {
    ours.push_back(std::make_unique<qm::TemporaryFile>());
    EXPECT_TRUE(names.insert(ours.back()->Filename()).second);
  }
  int status = -1;
  ::waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status)) << status;
  EXPECT_EQ(WEXITSTATUS(status), 0) << "faults in the child (bits): " << WEXITSTATUS(status);
  std::istringstream theirs(qm::test::ReadFile(dir / "child"));
  int count = 0;
  for (std::string taken; std::getline(theirs, taken); ++count) {
    EXPECT_TRUE(names.insert(taken).second) << taken << " was handed out twice";
    fs::remove(taken);
  }
  EXPECT_EQ(count, kPerProcess);
  EXPECT_EQ(qm::test::ReadFile(name), "the parent's");
  parents.reset();
  EXPECT_FALSE(fs::exists(name));
}

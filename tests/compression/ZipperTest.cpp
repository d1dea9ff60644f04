#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <random>

#include "quillmark/compression/Zipper.h"
#include "quillmark/frame/Error.h"
#include "compression/ExternalCheck.h"
#include "support/ErrorOf.h"
#include "support/TestEnvironment.h"

namespace {

namespace fs = std::filesystem;
using qm::test::PythonReadsBack;
using qm::test::UnzipTestPasses;

// Runs the test body inside a folder, so that relative names mean something.
class WorkingFolder {
 public:
  explicit WorkingFolder(const fs::path& folder) : previous_(fs::current_path()) { fs::current_path(folder); }
  ~WorkingFolder() { fs::current_path(previous_); }
  WorkingFolder(const WorkingFolder&) = delete;
  WorkingFolder& operator=(const WorkingFolder&) = delete;

 private:
  fs::path previous_;
};

TEST(Zipper, LookupErrNamesEveryResultAndNothingToDoWritesNoArchive) {
  qm::Zipper zipper;
  EXPECT_EQ(zipper.LookupErr(qm::ZE_OK), "OK");
  EXPECT_EQ(zipper.LookupErr(qm::ZE_Nothing_To_Do_ERR), "Nothing to do - check files exist");
  EXPECT_EQ(zipper.LookupErr(qm::ZE_Temp_File_ERR), "Temp. file error");
  EXPECT_EQ(zipper.LookupErr(qm::ZE_Write_ERR), "Disk write error - check disk is write enabled");
  EXPECT_EQ(zipper.LookupErr(qm::ZE_Open_ERR), "File open error");
  for (int unknown : {1, 17, 19, 99, -1}) EXPECT_EQ(zipper.LookupErr(static_cast<qm::ZipErrors>(unknown)), "");
  for (int known = 2; known <= 18; ++known)
    EXPECT_EQ(zipper.LookupErr(static_cast<qm::ZipErrors>(known)).empty(), known == 17) << known;

  qm::test::ScratchDir dir;
  EXPECT_EQ(zipper.Compress(dir / "a.zip"), qm::ZE_Nothing_To_Do_ERR);
  const qm::Error e = qm::test::RaisedBy([&] { zipper.CompressRaiseErr(dir / "a.zip"); });
  EXPECT_EQ(e.Number(), -2147221392);
  EXPECT_EQ(e.Description(), "Nothing to do - check files exist");
  EXPECT_EQ(e.Source(), "QuillmarkLibrary.Zipper|[ZipMgr]Public Sub CompressRaiseErr(\"" + (dir / "a.zip") + "\")");
  zipper.AddFile(dir / "missing.txt");
  EXPECT_EQ(zipper.Compress(dir / "a.zip"), qm::ZE_Nothing_To_Do_ERR);
  EXPECT_FALSE(fs::exists(dir / "a.zip"));
}

TEST(Zipper, ArchiveIsReadBackExactlyByOtherTools) {
  qm::test::ScratchDir dir;
  WorkingFolder here(dir.Path());
  fs::create_directories(dir.Path() / "pics/small");
  qm::test::WriteFile("report.html", "<html><body><img src=\"pics/chart.bin\"></body></html>\n");
  std::mt19937 random(1);
  std::string noise(70000, '\0');
  for (auto& b : noise) b = static_cast<char>(random());
  qm::test::WriteFile("pics/chart.bin", noise);  // does not deflate
  std::string text;
  for (int i = 0; i < 5000; ++i) text += "row " + std::to_string(i % 13) + "\tvalue\r\n";
  qm::test::WriteFile("pics/small/data.txt", text);
  qm::test::WriteFile("empty.txt", "");
  qm::test::WriteFile("caf\xC3\xA9.txt", "accented name");

  qm::Zipper zipper;
  zipper.AddFile("report.html");
  zipper.AddFile("pics/chart.bin");
  zipper.AddFile("not-there.txt");  // skipped
  zipper.AddFile("pics\\small\\data.txt");  // written the Windows way
  zipper.AddFile("./empty.txt");
  zipper.AddFile("caf\xC3\xA9.txt");
  zipper.AddFile(dir / "report.html");  // absolute: stored without the leading "/"
  ASSERT_EQ(zipper.Compress("out.zip"), qm::ZE_OK);

  // Entries in order, the missing name skipped, the absolute name made relative.
  const std::string absolute = (dir / "report.html").substr(1);
  EXPECT_TRUE(UnzipTestPasses("out.zip"));
  EXPECT_TRUE(PythonReadsBack("out.zip", dir.Path(),
                              {"report.html", "pics/chart.bin", "pics/small/data.txt", "empty.txt", "caf\xC3\xA9.txt",
                               absolute + "=" + (dir / "report.html")}));
  EXPECT_LT(fs::file_size("out.zip"), 2 * 70000u + text.size() / 4);  // the text was deflated
}

TEST(Zipper, KeepsTheFirst1024NamesAndUpdatesAnExistingArchive) {
  qm::test::ScratchDir dir;
  WorkingFolder here(dir.Path());
  qm::Zipper zipper;
  std::vector<std::string> names;
  for (int i = 0; i < 1025; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "f%04d.txt", i);
    qm::test::WriteFile(name, std::string(static_cast<std::size_t>(i % 50), static_cast<char>('a' + i % 26)));
    zipper.AddFile(name);
    if (i < 1024) names.push_back(name);
  }
  ASSERT_EQ(zipper.Compress("many.zip"), qm::ZE_OK);
  EXPECT_TRUE(UnzipTestPasses("many.zip"));

  // A second call writes the same files again: changed entries are replaced.
  qm::test::WriteFile("f0003.txt", "changed");
  ASSERT_EQ(zipper.Compress("many.zip"), qm::ZE_OK);
  EXPECT_TRUE(PythonReadsBack("many.zip", dir.Path(), names));

  zipper.ClearFilenames();
  EXPECT_EQ(zipper.Compress("many.zip"), qm::ZE_Nothing_To_Do_ERR);
}

TEST(Zipper, OutputProblemsComeBackAsZipCodes) {
  qm::test::ScratchDir dir;
  qm::test::WriteFile(dir / "a.txt", "a");
  qm::test::WriteFile(dir / "not-a.zip", "this is plain text, not an archive");
  qm::Zipper zipper;
  zipper.AddFile(dir / "a.txt");
  EXPECT_EQ(zipper.Compress(dir / "not-a.zip"), qm::ZE_Zip_Structure_ERR);
  EXPECT_EQ(qm::test::ReadFile(dir / "not-a.zip"), "this is plain text, not an archive");
  EXPECT_EQ(zipper.Compress(dir / "no-such-folder/a.zip"), qm::ZE_Create_ERR);
  EXPECT_EQ(qm::test::Described([&] { zipper.CompressRaiseErr(dir / "no-such-folder/a.zip"); }),
            std::to_string(-2147221404 + 15) + ": File creation error - check disk is write enabled");
  // The archive is never added to itself, and a pipe (which could block) is skipped.
  zipper.AddFile(dir / "self.zip");
  ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0600), 0);
  zipper.AddFile(dir / "pipe");
  ASSERT_EQ(zipper.Compress(dir / "self.zip"), qm::ZE_OK);
  ASSERT_EQ(zipper.Compress(dir / "self.zip"), qm::ZE_OK);
  EXPECT_TRUE(PythonReadsBack(dir / "self.zip", "/", {(dir / "a.txt").substr(1)}));  // only a.txt
}

}  // namespace

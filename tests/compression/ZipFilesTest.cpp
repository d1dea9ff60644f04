#include <gtest/gtest.h>

#include <filesystem>

#include "compression/ExternalCheck.h"
#include "compression/WorkingFolder.h"
#include "quillmark/compression/ZipFiles.h"
#include "support/TestEnvironment.h"

namespace {

namespace fs = std::filesystem;

TEST(ZipFiles, ArchivesEveryFileInRoundsAndSaysWhichAreMissing) {
  qm::test::ScratchDir dir;
  qm::test::WorkingFolder here(dir.Path());
  std::vector<std::string> names;
  for (int i = 0; i < 2500; ++i) {
    names.push_back("f" + std::to_string(i) + ".txt");
    qm::test::WriteFile(names.back(), std::string(static_cast<std::size_t>(i % 40), static_cast<char>('a' + i % 26)));
  }
  std::vector<fs::path> files(names.begin(), names.end());
  const fs::path archive = "all.zip";
  qm::ZipReport report = qm::ZipFiles(archive, files);
  EXPECT_TRUE(report.Complete()) << report.Message();
  EXPECT_EQ(report.Archived, 2500u);
  EXPECT_EQ(report.Message(), "");
  EXPECT_TRUE(qm::test::UnzipTestPasses(archive));
  EXPECT_TRUE(qm::test::PythonReadsBack(archive, dir.Path(), names));

  // Missing names in the second round and the archive itself are reported;
  // the other files are all written.
  files[1500] = "gone.txt";
  files.push_back(dir.Path() / "all.zip");
  qm::test::WriteFile("f7.txt", "changed");
  report = qm::ZipFiles(archive, files);
  EXPECT_FALSE(report.Complete());
  EXPECT_EQ(report.Result, qm::ZipResult::Ok);
  EXPECT_EQ(report.Archived, 2499u);
  ASSERT_EQ(report.Skipped.size(), 2u);
  EXPECT_EQ(report.Skipped[0].File, "gone.txt");
  EXPECT_EQ(report.Skipped[0].Reason, "not found");
  EXPECT_EQ(report.Message(),
            "gone.txt: not found, not archived\n" + (dir / "all.zip") + ": is the archive itself, not archived");
  EXPECT_TRUE(qm::test::PythonReadsBack(archive, dir.Path(), names));  // f1500 stays from the first run
}

TEST(ZipFiles, AFailedRoundNamesTheFileAndNothingFoundWritesNothing) {
  qm::test::ScratchDir dir;
  std::vector<fs::path> files;
  for (int i = 0; i < 1100; ++i) files.push_back(dir.Path() / ("m" + std::to_string(i)));
  const fs::path archive = dir.Path() / "none.zip";
  qm::ZipReport report = qm::ZipFiles(archive, files);
  EXPECT_EQ(report.Result, qm::ZipResult::NothingFound);
  EXPECT_EQ(report.Skipped.size(), 1100u);
  EXPECT_FALSE(fs::exists(archive));
  EXPECT_TRUE(report.Message().ends_with("none of the files was found: no archive written"));

  // An output that is no archive stops the first round and is left alone.
  qm::test::WriteFile(dir / "m3", "three");
  qm::test::WriteFile(dir / "text.zip", "plain text");
  report = qm::ZipFiles(dir.Path() / "text.zip", files);
  EXPECT_EQ(report.Result, qm::ZipResult::NotAnArchive);
  EXPECT_EQ(report.FailedFile, dir.Path() / "text.zip");
  EXPECT_EQ(report.NotTried, 76u);
  EXPECT_NE(report.Message().find(dir / "text.zip" + ": exists but is not a zip archive"), std::string::npos);
  EXPECT_EQ(qm::test::ReadFile(dir / "text.zip"), "plain text");
}

}  // namespace

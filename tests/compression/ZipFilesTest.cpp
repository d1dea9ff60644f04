#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <limits>

#include "compression/ExternalCheck.h"
#include "compression/WorkingFolder.h"
#include "quillmark/compression/ZipFiles.h"
#include "quillmark/compression/Zipper.h"
#include "quillmark/frame/ErrorNumbers.h"
#include "support/ErrorOf.h"
#include "support/FaultInjection.h"
#include "support/FileSizeLimit.h"
#include "support/ProgressLog.h"
#include "support/TestEnvironment.h"

namespace {

namespace fs = std::filesystem;

// Many files make one archive, in the order given. A second run makes it
// anew (entries not given again go); an update keeps them.
TEST(ZipFiles, ArchivesManyFilesInOrderAndMakesTheArchiveAnewUnlessUpdating) {
  qm::test::ScratchDir dir;
  qm::test::WorkingFolder here(dir.Path());
  std::vector<std::string> names;
  std::uint64_t total = 0;
  for (int i = 0; i < 3000; ++i) {
    names.push_back("f" + std::to_string(i) + ".txt");
    qm::test::WriteFile(names.back(), std::string(static_cast<std::size_t>(i % 40), static_cast<char>('a' + i % 26)));
    total += static_cast<std::uint64_t>(i % 40);
  }
  std::vector<fs::path> files(names.begin(), names.end());
  const fs::path archive = "all.zip";
  qm::test::ProgressLog log;
  qm::ZipReport report;
  {
    // One read a file, and none of the archive: it is written once, never
    // read back to add more.
    qm::test::FailNthCall reads(std::numeric_limits<long>::max(), 0, qm::io::sys::Call::Read);
    report = qm::ZipFiles(archive, files, log.Callback());
    EXPECT_LE(reads.Seen(), 3000 + 30);
  }
  EXPECT_TRUE(report.Complete()) << report.Message();
  EXPECT_EQ(report.Archived, 3000u);
  EXPECT_TRUE(qm::test::UnzipTestPasses(archive));
  EXPECT_TRUE(qm::test::PythonReadsBack(archive, dir.Path(), names));
  // Progress tells the files' bytes steadily up to the whole.
  EXPECT_TRUE(log.Steady());
  ASSERT_FALSE(log.Calls.empty());
  EXPECT_EQ(log.Calls.back(), std::make_pair(total, total));
  EXPECT_TRUE(std::any_of(log.Calls.begin(), log.Calls.end(), [&](auto c) { return c.first > 0 && c.first < total; }));

  // The published Zipper, given the same names, keeps the first 1024.
  qm::Zipper zipper;
  for (int i = 0; i < 1025; ++i) zipper.AddFile(names[static_cast<std::size_t>(i)]);
  ASSERT_EQ(zipper.Compress("many.zip"), qm::ZE_OK);
  EXPECT_TRUE(qm::test::PythonReadsBack("many.zip", dir.Path(), {names.begin(), names.begin() + 1024}));
  zipper.ClearFilenames();
  EXPECT_EQ(zipper.Compress("many.zip"), qm::ZE_Nothing_To_Do_ERR);

  // Made anew: a missing name and the archive itself are reported, and the
  // entry of the first run that is not given again is gone.
  files[1500] = "gone.txt";
  files.push_back(dir.Path() / "all.zip");
  qm::test::WriteFile("f7.txt", "changed");
  report = qm::ZipFiles(archive, files);
  EXPECT_EQ(report.Result, qm::ZipResult::Ok);
  EXPECT_EQ(report.Archived, 2999u);
  EXPECT_EQ(report.Message(),
            "gone.txt: not found, not archived\n" + (dir / "all.zip") + ": is the archive itself, not archived");
  std::vector<std::string> kept = names;
  kept.erase(kept.begin() + 1500);
  const auto listed = [&] {  // unzip's list of the entries
    std::string lines;
    for (const auto& name : kept) lines += name + '\n';
    return lines;
  };
  EXPECT_EQ(qm::test::Output("unzip -Z1 all.zip"), listed());

  // Updated: the entries stay in place, one of the same name replaced, a new one after them.
  qm::test::WriteFile("f7.txt", "changed again");
  const std::vector<fs::path> more{"f1500.txt", "f7.txt"};
  report = qm::ZipFiles(archive, more, qm::ZipMode::Update);
  EXPECT_TRUE(report.Complete()) << report.Message();
  kept.push_back("f1500.txt");
  EXPECT_EQ(qm::test::Output("unzip -Z1 all.zip"), listed());
  EXPECT_EQ(qm::test::Output("unzip -p all.zip f7.txt"), "changed again");
  EXPECT_TRUE(qm::test::UnzipTestPasses(archive));
}

TEST(ZipFiles, AFailureNamesTheFileAndNothingFoundWritesNothing) {
  qm::test::ScratchDir dir;
  std::vector<fs::path> files;
  for (int i = 0; i < 1100; ++i) files.push_back(dir.Path() / ("m" + std::to_string(i)));
  const fs::path archive = dir.Path() / "none.zip";
  qm::ZipReport report = qm::ZipFiles(archive, files);
  EXPECT_EQ(report.Result, qm::ZipResult::NothingFound);
  EXPECT_EQ(report.Skipped.size(), 1100u);
  EXPECT_FALSE(fs::exists(archive));
  EXPECT_TRUE(report.Message().ends_with("none of the files was found: no archive written"));

  // An output that is no archive is refused, not made anew, and left alone.
  qm::test::WriteFile(dir / "m3", "three");
  qm::test::WriteFile(dir / "text.zip", "plain text");
  report = qm::ZipFiles(dir.Path() / "text.zip", files);
  EXPECT_EQ(report.Result, qm::ZipResult::NotAnArchive);
  EXPECT_EQ(report.FailedFile, dir.Path() / "text.zip");
  EXPECT_EQ(report.Archived, 0u);
  EXPECT_NE(report.Message().find(dir / "text.zip" + ": exists but is not a zip archive"), std::string::npos);
  EXPECT_EQ(qm::test::ReadFile(dir / "text.zip"), "plain text");
}

TEST(ZipFiles, EntriesAreNamedUnderABaseFolderOrByPairsAndNamesStayInside) {
  qm::test::ScratchDir dir;
  fs::create_directories(dir.Path() / "site/pics");
  qm::test::WriteFile(dir / "site/index.html", "<p>home</p>");
  qm::test::WriteFile(dir / "site/pics/a.png", "png bytes");
  qm::test::WriteFile(dir / "notes.txt", "notes");
  const std::vector<fs::path> files = {dir.Path() / "site/index.html", dir.Path() / "site/./pics/a.png"};
  const fs::path archive = dir.Path() / "site.zip";
  qm::ZipReport report = qm::ZipFiles(archive, files, dir.Path() / "site");
  EXPECT_TRUE(report.Complete()) << report.Message();
  EXPECT_TRUE(qm::test::PythonReadsBack(archive, dir.Path() / "site", {"index.html", "pics/a.png"}));

  // Relative files and base, both from the current folder.
  {
    qm::test::WorkingFolder here(dir.Path());
    const std::vector<fs::path> relative = {"site/pics/a.png"};
    report = qm::ZipFiles("rel.zip", relative, "site/");
    EXPECT_TRUE(report.Complete()) << report.Message();
    EXPECT_TRUE(qm::test::PythonReadsBack("rel.zip", dir.Path() / "site", {"pics/a.png"}));
  }

  // Pairs: any name, folders made up on the way; a missing file is reported
  // under its own path.
  const std::vector<qm::ZipEntry> entries = {{dir.Path() / "notes.txt", "docs/readme.txt"},
                                             {dir.Path() / "site/index.html", "index.html"},
                                             {dir.Path() / "gone.txt", "gone.txt"}};
  report = qm::ZipFiles(dir.Path() / "pairs.zip", entries);
  EXPECT_EQ(report.Result, qm::ZipResult::Ok);
  EXPECT_EQ(report.Archived, 2u);
  ASSERT_EQ(report.Skipped.size(), 1u);
  EXPECT_EQ(report.Skipped[0].File, dir.Path() / "gone.txt");
  EXPECT_TRUE(qm::test::PythonReadsBack(dir / "pairs.zip", dir.Path(),
                                        {"docs/readme.txt=notes.txt", "index.html=site/index.html"}));

  // Names that would land outside the folder an archive is unpacked into,
  // and files outside the base, are refused before anything is written.
  for (const char* bad : {"", "/etc/passwd", "../up.txt", "a/../../up.txt", "a\\..\\..\\up.txt"}) {
    const std::vector<qm::ZipEntry> one = {{dir.Path() / "notes.txt", bad}};
    EXPECT_EQ(qm::test::ErrorOf([&] { qm::ZipFiles(dir.Path() / "bad.zip", one); }), qm::ERR_InvalidProcedureCall)
        << bad;
  }
  const std::vector<fs::path> outside = {dir.Path() / "notes.txt"};
  EXPECT_EQ(qm::test::ErrorOf([&] { qm::ZipFiles(dir.Path() / "bad.zip", outside, dir.Path() / "site"); }),
            qm::ERR_InvalidProcedureCall);
  EXPECT_FALSE(fs::exists(dir.Path() / "bad.zip"));
}

// An archive larger than the writer's buffer, with a file streamed past the
// small-file limit between small ones: every local header is written again
// after its data, some far behind the bytes still buffered. An update keeps
// the archive's permission bits and deflates a replaced large file at level 6
// too (libzip's own default is 9); one that fails leaves the archive whole.
TEST(ZipFiles, LargeArchivesAndUpdatesReadBackAndAFailedUpdateLeavesTheOldArchive) {
  qm::test::ScratchDir dir;
  qm::test::WorkingFolder here(dir.Path());
  // 64 KiB of varied lines, repeated past the small-file limit: further apart
  // than deflate's window, so it deflates to megabytes.
  std::string block;
  std::uint32_t state = 7;
  while (block.size() < (std::size_t{64} << 10)) {
    state = state * 1664525u + 1013904223u;
    block += "line " + std::to_string(state >> 20) + '\n';
  }
  std::string big;
  while (big.size() < (std::size_t{17} << 20)) big += block;
  qm::test::WriteFile("big.txt", big);
  qm::test::WriteFile("a.txt", std::string(3000, 'a'));
  qm::test::WriteFile("b.txt", "b");
  const std::vector<fs::path> first{"a.txt", "big.txt", "b.txt"};
  ASSERT_TRUE(qm::ZipFiles("x.zip", first).Complete());
  EXPECT_TRUE(qm::test::UnzipTestPasses("x.zip"));
  EXPECT_TRUE(qm::test::PythonReadsBack("x.zip", dir.Path(), {"a.txt", "big.txt", "b.txt"}));

  fs::permissions("x.zip", fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  qm::test::WriteFile("c.txt", "c");
  const auto bigEntry = [] { return qm::test::Output("unzip -v x.zip big.txt | grep big.txt"); };
  const std::string deflatedAt6 = bigEntry();  // sizes, method and CRC
  const std::vector<fs::path> second{"c.txt", "big.txt"};
  ASSERT_TRUE(qm::ZipFiles("x.zip", second, qm::ZipMode::Update).Complete());
  EXPECT_EQ(bigEntry(), deflatedAt6);
  EXPECT_EQ(fs::status("x.zip").permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  EXPECT_TRUE(qm::test::PythonReadsBack("x.zip", dir.Path(), {"a.txt", "big.txt", "b.txt", "c.txt"}));

  // An update whose archive cannot be written out (the file-size limit makes
  // the writes fail) leaves it as it was, and nothing beside it. (One
  // stopped by its callback is tested under TypedErrors.)
  const std::string before = qm::test::ReadFile("x.zip");
  qm::test::WriteFile("b.txt", "changed");
  const std::vector<fs::path> third{"b.txt"};  // with the entries copied, past the limit
  qm::ZipReport refused;
  {
    qm::test::FileSizeLimit limit(1 << 20);
    refused = qm::ZipFiles("x.zip", third, qm::ZipMode::Update);
  }
  EXPECT_EQ(refused.Result, qm::ZipResult::WriteFailed) << refused.Message();
  EXPECT_EQ(qm::test::ReadFile("x.zip"), before);
  std::size_t entries = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir.Path())) ++entries;
  EXPECT_EQ(entries, 5u);  // x.zip and the four files: no temporary
}

}  // namespace

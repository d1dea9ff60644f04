#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <limits>
#include <random>

#include "compression/ExternalCheck.h"
#include "compression/WorkingFolder.h"
#include "errors/ErrorTexts.h"
#include "quillmark/compression/ZipFiles.h"
#include "quillmark/compression/Zipper.h"
#include "quillmark/errors/Error.h"
#include "quillmark/errors/ErrorNumbers.h"
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

using qm::test::PythonReadsBack;
using qm::test::UnzipTestPasses;
using qm::test::WorkingFolder;

TEST(Zipper, LookupErrNamesEveryResultAndNothingToDoWritesNoArchive) {
  qm::Zipper zipper;
  EXPECT_EQ(zipper.LookupErr(qm::ZE_OK), "OK");
  EXPECT_EQ(zipper.LookupErr(qm::ZE_Write_ERR), "Disk write error - check disk is write enabled");
  for (int code = -1; code <= 20; ++code) {
    const bool named = code == 0 || (code >= 2 && code <= 18 && code != 17);
    EXPECT_NE(zipper.LookupErr(static_cast<qm::ZipErrors>(code)).empty(), named) << code;
  }
  // The texts come into the error number table from this folder: registered,
  // found by number, and merged with the table's own rows.
  const auto registered = qm::errors::RegisteredErrorTexts();
  ASSERT_EQ(registered.size(), 16u);
  EXPECT_EQ(registered.front().Number, qm::ERR_ArchiveBase + qm::ZE_Unexpected_EOF_ERR);
  EXPECT_EQ(registered.back().Text, "File open error");
  EXPECT_EQ(qm::FindErrorText(qm::ERR_ArchiveBase + qm::ZE_Nothing_To_Do_ERR), "Nothing to do - check files exist");
  EXPECT_EQ(qm::FindErrorText(qm::ERR_ArchiveBase + qm::ZE_OK), std::nullopt);
  EXPECT_EQ(qm::FindErrorText(qm::ERR_ArchiveBase + 17), std::nullopt);  // no code 17
  const auto table = qm::ErrorTable();
  for (const auto& row : registered)
    EXPECT_TRUE(std::any_of(table.begin(), table.end(), [&](const qm::ErrorEntry& e) {
      return e.Number == row.Number && e.Text == row.Text;
    })) << row.Number;

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
  zipper.AddFile("not-there.txt");          // skipped
  zipper.AddFile("pics\\small\\data.txt");  // written the Windows way
  zipper.AddFile("./empty.txt");
  zipper.AddFile("caf\xC3\xA9.txt");
  zipper.AddFile(dir / "report.html");  // absolute: stored without the leading "/"
  zipper.AddFile("/proc/version");      // says it is empty, and is not
  ASSERT_EQ(zipper.Compress("out.zip"), qm::ZE_OK);

  // Entries in order, the missing name skipped, the absolute names made relative.
  const std::string absolute = (dir / "report.html").substr(1);
  EXPECT_TRUE(UnzipTestPasses("out.zip"));
  EXPECT_TRUE(PythonReadsBack("out.zip", dir.Path(),
                              {"report.html", "pics/chart.bin", "pics/small/data.txt", "empty.txt", "caf\xC3\xA9.txt",
                               absolute + "=" + (dir / "report.html"), "proc/version=/proc/version"}));
  EXPECT_LT(fs::file_size("out.zip"), 2 * 70000u + text.size() / 4);  // the text was deflated
}

// Updating an archive is tested in DeflatePoolTest and ZipFilesTest, and the
// limit of 1024 names in ZipFiles.ArchivesEveryFileInRoundsAndSaysWhichAreMissing
// (which has the files).

std::string Hex(std::string_view bytes) {
  std::string hex;
  for (const unsigned char b : bytes) hex += {"0123456789abcdef"[b >> 4], "0123456789abcdef"[b & 15]};
  return hex;
}

// One line of PythonListsEntries (never UTF-8 flagged here).
std::string Entry(std::string_view name, std::string_view content) { return Hex(name) + " 0 " + Hex(content) + "\n"; }

TEST(Zipper, UpdatesArchivesWhoseNamesAreNotUtf8) {
  qm::test::ScratchDir dir;
  WorkingFolder here(dir.Path());
  const std::string latin = "caf\xE9.txt";      // Latin-1: not UTF-8, libzip reads it as CP437
  const std::string dos = "na\x8Bve.txt";       // CP437 for "naïve.txt"
  const std::string utf8 = "na\xC3\xAFve.txt";  // the same name in UTF-8
  const std::string folder = "d\xE9j\xE0";      // a Latin-1 folder name
  qm::test::WriteFile(latin, "old");
  qm::test::WriteFile(dos, "dos");
  qm::test::WriteFile("b.txt", "b");
  fs::create_directory(folder);

  // An archive written by Info-ZIP's zip stores the names' bytes, no UTF-8 flag.
  ASSERT_EQ(std::system(("zip -q made-by-zip.zip " + latin + " " + dos).c_str()), 0);
  qm::test::WriteFile(latin, "new");
  qm::test::WriteFile(utf8, "utf8");
  qm::Zipper zipper;
  zipper.AddFile(latin);
  zipper.AddFile(utf8);
  zipper.AddFile("b.txt");
  ASSERT_EQ(zipper.Compress("made-by-zip.zip"), qm::ZE_OK);
  // The Latin-1 entry is replaced in place; the UTF-8 spelling of the CP437
  // name is the same name to a zip reader, so it replaces that entry too.
  EXPECT_EQ(qm::test::PythonListsEntries("made-by-zip.zip"),
            Entry(latin, "new") + Entry(dos, "utf8") + Entry("b.txt", "b"));
  EXPECT_TRUE(UnzipTestPasses("made-by-zip.zip"));

  // Our own archive: written, then updated with the same names.
  zipper.ClearFilenames();
  zipper.AddFile(latin);
  zipper.AddFile(folder);
  ASSERT_EQ(zipper.Compress("ours.zip"), qm::ZE_OK);
  qm::test::WriteFile(latin, "newer");
  zipper.AddFile("b.txt");
  ASSERT_EQ(zipper.Compress("ours.zip"), qm::ZE_OK);
  ASSERT_EQ(zipper.Compress("ours.zip"), qm::ZE_OK);
  EXPECT_EQ(qm::test::PythonListsEntries("ours.zip"),
            Entry(latin, "newer") + Entry(folder + "/", "") + Entry("b.txt", "b"));
}

TEST(Zipper, OutputProblemsComeBackAsZipCodes) {
  qm::test::ScratchDir dir;
  qm::test::WriteFile(dir / "a.txt", "a");
  qm::Zipper zipper;  // an output that is not an archive is tested under ZipFiles
  zipper.AddFile(dir / "a.txt");
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

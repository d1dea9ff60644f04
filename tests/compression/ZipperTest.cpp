#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <random>

#include "compression/ExternalCheck.h"
#include "compression/WorkingFolder.h"
#include "quillmark/compression/Zipper.h"
#include "quillmark/errors/Error.h"
#include "support/ErrorOf.h"
#include "support/TestEnvironment.h"

namespace {

namespace fs = std::filesystem;
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

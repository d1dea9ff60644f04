// The tool's failures name the file and say in words what went wrong; zip
// archives every file it is given or exits non-zero.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>

#include "ToolRun.h"

namespace {

namespace fs = std::filesystem;

using qm::test::Quillmark;
using qm::test::ToolRun;

// The run failed with exit status 1 and said `words`.
testing::AssertionResult FailsSaying(const ToolRun& run, const std::string& words) {
  if (run.Status == 1 && run.Output.find(words) != std::string::npos) return testing::AssertionSuccess();
  return testing::AssertionFailure() << "exit status " << run.Status << ", output:\n" << run.Output;
}

TEST(ToolMessages, FailuresNameTheFileAndSayWhatWentWrong) {
  qm::test::ScratchDir dir;
  const fs::path& d = dir.Path();
  qm::test::WriteFile(dir / "plain.txt", "plain text, not compressed");
  qm::test::WriteFile(dir / "empty", "");
  qm::test::WriteFile(dir / "page.html", "<html><body>hi</body></html>");
  // An unclosed quote runs to the end: one cell too long for a worksheet.
  qm::test::WriteFile(dir / "long.tsv", "a\t\"" + std::string(20000, 'x') + "\n" + std::string(20000, 'y') + "\n");
  fs::create_directory(d / "folder");

  // Each failing command and the words it must say; a folder where a file is
  // expected is said to be one, on either side.
  const std::pair<const char*, const char*> kCases[] = {
      {"compress missing.bin out", "missing.bin does not exist (error 53: File not found: 'missing.bin')"},
      {"compress empty out", "empty is empty: there is nothing to compress"},
      {"compress plain.txt no-folder/out", "cannot write no-folder/out: the folder no-folder does not exist"},
      {"decompress plain.txt out",
       "plain.txt is not a compressed file of this kind, or it is damaged; out holds only what could be "
       "decompressed (zlib result -3: data error)"},
      {"mht missing.html", "missing.html does not exist"},
      {"jpeg plain.txt out.jpg", "Invalid picture: not a BMP, GIF, JPEG or PNG file: 'plain.txt'"},
      {"xml-check missing.xml", "missing.xml does not exist"},
      {"xml-check plain.txt", "'plain.txt' is not well-formed XML: line 1, column 1: syntax error"},
      {"export-tsv missing.tsv out.xlsx", "missing.tsv does not exist"},
      {"find no-folder '*'", "no-folder does not exist"},
      {"zip plain.txt page.html",
       "plain.txt: exists but is not a zip archive, or is damaged (Not a zip archive); it was left as it was"},
      {"zip no-folder/a.zip page.html", "cannot write no-folder/a.zip: the folder no-folder does not exist"},
      {"interp --linear -1 1 2", "PRECISION -1 is negative: it gives the points per interval (error 9)"},
      {"zip '' page.html", "quillmark zip: no archive name was given\n"},
      {"zip a.zip . page.html", ".: is the root or the current folder, which has no name to store, not archived"},
      {"zip a.zip missing.txt", "none of the files was found: no archive written"},
      {"export-tsv folder out.xlsx", "folder is a folder, not a file"},
      {"export-tsv long.tsv out.xlsx", "A cell holds more than 32767 characters"},
  };
  for (const auto& [arguments, words] : kCases) EXPECT_TRUE(FailsSaying(Quillmark(d, arguments), words)) << arguments;
  EXPECT_FALSE(fs::exists(d / "out.xlsx"));
  const ToolRun intoFolder = Quillmark(d, "zip folder page.html");
  EXPECT_TRUE(FailsSaying(intoFolder, "folder: is a folder, not a zip archive"));
  EXPECT_EQ(intoFolder.Output.find("Internal logic"), std::string::npos) << intoFolder.Output;
  EXPECT_EQ(qm::test::ReadFile(dir / "plain.txt"), "plain text, not compressed");

  // Written over its input, a file is reported with the size it had.
  const ToolRun inPlace = Quillmark(d, "compress plain.txt plain.txt");
  EXPECT_EQ(inPlace.Status, 0);
  EXPECT_TRUE(inPlace.Output.starts_with("plain.txt (26 bytes) -> plain.txt (")) << inPlace.Output;
}

TEST(ToolMessages, ZipArchivesEveryFileOrExitsNonZero) {
  qm::test::ScratchDir dir;
  const fs::path& d = dir.Path();
  fs::create_directory(d / "many");
  std::string names;
  for (int i = 0; i < 1100; ++i) {  // more than the Zipper's 1024
    qm::test::WriteFile(dir / ("many/" + std::to_string(i)), std::to_string(i));
    names += " many/" + std::to_string(i);
  }
  ToolRun run = Quillmark(d, "zip all.zip" + names);
  EXPECT_EQ(run.Status, 0) << run.Output;
  EXPECT_EQ(run.Output, "all.zip: 1100 files\n");
  EXPECT_EQ(qm::test::Output("unzip -Z1 '" + (dir / "all.zip") + "' | wc -l"), "1100\n");

  // A file asked for that is not in the archive makes the run fail, naming it.
  run = Quillmark(d, "zip all.zip" + names + " many/gone");
  EXPECT_EQ(run.Status, 1);
  EXPECT_NE(run.Output.find("quillmark zip: many/gone: not found, not archived\n"), std::string::npos) << run.Output;
  EXPECT_NE(run.Output.find("1 of 1101 files are not in all.zip"), std::string::npos) << run.Output;

  // -u keeps the entries there; without it the archive is made anew.
  qm::test::WriteFile(dir / "extra.txt", "x");
  EXPECT_EQ(Quillmark(d, "zip -u all.zip extra.txt").Status, 0);
  EXPECT_EQ(qm::test::Output("unzip -Z1 '" + (dir / "all.zip") + "' | wc -l"), "1101\n");
  EXPECT_EQ(Quillmark(d, "zip all.zip extra.txt").Status, 0);
  EXPECT_EQ(qm::test::Output("unzip -Z1 '" + (dir / "all.zip") + "'"), "extra.txt\n");
}

}  // namespace

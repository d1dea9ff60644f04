// Archives: ZipFiles, the published Zipper, and the pool that deflates their
// files on helper threads.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <zip.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <limits>
#include <random>
#include <set>
#include <thread>
#include <tuple>

#include "compression/DeflatePool.h"
#include "compression/ExternalCheck.h"
#include "compression/HelperAllocations.h"
#include "io/Executor.h"
#include "quillmark/compression/Compress.h"
#include "quillmark/compression/ZipFiles.h"
#include "quillmark/compression/Zipper.h"
#include "quillmark/errors/ErrorNumbers.h"
#include "support/ErrorTrail.h"
#include "support/FaultInjection.h"
#include "support/FileSizeLimit.h"
#include "support/ProgressLog.h"
#include "support/TestEnvironment.h"

namespace {

namespace fs = std::filesystem;
using qm::compression::DeflatedFile;
using qm::compression::DeflatePool;
using namespace qm::test;

// Runs a test body inside a folder, so that relative names mean something.
struct WorkingFolder {
  explicit WorkingFolder(const fs::path& folder) { fs::current_path(folder); }
  ~WorkingFolder() { fs::current_path(previous); }
  const fs::path previous = fs::current_path();  // taken before the constructor's body runs
};

// Writes each file with its bytes.
void WriteEach(std::initializer_list<std::pair<std::string, std::string>> files) {
  for (const auto& [path, bytes] : files) WriteFile(path, bytes);
}

// Many files make one archive, in the order given. A second run makes it
// anew (entries not given again go). (Updates, which keep them: the large
// archive's update below, and the Zipper's under DeflatePool.)
TEST(ZipFiles, ArchivesManyFilesInOrderAndMakesTheArchiveAnew) {
  ScratchDir dir;
  WorkingFolder here(dir.Path());
  std::vector<std::string> names;
  const std::uint64_t total = 75 * 780;  // 0 ... 39 bytes, 75 times each
  for (int i = 0; i < 3000; ++i) {
    names.push_back("f" + std::to_string(i) + ".txt");
    WriteFile(names.back(), std::string(static_cast<std::size_t>(i % 40), static_cast<char>('a' + i % 26)));
  }
  std::vector<fs::path> files(names.begin(), names.end());
  ProgressLog log;
  qm::ZipReport report;
  {
    // One read a file, and none of the archive: it is written once, never
    // read back to add more.
    FailNthCall reads(std::numeric_limits<long>::max(), 0, qm::io::sys::Call::Read);
    report = qm::ZipFiles("all.zip", files, log.Callback());
    EXPECT_LE(reads.Seen(), 3000 + 30);
  }
  EXPECT_TRUE(report.Complete() && report.Archived == 3000u) << report.Message();
  EXPECT_TRUE(UnzipTestPasses("all.zip") && PythonReadsBack("all.zip", dir.Path(), names));
  // Progress tells the files' bytes steadily up to the whole.
  ASSERT_TRUE(log.Steady() && !log.Calls.empty());
  EXPECT_EQ(log.Calls.back(), std::make_pair(total, total));
  EXPECT_TRUE(std::any_of(log.Calls.begin(), log.Calls.end(), [&](auto c) { return c.first > 0 && c.first < total; }));

  // The published Zipper, given the same names, keeps the first 1024.
  qm::Zipper zipper;
  for (int i = 0; i < 1025; ++i) zipper.AddFile(names[static_cast<std::size_t>(i)]);
  ASSERT_EQ(zipper.Compress("many.zip"), qm::ZE_OK);
  EXPECT_TRUE(PythonReadsBack("many.zip", dir.Path(), {names.begin(), names.begin() + 1024}));

  // Made anew: a missing name and the archive itself are reported, and the
  // entry of the first run that is not given again is gone.
  files[1500] = "gone.txt";
  files.push_back(dir.Path() / "all.zip");
  report = qm::ZipFiles("all.zip", files);
  EXPECT_EQ(std::pair(report.Result, report.Archived), std::pair(qm::ZipResult::Ok, std::size_t{2999}));
  EXPECT_EQ(report.Message(),
            "gone.txt: not found, not archived\n" + (dir / "all.zip") + ": is the archive itself, not archived");
  names.erase(names.begin() + 1500);
  EXPECT_TRUE(PythonReadsBack("all.zip", dir.Path(), names));
}

TEST(ZipFiles, EntriesAreNamedUnderABaseFolderOrByPairsNamesStayInsideAndAFailureNamesTheFile) {
  ScratchDir dir;
  fs::create_directories(dir.Path() / "site/pics");
  WriteEach(
      {{dir / "site/index.html", "<p>home</p>"}, {dir / "site/pics/a.png", "png bytes"}, {dir / "notes.txt", "notes"}});
  const std::vector<fs::path> files = {dir.Path() / "site/index.html", dir.Path() / "site/./pics/a.png"};
  EXPECT_TRUE(qm::ZipFiles(dir.Path() / "site.zip", files, dir.Path() / "site").Complete() &&
              PythonReadsBack(dir / "site.zip", dir.Path() / "site", {"index.html", "pics/a.png"}));
  {
    // Relative files and base, both from the current folder.
    WorkingFolder here(dir.Path());
    EXPECT_TRUE(qm::ZipFiles("rel.zip", std::vector<fs::path>{"site/pics/a.png"}, "site/").Complete() &&
                PythonReadsBack("rel.zip", dir.Path() / "site", {"pics/a.png"}));
  }

  // Pairs: any name, folders made up on the way; a missing file is reported
  // under its own path.
  const std::vector<qm::ZipEntry> entries = {{dir.Path() / "notes.txt", "docs/readme.txt"},
                                             {dir.Path() / "site/index.html", "index.html"},
                                             {dir.Path() / "gone.txt", "gone.txt"}};
  const qm::ZipReport report = qm::ZipFiles(dir.Path() / "pairs.zip", entries);
  EXPECT_EQ(std::pair(report.Result, report.Archived), std::pair(qm::ZipResult::Ok, std::size_t{2}));
  EXPECT_EQ(report.Message(), (dir / "gone.txt") + ": not found, not archived");
  EXPECT_TRUE(
      PythonReadsBack(dir / "pairs.zip", dir.Path(), {"docs/readme.txt=notes.txt", "index.html=site/index.html"}));

  // Names that would land outside the folder an archive is unpacked into,
  // and files outside the base, are refused before anything is written.
  for (const char* bad : {"", "/etc/passwd", "../up.txt", "a/../../up.txt", "a\\..\\..\\up.txt"}) {
    const std::vector<qm::ZipEntry> one = {{dir.Path() / "notes.txt", bad}};
    EXPECT_EQ(ErrorOf([&] { qm::ZipFiles(dir.Path() / "bad.zip", one); }), qm::ERR_InvalidProcedureCall) << bad;
  }
  const std::vector<fs::path> outside = {dir.Path() / "notes.txt"};
  EXPECT_EQ(ErrorOf([&] { qm::ZipFiles(dir.Path() / "bad.zip", outside, dir.Path() / "site"); }),
            qm::ERR_InvalidProcedureCall);
  EXPECT_FALSE(fs::exists(dir.Path() / "bad.zip"));

  // None found writes nothing; a failure names the file.
  std::vector<fs::path> many;
  for (int i = 0; i < 1100; ++i) many.push_back(dir.Path() / ("m" + std::to_string(i)));
  qm::ZipReport failed = qm::ZipFiles(dir.Path() / "none.zip", many);
  EXPECT_EQ(std::pair(failed.Result, failed.Skipped.size()), std::pair(qm::ZipResult::NothingFound, std::size_t{1100}));
  EXPECT_FALSE(fs::exists(dir.Path() / "none.zip"));
  EXPECT_TRUE(failed.Message().ends_with("none of the files was found: no archive written"));

  // An output that is no archive is refused, not made anew, and left alone.
  WriteEach({{dir / "m3", "three"}, {dir / "text.zip", "plain text"}});
  failed = qm::ZipFiles(dir.Path() / "text.zip", many);
  EXPECT_EQ(std::tuple(failed.Result, failed.FailedFile, failed.Archived),
            std::tuple(qm::ZipResult::NotAnArchive, dir.Path() / "text.zip", std::size_t{0}));
  EXPECT_NE(failed.Message().find(dir / "text.zip" + ": exists but is not a zip archive"), std::string::npos);
  EXPECT_EQ(ReadFile(dir / "text.zip"), "plain text");
}

// An archive larger than the writer's buffer, with a file streamed past the
// small-file limit between small ones: every local header is written again
// after its data, some far behind the bytes still buffered. An update keeps
// the archive's permission bits and deflates a replaced large file at level 6
// too (libzip's own default is 9); one that fails leaves the archive whole.
TEST(ZipFiles, LargeArchivesAndUpdatesReadBackAndAFailedUpdateLeavesTheOldArchive) {
  ScratchDir dir;
  WorkingFolder here(dir.Path());
  // 64 KiB of varied lines, repeated past the small-file limit: further apart
  // than deflate's window, so it deflates to megabytes.
  std::string block;
  for (std::uint32_t state = 7; block.size() < (std::size_t{64} << 10);) {
    state = state * 1664525u + 1013904223u;
    block += "line " + std::to_string(state >> 20) + '\n';
  }
  std::string big;
  while (big.size() < (std::size_t{17} << 20)) big += block;
  WriteEach({{"big.txt", big}, {"a.txt", std::string(3000, 'a')}, {"b.txt", "b"}});
  ASSERT_TRUE(qm::ZipFiles("x.zip", std::vector<fs::path>{"a.txt", "big.txt", "b.txt"}).Complete());
  EXPECT_TRUE(UnzipTestPasses("x.zip") && PythonReadsBack("x.zip", dir.Path(), {"a.txt", "big.txt", "b.txt"}));

  const auto mode = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
  fs::permissions("x.zip", mode);
  WriteFile("c.txt", "c");
  const auto bigEntry = [] { return Output("unzip -v x.zip big.txt | grep big.txt"); };
  const std::string deflatedAt6 = bigEntry();  // sizes, method and CRC
  ASSERT_TRUE(qm::ZipFiles("x.zip", std::vector<fs::path>{"c.txt", "big.txt"}, qm::ZipMode::Update).Complete());
  EXPECT_EQ(bigEntry(), deflatedAt6);
  EXPECT_EQ(fs::status("x.zip").permissions() & fs::perms::all, mode);
  EXPECT_TRUE(PythonReadsBack("x.zip", dir.Path(), {"a.txt", "big.txt", "b.txt", "c.txt"}));

  // An update whose archive cannot be written out (the file-size limit makes
  // the writes fail, with the entries copied) leaves it as it was, and
  // nothing beside it. (One stopped by its callback is tested under TypedErrors.)
  const std::string before = ReadFile("x.zip");
  WriteFile("b.txt", "changed");
  qm::ZipReport refused;
  {
    FileSizeLimit limit(1 << 20);
    refused = qm::ZipFiles("x.zip", std::vector<fs::path>{"b.txt"}, qm::ZipMode::Update);
  }
  EXPECT_EQ(refused.Result, qm::ZipResult::WriteFailed) << refused.Message();
  EXPECT_EQ(ReadFile("x.zip"), before);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), {}), 5);  // x.zip and the four files: no temporary
}

// One line of PythonListsEntries (never UTF-8 flagged here): name and content in hex.
std::string Entry(std::string_view name, std::string_view content) {
  const auto hex = [](std::string_view bytes) {
    std::string out;
    for (const unsigned char b : bytes) out += {"0123456789abcdef"[b >> 4], "0123456789abcdef"[b & 15]};
    return out;
  };
  return hex(name) + " 0 " + hex(content) + "\n";
}

// LookupErr names every result; nothing to do or an output problem writes no
// archive. Archives are read back exactly by other tools, and those whose
// names are not UTF-8 are updated.
TEST(Zipper, ResultsAndErrorsAndArchivesReadBackExactlyByOtherToolsAlsoWithNamesThatAreNotUtf8) {
  ScratchDir dir;
  qm::Zipper zipper;
  EXPECT_EQ(zipper.LookupErr(qm::ZE_OK), "OK");
  EXPECT_EQ(zipper.LookupErr(qm::ZE_Write_ERR), "Disk write error - check disk is write enabled");
  // Codes -1 ... 20: OK and the errors (2 ... 18 but 17) have a text; the
  // errors' texts come into the error number table from this folder
  // (ErrorTable checks that every row of the table is found).
  for (int code = -1; code <= 20; ++code) {
    const std::string text = zipper.LookupErr(static_cast<qm::ZipErrors>(code));
    const bool error = code >= 2 && code <= 18 && code != 17;
    EXPECT_EQ(text.empty(), !error && code != 0) << code;
    EXPECT_EQ(qm::FindErrorText(qm::ERR_ArchiveBase + code).value_or("(none)"), error ? text : "(none)") << code;
  }

  EXPECT_EQ(zipper.Compress(dir / "a.zip"), qm::ZE_Nothing_To_Do_ERR);
  EXPECT_EQ(Trail([&] { zipper.CompressRaiseErr(dir / "a.zip"); }),
            "-2147221392: Nothing to do - check files exist @ QuillmarkLibrary.Zipper|[ZipMgr]Public Sub "
            "CompressRaiseErr(\"" +
                (dir / "a.zip") + "\")");
  zipper.AddFile(dir / "missing.txt");
  EXPECT_EQ(zipper.Compress(dir / "a.zip"), qm::ZE_Nothing_To_Do_ERR);
  EXPECT_FALSE(fs::exists(dir / "a.zip"));

  // An output that cannot be made (one that is not an archive is tested under ZipFiles).
  WriteFile(dir / "a.txt", "a");
  zipper.AddFile(dir / "a.txt");
  EXPECT_EQ(zipper.Compress(dir / "no-such-folder/a.zip"), qm::ZE_Create_ERR);
  EXPECT_EQ(Described([&] { zipper.CompressRaiseErr(dir / "no-such-folder/a.zip"); }),
            std::to_string(-2147221404 + 15) + ": File creation error - check disk is write enabled");
  // The archive is never added to itself, and a pipe (which could block) is skipped.
  ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0600), 0);
  for (const char* name : {"self.zip", "pipe"}) zipper.AddFile(dir / name);
  ASSERT_EQ(zipper.Compress(dir / "self.zip"), qm::ZE_OK);
  ASSERT_EQ(zipper.Compress(dir / "self.zip"), qm::ZE_OK);
  EXPECT_TRUE(PythonReadsBack(dir / "self.zip", "/", {(dir / "a.txt").substr(1)}));  // only a.txt

  // Read back by other tools.
  WorkingFolder here(dir.Path());
  fs::create_directories(dir.Path() / "pics/small");
  std::mt19937 random(1);
  std::string noise(70000, '\0'), text;  // the noise does not deflate
  for (auto& b : noise) b = static_cast<char>(random());
  for (int i = 0; i < 5000; ++i) text += "row " + std::to_string(i % 13) + "\tvalue\r\n";
  WriteEach({{"report.html", "<html><body><img src=\"pics/chart.bin\"></body></html>\n"}, {"empty.txt", ""}});
  WriteEach({{"pics/chart.bin", noise}, {"pics/small/data.txt", text}, {"caf\xC3\xA9.txt", "accented name"}});

  zipper.ClearFilenames();
  // The missing name is skipped, a name written the Windows way taken, and
  // absolute names are stored without the leading "/" (/proc/version says it
  // is empty, and is not).
  for (const std::string& name :
       std::vector<std::string>{"report.html", "pics/chart.bin", "not-there.txt", "pics\\small\\data.txt",
                                "./empty.txt", "caf\xC3\xA9.txt", dir / "report.html", "/proc/version"})
    zipper.AddFile(name);
  ASSERT_EQ(zipper.Compress("out.zip"), qm::ZE_OK);
  EXPECT_TRUE(
      UnzipTestPasses("out.zip") &&
      PythonReadsBack("out.zip", dir.Path(),
                      {"report.html", "pics/chart.bin", "pics/small/data.txt", "empty.txt", "caf\xC3\xA9.txt",
                       (dir / "report.html").substr(1) + "=" + (dir / "report.html"), "proc/version=/proc/version"}));
  EXPECT_LT(fs::file_size("out.zip"), 2 * 70000u + text.size() / 4);  // the text was deflated

  // Archives whose names are not UTF-8 are updated.
  const std::string latin = "caf\xE9.txt";      // Latin-1: not UTF-8, libzip reads it as CP437
  const std::string dos = "na\x8Bve.txt";       // CP437 for "naïve.txt"
  const std::string utf8 = "na\xC3\xAFve.txt";  // the same name in UTF-8
  const std::string folder = "d\xE9j\xE0";      // a Latin-1 folder name
  WriteEach({{latin, "old"}, {dos, "dos"}, {"b.txt", "b"}});
  fs::create_directory(folder);

  // An archive written by Info-ZIP's zip stores the names' bytes, no UTF-8 flag.
  ASSERT_EQ(std::system(("zip -q made-by-zip.zip " + latin + " " + dos).c_str()), 0);
  WriteEach({{latin, "new"}, {utf8, "utf8"}});
  zipper.ClearFilenames();
  for (const std::string& name : {latin, utf8, std::string("b.txt")}) zipper.AddFile(name);
  ASSERT_EQ(zipper.Compress("made-by-zip.zip"), qm::ZE_OK);
  // The Latin-1 entry is replaced in place; the UTF-8 spelling of the CP437
  // name is the same name to a zip reader, so it replaces that entry too.
  EXPECT_EQ(PythonListsEntries("made-by-zip.zip"), Entry(latin, "new") + Entry(dos, "utf8") + Entry("b.txt", "b"));
  EXPECT_TRUE(UnzipTestPasses("made-by-zip.zip"));

  // Our own archive: written, then updated with the same names.
  zipper.ClearFilenames();
  for (const std::string& name : {latin, folder}) zipper.AddFile(name);
  ASSERT_EQ(zipper.Compress("ours.zip"), qm::ZE_OK);
  WriteFile(latin, "newer");
  zipper.AddFile("b.txt");
  ASSERT_EQ(zipper.Compress("ours.zip"), qm::ZE_OK);
  ASSERT_EQ(zipper.Compress("ours.zip"), qm::ZE_OK);
  EXPECT_EQ(PythonListsEntries("ours.zip"), Entry(latin, "newer") + Entry(folder + "/", "") + Entry("b.txt", "b"));
}

// Sets the executor's thread limit for a scope.
struct ThreadLimit {
  explicit ThreadLimit(unsigned threads) { qm::io::Executor::SetLimit(threads); }
  ~ThreadLimit() { qm::io::Executor::ResetLimit(); }
};

constexpr off_t kMaxSize = 1 << 20;

// Files f0, f1 ... from empty to a few hundred KB, text and noise; their names.
std::vector<std::string> WriteFiles(const ScratchDir& dir, int count) {
  std::mt19937 random(3);
  std::vector<std::string> names;
  for (int i = 0; i < count; ++i) {
    std::string bytes;
    const std::size_t size = i == 0 ? 0 : i == 1 ? 1 : random() % (i % 5 == 0 ? 300000 : 20000);
    while (bytes.size() < size)
      bytes += i % 3 == 2 ? std::string(1, static_cast<char>(random())) : "row " + std::to_string(random() % 90) + "\n";
    bytes.resize(size);
    names.push_back("f" + std::to_string(i));
    WriteFile(dir / names.back(), bytes);
  }
  return names;
}

// Every file gets its own stream whichever thread made it and in whatever
// order it is taken; failures come back per file, and a file taken again is
// read again.
TEST(DeflatePool, EveryFileGetsItsOwnStreamOrItsOwnFailureAndAFileTakenAgainIsReadAgain) {
  ScratchDir dir;
  std::vector<std::string> paths;
  for (const auto& name : WriteFiles(dir, 40)) paths.push_back(dir / name);
  std::vector<DeflatedFile> expected;
  qm::compression::Deflater deflater(6);
  for (const auto& path : paths) {
    // (The streams inflate back: the archive of these files under the next test.)
    expected.push_back(qm::compression::ReadAndDeflate(path, kMaxSize, deflater));
    const std::string original = ReadFile(path);
    EXPECT_EQ(expected.back().Crc, crc32(0, reinterpret_cast<const Bytef*>(original.data()), original.size()));
  }

  // No helpers, one, several; a limit that lets one file ahead at a time, and a roomy one.
  for (unsigned helpers : {0u, 1u, 3u}) {
    for (std::uint64_t limit : {std::uint64_t{1}, std::uint64_t{64} << 20}) {
      DeflatePool pool(6, kMaxSize, helpers, limit);
      for (const auto& path : paths) pool.Plan(path, static_cast<off_t>(fs::file_size(path)));
      pool.Start();
      for (std::size_t i = 0; i < paths.size(); ++i) {
        const std::size_t file = i == 3 ? 30 : i == 30 ? 3 : i;  // 30 taken before 3
        const DeflatedFile got = pool.Take(file);
        SCOPED_TRACE(paths[file] + " with " + std::to_string(helpers) + " helpers");
        EXPECT_EQ(std::tie(got.ZipError, got.Size, got.Crc, got.Deflated),
                  std::tie(expected[file].ZipError, expected[file].Size, expected[file].Crc, expected[file].Deflated));
      }
    }
  }

  WriteEach({{dir / "small", "first"}, {dir / "grown", std::string(kMaxSize + 1, 'g')}});
  fs::create_directory(dir.Path() / "folder");
  DeflatePool pool(6, kMaxSize, 2, 1 << 20);
  // Files 0 ... 3, planned in order: small, missing, grown past the limit
  // since it was listed, a folder.
  for (const auto& [name, size] : {std::pair{"small", 5}, {"missing", 5}, {"grown", 500}, {"folder", 0}})
    pool.Plan(dir / name, size);
  pool.Start();
  for (const auto& [file, zipError, systemError] :
       {std::tuple{1u, ZIP_ER_OPEN, ENOENT}, {2u, ZIP_ER_READ, EFBIG}, {3u, ZIP_ER_READ, EISDIR}}) {
    const DeflatedFile failed = pool.Take(file);
    EXPECT_EQ(std::pair(failed.ZipError, failed.SystemError), std::pair(zipError, systemError)) << file;
  }
  const auto deflated = [&](const std::string& text) {
    WriteFile(dir / "text", text);
    return qm::compression::ReadAndDeflate(dir / "text", kMaxSize, deflater).Deflated;
  };
  EXPECT_EQ(pool.Take(0).Deflated, deflated("first"));
  WriteFile(dir / "small", "second");
  EXPECT_EQ(pool.Take(0).Deflated, deflated("second"));
  EXPECT_EQ(pool.Make(dir / "small").Deflated, deflated("second"));
}

// Archives and compressed files are the same bytes on any number of threads,
// and updates hold the latest; a helper that gets no memory fails its file
// with code 4 and the process goes on.
TEST(DeflatePool, ArchivesAreTheSameBytesOnAnyNumberOfThreadsUpdatesHoldTheLatestAndNoMemoryFailsAFile) {
  ScratchDir dir;
  const std::vector<std::string> names = WriteFiles(dir, 40);
  WorkingFolder here(dir.Path());
  // The compressed container streams through the file machinery.
  std::string big;
  for (long long i = 0; i < 300000; ++i) big += "row " + std::to_string(i * 7919 % 100003) + "\n";
  WriteFile("big.txt", big);
  std::set<std::string> archives, containers;
  for (unsigned threads : {0u, 1u, 8u}) {
    const ThreadLimit limit(threads);
    SCOPED_TRACE(testing::Message() << threads << " threads");
    // The same files (and times): the same archive, byte for byte.
    fs::remove("a.zip");
    qm::Zipper zipper;
    for (const auto& name : names) zipper.AddFile(name);
    ASSERT_EQ(zipper.Compress("a.zip"), qm::ZE_OK);
    ASSERT_EQ(qm::Compress().CompressFile("big.txt", "big.z", qm::COM_DEFAULT_COMPRESSION), 0);
    archives.insert(ReadFile("a.zip"));
    containers.insert(ReadFile("big.z"));
  }
  EXPECT_EQ(std::pair(archives.size(), containers.size()), std::pair(std::size_t{1}, std::size_t{1}));
  EXPECT_TRUE(PythonReadsBack("a.zip", dir.Path(), names));

  // Of the first 20 files, 15 ... 19 are replaced in place, then new ones
  // follow; a name listed twice is stored once, where it was first placed.
  qm::Zipper first, second;
  for (int i = 0; i < 20; ++i) first.AddFile(names[i]);
  ASSERT_EQ(first.Compress("u.zip"), qm::ZE_OK);
  for (int i = 15; i < 20; ++i) WriteFile(names[i], "changed " + std::to_string(i));
  for (int i : {25, 26, 27, 28, 29, 17, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24}) second.AddFile(names[i]);
  ASSERT_EQ(second.Compress("u.zip"), qm::ZE_OK);
  // f0 ... f19, then f25 ... f29 and f20 ... f24.
  std::vector<std::string> expected(names.begin(), names.begin() + 30);
  std::rotate(expected.begin() + 20, expected.begin() + 25, expected.end());
  EXPECT_TRUE(UnzipTestPasses("u.zip") && PythonReadsBack("u.zip", dir.Path(), expected));

  // Four files of 1.5 MB: their buffers are what fails on the helpers.
  std::string lines;
  for (std::mt19937 random(9); lines.size() < 1500000;) lines += "line " + std::to_string(random() % 1000) + "\n";
  const std::vector<fs::path> files = {"m0", "m1", "m2", "m3"};
  for (const auto& file : files) WriteFile(file, file.string() + lines);
  const ThreadLimit limit(2);  // two helpers
  qm::ZipReport report;
  {
    const HelperAllocationsFail fail;
    // The writer waits (on its own thread, at the first progress report,
    // before it takes a file) until a helper's allocation has failed.
    bool waited = false;
    const qm::Progress progress = [&](std::uint64_t, std::uint64_t) {
      const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
      while (!waited && HelperAllocationsFailed() == 0 && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      waited = true;
    };
    report = qm::ZipFiles("m.zip", files, progress);
  }
  ASSERT_GT(HelperAllocationsFailed(), 0);
  // The file a helper could not read or deflate fails the archive with the
  // documented code for memory (4), named; the old archive stays as it was
  // (there was none).
  EXPECT_EQ(report.Result, qm::ZipResult::OutOfMemory) << report.Message();
  EXPECT_NE(std::find(files.begin(), files.end(), report.FailedFile), files.end()) << report.FailedFile;
  EXPECT_FALSE(fs::exists("m.zip"));
  // With memory again, the same call writes the archive.
  EXPECT_TRUE(qm::ZipFiles("m.zip", files).Complete() && UnzipTestPasses("m.zip"));
}

}  // namespace

// The tool's file commands, run in this process so that the library's system
// calls (io::sys) can be watched: every descriptor the library holds is
// closed on exec. The fault loop (tests/reliability/FaultLoopTest.cpp) fails
// each of their calls in turn.

#include <fcntl.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "Commands.h"
#include "frame/FileErrors.h"
#include "io/AtomicFile.h"
#include "quillmark/automation/Exporter.h"
#include "quillmark/compression/Deflate.h"
#include "quillmark/compression/ZipFiles.h"
#include "quillmark/graphics/Jpeg.h"
#include "quillmark/utility/FindFiles.h"
#include "support/ErrorOf.h"
#include "support/FaultInjection.h"
#include "support/TestEnvironment.h"

namespace {

namespace fs = std::filesystem;
using qm::io::sys::Call;
using qm::test::FailNthCall;

// Watches every call the library makes: any descriptor open at that moment
// that was not open before must be close-on-exec.
class CloseOnExecWatch : public qm::io::sys::Faults {
 public:
  CloseOnExecWatch() : before_(Descriptors()) { qm::io::sys::SetFaults(this); }
  ~CloseOnExecWatch() override { qm::io::sys::SetFaults(nullptr); }

  int Before(Call) noexcept override {
    try {
      std::set<std::string> leaks;
      // A descriptor closed meanwhile gives -1, all flags set: not a leak.
      for (const auto& open : Descriptors())
        if (!before_.count(open) && !(::fcntl(open.first, F_GETFD) & FD_CLOEXEC)) leaks.insert(open.second);
      const std::lock_guard lock(lock_);
      leaks_.merge(leaks);
    } catch (...) {}
    return 0;
  }
  std::set<std::string> Leaks() {
    const std::lock_guard lock(lock_);
    return leaks_;
  }

 private:
  // The open descriptors and what each names. The listing's own descriptor
  // is among them: the same number names something else once it is reused.
  static std::set<std::pair<int, std::string>> Descriptors() {
    std::set<std::pair<int, std::string>> fds;
    for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
      std::error_code ec;
      fds.emplace(std::stoi(entry.path().filename()), fs::read_symlink(entry.path(), ec).string());
    }
    return fds;
  }

  const std::set<std::pair<int, std::string>> before_;
  std::mutex lock_;
  std::set<std::string> leaks_;
};

// Each file command on inputs in a scratch folder.
TEST(FileCommands, EveryDescriptorIsClosedOnExec) {
  const qm::test::ScratchDir dir;
  qm::test::WriteFile(dir / "in.txt", std::string(20000, 't'));
  qm::CompressFile(dir / "in.txt", dir / "in.z");
  qm::test::WriteFile(dir / "t.tsv", "a\tb\n1\t2\n");
  qm::test::WriteFile(dir / "doc.xml", "<doc><line>tea</line></doc>");
  qm::WriteJpeg(qm::RgbImage{2, 2, std::vector<std::uint8_t>(12, 200)}, dir / "p.jpg");
  qm::test::WriteFile(dir / "page.html", "<html><body><img src=\"p.jpg\"></body></html>");
  const std::vector<std::pair<const qm::cli::Command*, std::vector<std::string>>> jobs{
      {&qm::cli::kCompress, {dir / "in.txt", dir / "out.z"}},
      {&qm::cli::kDecompress, {dir / "in.z", dir / "out.txt"}},
      {&qm::cli::kZip, {dir / "out.zip", dir / "in.txt", dir / "t.tsv"}},
      {&qm::cli::kJpeg, {dir / "p.jpg", dir / "out.jpg"}},
      {&qm::cli::kXmlCheck, {dir / "doc.xml", dir / "out.xml"}},
      {&qm::cli::kExportTsv, {dir / "t.tsv", dir / "out.xlsx"}},
      {&qm::cli::kMht, {dir / "page.html", dir / "out.mht"}}};
  for (const auto& [command, args] : jobs) {  // what they say shows in the test's output
    CloseOnExecWatch watch;
    EXPECT_EQ(qm::cli::RunCommand(*command, args), 0) << command->Name;
    EXPECT_EQ(watch.Leaks(), std::set<std::string>{}) << command->Name;
  }
}

// The published export keeps its numbers when a sync fails (75, never
// 58000, which is for a spreadsheet application that cannot start). A folder
// that cannot be opened or synced leaves the new file in place and is raised
// all the same. (The fault loop fails every call of the typed WriteWorkbook.)
// A folder listing that fails midway fails the search: no partial result.
TEST(WholeFileWrites, FolderFailuresAreRaisedAndAFailedListingIsAnError) {
  qm::test::ScratchDir dir;
  const fs::path book = dir.Path() / "out.xlsx";
  // The export writes its table as text first (57 when that fails).
  qm::Variant table(qm::VariantArray({{0, 0}, {0, 0}}));
  std::vector<int> numbers;
  for (long n = 1; n < 20; ++n) {
    FailNthCall fault(n, EIO, Call::Fsync);
    const int number = qm::test::ErrorOf([&] { qm::Exporter().ExportArrayToExcel(book.string(), table); });
    if (!fault.Fired()) break;
    numbers.push_back(number);
  }
  ASSERT_GE(numbers.size(), 2u);
  EXPECT_EQ(numbers.back(), 75);  // the workbook's folder
  for (const int number : numbers) EXPECT_TRUE(number == 57 || number == 75) << number;

  const fs::path file = dir.Path() / "data.txt";
  // A folder that cannot be opened or synced fails the write with the new
  // file in place; one the user may not read (EACCES on opening) is left unsynced.
  for (const auto& [call, error, fails] : {std::tuple{Call::Open, EIO, true}, std::tuple{Call::Fsync, EACCES, true},
                                           std::tuple{Call::Open, EACCES, false}}) {
    SCOPED_TRACE(testing::Message() << (call == Call::Open ? "open" : "fsync") << " failing with errno " << error);
    qm::test::WriteFile(file, "old");
    FailNthCall fault(2, error, call);  // the temporary's, then the folder's
    try {
      qm::io::AtomicFile::WriteWhole(file, "new");
      EXPECT_FALSE(fails) << "no error";
    } catch (const qm::frame::FolderNotSynced& e) {
      EXPECT_EQ(std::pair(e.code().value(), fails), std::pair(error, true));
    }
    EXPECT_TRUE(fault.Fired());  // the folder's call did fail, also where the write went on
    EXPECT_EQ(qm::test::ReadFile(file), "new");
  }

  // The folder holds out.xlsx and data.txt: the listing fails after the first.
  FailNthCall walk(2, EIO, Call::ReadDir);
  EXPECT_EQ(qm::test::ErrorOf([&] { qm::FindFiles(dir.Path(), "*.txt"); }), 75);
  EXPECT_TRUE(walk.Fired());

  // A zip archive in place whose folder could not be synced holds its files.
  const std::vector<fs::path> files{file};
  FailNthCall fault(2, EIO, Call::Fsync);
  const qm::ZipReport report = qm::ZipFiles(dir.Path() / "out.zip", files);
  EXPECT_TRUE(fault.Fired());
  EXPECT_FALSE(report.Complete());
  EXPECT_EQ(report.Archived, 1u);
}

}  // namespace

// The tool's file commands, run in this process so that the library's system
// calls (io::sys) can be watched: every descriptor the library holds is
// closed on exec. The fault loop (tests/reliability/FaultLoopTest.cpp) fails
// each of their calls in turn.

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <mutex>
#include <optional>
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

// A file command with its operands; `Output` is the file it writes.
struct Job {
  const qm::cli::Command* Command;
  std::vector<std::string> Args;
  std::string Output;
};

// The commands' inputs in a scratch folder, and one job per file command.
class FileCommands : public testing::Test {
 protected:
  void SetUp() override {
    const std::string text(20000, 't');
    qm::test::WriteFile(dir_ / "in.txt", text);
    qm::CompressFile(dir_ / "in.txt", dir_ / "in.z");
    qm::test::WriteFile(dir_ / "t.tsv", "a\tb\n1\t2\n");
    qm::test::WriteFile(dir_ / "doc.xml", "<doc><line>tea</line></doc>");
    qm::WriteJpeg(qm::RgbImage{2, 2, std::vector<std::uint8_t>(12, 200)}, dir_ / "p.jpg");
    qm::test::WriteFile(dir_ / "page.html", "<html><body><img src=\"p.jpg\"></body></html>");
    const auto job = [&](const qm::cli::Command& command, std::vector<std::string> inputs, const std::string& out) {
      inputs.insert(command.Name == std::string("zip") ? inputs.begin() : inputs.end(), dir_ / out);
      jobs_.push_back({&command, std::move(inputs), dir_ / out});
    };
    job(qm::cli::kCompress, {dir_ / "in.txt"}, "out.z");
    job(qm::cli::kDecompress, {dir_ / "in.z"}, "out.txt");
    job(qm::cli::kZip, {dir_ / "in.txt", dir_ / "t.tsv"}, "out.zip");
    job(qm::cli::kJpeg, {dir_ / "p.jpg"}, "out.jpg");
    job(qm::cli::kXmlCheck, {dir_ / "doc.xml"}, "out.xml");
    job(qm::cli::kExportTsv, {dir_ / "t.tsv"}, "out.xlsx");
    job(qm::cli::kMht, {dir_ / "page.html"}, "out.mht");
  }

  // Runs a job: its exit status, and what it said on stderr in `said`.
  // `during` is made once the output is captured and lives while the job runs.
  template <class During = int>
  static int Run(const Job& job, std::string* said = nullptr, std::optional<During>* during = nullptr) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    if (during) during->emplace();
    const int status = qm::cli::RunCommand(*job.Command, job.Args);
    if (during) during->reset();
    testing::internal::GetCapturedStdout();
    const std::string err = testing::internal::GetCapturedStderr();
    if (said) *said = err;
    return status;
  }

  qm::test::ScratchDir dir_;
  std::vector<Job> jobs_;
};

// Watches every call the library makes: any descriptor open at that moment
// that was not open before must be close-on-exec.
class CloseOnExecWatch : public qm::io::sys::Faults {
 public:
  CloseOnExecWatch() : before_(OpenDescriptors()) { qm::io::sys::SetFaults(this); }
  ~CloseOnExecWatch() override { qm::io::sys::SetFaults(nullptr); }
  CloseOnExecWatch(const CloseOnExecWatch&) = delete;
  CloseOnExecWatch& operator=(const CloseOnExecWatch&) = delete;

  int Before(Call) noexcept override {
    try {
      for (const int fd : OpenDescriptors()) {
        const int flags = ::fcntl(fd, F_GETFD);
        if (before_.count(fd) || flags < 0 || (flags & FD_CLOEXEC)) continue;
        char target[256] = {};
        const std::string link = "/proc/self/fd/" + std::to_string(fd);
        const ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
        std::lock_guard lock(lock_);
        leaks_.insert(n > 0 ? std::string(target, static_cast<std::size_t>(n)) : link);
      }
    } catch (...) {}
    return 0;
  }
  static std::set<std::string> Leaks() {
    std::lock_guard lock(lock_);
    return leaks_;
  }

 private:
  static std::set<int> OpenDescriptors() {
    std::set<int> fds;
    DIR* folder = ::opendir("/proc/self/fd");
    if (folder == nullptr) return fds;
    while (const dirent* entry = ::readdir(folder)) {
      const int fd = std::atoi(entry->d_name);
      if (entry->d_name[0] != '.' && fd != ::dirfd(folder)) fds.insert(fd);
    }
    ::closedir(folder);
    return fds;
  }

  const std::set<int> before_;
  static inline std::mutex lock_;
  static inline std::set<std::string> leaks_;  // every watch's, until cleared
};

TEST_F(FileCommands, EveryDescriptorIsClosedOnExec) {
  for (const Job& job : jobs_) {
    SCOPED_TRACE(job.Command->Name);
    std::optional<CloseOnExecWatch> watch;
    ASSERT_EQ(Run(job, nullptr, &watch), 0);
    EXPECT_EQ(CloseOnExecWatch::Leaks(), std::set<std::string>{});
  }
}

// The published export keeps its numbers when a sync fails (75, never
// 58000, which is for a spreadsheet application that cannot start). A folder
// that cannot be opened or synced leaves the new file in place and is raised
// all the same. (The fault loop fails every call of the typed WriteWorkbook.)
TEST(WholeFileWrites, FailuresNameTheFileAndFolderFailuresAreRaised) {
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
  for (const Call call : {Call::Open, Call::Fsync}) {
    qm::test::WriteFile(file, "old");
    FailNthCall fault(2, EACCES, call);  // the temporary's, then the folder's
    try {
      qm::io::AtomicFile::WriteWhole(file, "new");
      ADD_FAILURE() << "no error";
    } catch (const qm::frame::FolderNotSynced& e) {
      EXPECT_EQ(e.code().value(), EACCES);
    }
    EXPECT_EQ(qm::test::ReadFile(file), "new");
  }

  // A zip archive in place whose folder could not be synced holds its files.
  const std::vector<fs::path> files{file};
  FailNthCall fault(2, EIO, Call::Fsync);
  const qm::ZipReport report = qm::ZipFiles(dir.Path() / "out.zip", files);
  EXPECT_TRUE(fault.Fired());
  EXPECT_FALSE(report.Complete());
  EXPECT_EQ(report.Archived, 1u);
}

// A folder listing that fails midway fails the search: no partial result.
TEST(FolderWalk, AFailedListingIsAnError) {
  qm::test::ScratchDir dir;
  for (const char* name : {"a.txt", "b.txt"}) qm::test::WriteFile(dir.Path() / name, "x");
  FailNthCall fault(2, EIO, Call::ReadDir);  // after the first entry
  EXPECT_EQ(qm::test::ErrorOf([&] { qm::FindFiles(dir.Path(), "*.txt"); }), 75);
  EXPECT_TRUE(fault.Fired());
}

}  // namespace

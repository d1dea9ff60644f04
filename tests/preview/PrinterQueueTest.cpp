// Typographer.PrintOut to a real default printer: a private CUPS scheduler
// whose one queue copies each job into a file. Skipped, with a notice, where
// cupsd is not installed.

#include <sys/stat.h>

#include <QProcess>
#include <QPrinterInfo>
#include <QStandardPaths>
#include <chrono>
#include <filesystem>
#include <thread>

#include "preview/PreviewSupport.h"
#include "quillmark/html/Typographer.h"

namespace {

namespace fs = std::filesystem;
using qm::test::Output;

// CUPS runs no backend from a folder that others may write to, /tmp included.
bool OthersMayWriteAbove(fs::path path) {
  for (path = fs::absolute(path); !path.empty(); path = path.parent_path()) {
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0 && (info.st_mode & S_IWOTH)) return true;
    if (path == path.root_path()) break;
  }
  return false;
}

// A scheduler of our own on a socket in `root`, with one raw queue as the
// default printer; its backend writes each job to Job().
class PrivateCups {
 public:
  /// The scheduler's programs, which live in sbin; empty when not installed.
  static QString Program(const char* name) {
    const QString found = QStandardPaths::findExecutable(QString::fromLatin1(name));
    return found.isEmpty() ? QStandardPaths::findExecutable(QString::fromLatin1(name), {"/usr/sbin", "/sbin"}) : found;
  }

  explicit PrivateCups(const fs::path& root) : root_(root) {
    fs::remove_all(root_);
    for (const char* dir : {"spool", "tmp", "cache", "state", "ppd", "out", "bin/backend"})
      fs::create_directories(root_ / dir);
    for (const char* dir : {"spool", "tmp", "out"}) fs::permissions(root_ / dir, fs::perms::all);
    fs::create_directory_symlink("/usr/lib/cups/daemon", root_ / "bin/daemon");
    const std::string r = root_.string();
    qm::test::WriteFile(root_ / "cupsd.conf",
                        "Listen " + r + "/cups.sock\nLogLevel info\nWebInterface No\nBrowsing No\n"
                        "DefaultAuthType None\n<Location />\n  Order allow,deny\n  Allow all\n</Location>\n"
                        "<Location /admin>\n  Order allow,deny\n  Allow all\n</Location>\n");
    qm::test::WriteFile(root_ / "cups-files.conf",
                        "ServerRoot " + r + "\nRequestRoot " + r + "/spool\nTempDir " + r + "/tmp\nCacheDir " + r +
                            "/cache\nStateDir " + r + "/state\nDataDir /usr/share/cups\nServerBin " + r +
                            "/bin\nErrorLog " + r + "/error_log\nAccessLog " + r + "/access_log\nPageLog " + r +
                            "/page_log\nSandboxing Relaxed\n");
    qm::test::WriteScript(root_ / "bin/backend/tofile",
                          "[ $# -eq 0 ] && { echo 'direct tofile \"Unknown\" \"Copy to a file\"'; exit 0; }\n"
                          "if [ -n \"$6\" ]; then cat \"$6\"; else cat; fi > \"${DEVICE_URI#tofile:}\"\n");
    ::setenv("CUPS_SERVER", (r + "/cups.sock").c_str(), 1);
    cupsd_.start(Program("cupsd"), {QStringLiteral("-f"), QStringLiteral("-c"), QString::fromStdString(r + "/cupsd.conf"),
                                           QStringLiteral("-s"), QString::fromStdString(r + "/cups-files.conf")});
    if (!cupsd_.waitForStarted()) return;
    for (int i = 0; i < 100 && !fs::exists(root_ / "cups.sock"); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const std::string lpadmin = Program("lpadmin").toStdString();
    ready_ = std::system(("'" + lpadmin + "' -p quillmark-test -E -v 'tofile:" + Job().string() + "' -m raw >/dev/null 2>&1 && '" +
                          lpadmin + "' -d quillmark-test >/dev/null 2>&1")
                             .c_str()) == 0;
  }
  ~PrivateCups() {
    cupsd_.terminate();
    cupsd_.waitForFinished(5000);
    ::unsetenv("CUPS_SERVER");
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }
  PrivateCups(const PrivateCups&) = delete;
  PrivateCups& operator=(const PrivateCups&) = delete;

  bool Ready() const { return ready_; }
  fs::path Job() const { return root_ / "out/job.pdf"; }

 private:
  fs::path root_;
  QProcess cupsd_;
  bool ready_ = false;
};

class PrinterQueueTest : public qm::test::UiTest {};

TEST_F(PrinterQueueTest, PrintOutReachesTheDefaultPrinter) {
  if (PrivateCups::Program("cupsd").isEmpty() || PrivateCups::Program("lpadmin").isEmpty())
    GTEST_SKIP() << "the CUPS scheduler is not installed (Debian packages cups-daemon, cups-client)";
  const fs::path root = fs::path(QM_TEST_BINARY_DIR) / ("cups-" + std::to_string(::getpid()));
  if (OthersMayWriteAbove(root.parent_path())) GTEST_SKIP() << "the build folder lies in a folder others may write to";
  PrivateCups cups(root);
  ASSERT_TRUE(cups.Ready()) << Output("cat '" + (root / "error_log").string() + "'");
  ASSERT_EQ(QPrinterInfo::defaultPrinterName().toStdString(), "quillmark-test");

  qm::Typographer report;
  report.Initialise("Quarter");
  report.BodyBegin();
  report.OutputLine("First page");
  report.PageBreak();
  report.OutputLine("Second page");
  report.BodyEnd();
  report.Terminate();
  report.PrintOut();  // starts the helper and returns

  // The helper prints a PDF job, which the queue copies to the file.
  std::string pages;
  for (int i = 0; i < 300 && pages.empty(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const std::string info = fs::exists(cups.Job()) ? Output("pdfinfo '" + cups.Job().string() + "' 2>/dev/null") : "";
    if (const auto at = info.find("Pages:"); at != std::string::npos) pages = info.substr(at + 6, info.find('\n', at) - at - 6);
  }
  EXPECT_EQ(std::atoi(pages.c_str()), 2) << Output("cat '" + (root / "error_log").string() + "'");
}

}  // namespace

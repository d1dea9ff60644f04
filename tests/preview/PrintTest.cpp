// Printing: to PDF through the helper program, and Typographer.PrintOut to a
// real default printer, a private CUPS scheduler whose one queue copies each
// job into a file (skipped, with a notice, where cupsd is not installed).

#include <sys/stat.h>

#include <QPrinterInfo>
#include <QProcess>
#include <QStandardPaths>
#include <chrono>
#include <filesystem>
#include <iterator>
#include <thread>

#include "preview/PreviewSupport.h"
#include "quillmark/errors/Error.h"
#include "quillmark/html/Typographer.h"
#include "quillmark/ui/PrintHelper.h"
#include "quillmark/ui/PrintPage.h"
#include "support/ErrorOf.h"

namespace {

namespace fs = std::filesystem;
using qm::test::Output;

int Pages(const std::string& pdf) {
  const std::string info = Output("pdfinfo '" + pdf + "' 2>&1");
  const auto at = info.find("Pages:");
  return at == std::string::npos ? -1 : std::atoi(info.c_str() + at + 6);
}

class PrintTest : public qm::test::UiTest {
 protected:
  qm::test::ScratchDir dir_;
  const std::string page_ = qm::test::WriteReport(dir_);
};

TEST_F(PrintTest, PdfHasOnePagePerPageBreakPlusOne) {
  // Found from the ui library's own folder: this test program lives elsewhere
  // and the PATH does not name the build tree.
  ASSERT_EQ(fs::path(qm::ui::PrintHelperPath()), fs::canonical(QM_PRINT_HELPER_PROGRAM));
  qm::ui::PrintToPdf(page_, dir_ / "report.pdf");
  if (QStandardPaths::findExecutable("pdfinfo").isEmpty()) GTEST_SKIP() << "pdfinfo is not installed";
  EXPECT_EQ(Pages(dir_ / "report.pdf"), 3);  // two page breaks

  // The command-line tool does the same.
  const std::string tool = QM_CLI_PROGRAM;
  EXPECT_EQ(std::system((tool + " print '" + page_ + "' --pdf '" + (dir_ / "cli.pdf") + "' >/dev/null").c_str()), 0);
  EXPECT_EQ(Pages(dir_ / "cli.pdf"), 3);
  EXPECT_NE(std::system((tool + " print >/dev/null 2>&1").c_str()), 0);
}

// The printing the helper runs, called in this process: a whole PDF and
// nothing else beside it, or an error that names the reason, with the old
// PDF left as it was.
TEST_F(PrintTest, PrintPageInProcessAndThroughTheHelperRefusesBadInput) {
  const auto entries = [&] { return std::distance(fs::directory_iterator(dir_.Path()), fs::directory_iterator()); };
  const auto files = entries();
  const std::string pdf = dir_ / "direct.pdf";
  qm::ui::PrintPage(page_, pdf);
  EXPECT_EQ(qm::test::ReadFile(pdf).rfind("%PDF", 0), 0u);
  EXPECT_EQ(entries(), files + 1);  // the PDF, no temporary left beside it
  const std::string before = qm::test::ReadFile(pdf);

  const qm::Error missing = qm::test::RaisedBy([&] { qm::ui::PrintPage(dir_ / "nothere.html", pdf); });
  EXPECT_EQ(std::to_string(missing.Number()) + ": " + missing.Description(),
            "53: file not found: " + (dir_ / "nothere.html"));
  EXPECT_EQ(missing.Source(), "QuillmarkLibrary.PrintPage|[PrintPage]Public Sub PrintPage(\"" +
                                  (dir_ / "nothere.html") + "\", \"" + pdf + "\")");

  const std::string unwritable = dir_ / "no/such/folder/x.pdf";
  const qm::Error cannot = qm::test::RaisedBy([&] { qm::ui::PrintPage(page_, unwritable); });
  EXPECT_EQ(cannot.Number(), 75);
  EXPECT_EQ(cannot.Description().rfind("cannot write " + unwritable, 0), 0u) << cannot.Description();
  EXPECT_EQ(qm::test::ReadFile(pdf), before);
  EXPECT_EQ(entries(), files + 1);

  // Through the helper program: a missing page, and its own failure named.
  EXPECT_EQ(qm::test::ErrorOf([&] { qm::ui::PrintToPdf(dir_ / "nothere.html", dir_ / "x.pdf"); }), 53);
  const qm::Error e = qm::test::RaisedBy([&] { qm::ui::PrintToPdf(page_, dir_ / "no/such/folder/x.pdf"); });
  EXPECT_TRUE(e.Number() == 9999 && e.Description().find("quillmark-print") != std::string::npos) << e.Description();
  if (QPrinterInfo::availablePrinterNames().isEmpty()) {
    EXPECT_EQ(qm::test::RaisedBy([&] { qm::ui::PrintDetached(page_); }).Description(), "No printer is installed");
  }
}

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
// default printer; its backend writes each job to Job.
class PrivateCups {
 public:
  /// The scheduler's programs, which live in sbin; empty when not installed.
  static QString Program(const char* name) {
    const QString found = QStandardPaths::findExecutable(QString::fromLatin1(name));
    return found.isEmpty() ? QStandardPaths::findExecutable(QString::fromLatin1(name), {"/usr/sbin", "/sbin"}) : found;
  }

  explicit PrivateCups(const fs::path& root) : Job(root / "out/job.pdf"), root_(root) {
    fs::remove_all(root_);
    for (const char* dir : {"spool", "tmp", "cache", "state", "ppd", "out", "bin/backend"})
      fs::create_directories(root_ / dir);
    for (const char* dir : {"spool", "tmp", "out"}) fs::permissions(root_ / dir, fs::perms::all);
    fs::create_directory_symlink("/usr/lib/cups/daemon", root_ / "bin/daemon");
    const std::string r = root_.string();
    qm::test::WriteFile(root_ / "cupsd.conf",
                        "Listen " + r +
                            "/cups.sock\nLogLevel info\nWebInterface No\nBrowsing No\n"
                            "DefaultAuthType None\n<Location />\n  Order allow,deny\n  Allow all\n</Location>\n"
                            "<Location /admin>\n  Order allow,deny\n  Allow all\n</Location>\n");
    qm::test::WriteFile(root_ / "cups-files.conf", "ServerRoot " + r + "\nRequestRoot " + r + "/spool\nTempDir " + r +
                                                       "/tmp\nCacheDir " + r + "/cache\nStateDir " + r +
                                                       "/state\nDataDir /usr/share/cups\nServerBin " + r +
                                                       "/bin\nErrorLog " + r + "/error_log\nAccessLog " + r +
                                                       "/access_log\nPageLog " + r + "/page_log\nSandboxing Relaxed\n");
    qm::test::WriteScript(root_ / "bin/backend/tofile",
                          "[ $# -eq 0 ] && { echo 'direct tofile \"Unknown\" \"Copy to a file\"'; exit 0; }\n"
                          "if [ -n \"$6\" ]; then cat \"$6\"; else cat; fi > \"${DEVICE_URI#tofile:}\"\n");
    ::setenv("CUPS_SERVER", (r + "/cups.sock").c_str(), 1);
    cupsd_.start(Program("cupsd"),
                 {QStringLiteral("-f"), QStringLiteral("-c"), QString::fromStdString(r + "/cupsd.conf"),
                  QStringLiteral("-s"), QString::fromStdString(r + "/cups-files.conf")});
    if (!cupsd_.waitForStarted()) return;
    for (int i = 0; i < 100 && !fs::exists(root_ / "cups.sock"); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const std::string lpadmin = Program("lpadmin").toStdString();
    Ready = std::system(("'" + lpadmin + "' -p quillmark-test -E -v 'tofile:" + Job.string() +
                         "' -m raw >/dev/null 2>&1 && '" + lpadmin + "' -d quillmark-test >/dev/null 2>&1")
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

  fs::path Job;
  bool Ready = false;

 private:
  fs::path root_;
  QProcess cupsd_;
};

class PrinterQueueTest : public qm::test::UiTest {};

TEST_F(PrinterQueueTest, PrintOutReachesTheDefaultPrinter) {
  if (PrivateCups::Program("cupsd").isEmpty() || PrivateCups::Program("lpadmin").isEmpty())
    GTEST_SKIP() << "the CUPS scheduler is not installed (Debian packages cups-daemon, cups-client)";
  const fs::path root = fs::path(QM_TEST_BINARY_DIR) / ("cups-" + std::to_string(::getpid()));
  if (OthersMayWriteAbove(root.parent_path())) GTEST_SKIP() << "the build folder lies in a folder others may write to";
  PrivateCups cups(root);
  ASSERT_TRUE(cups.Ready) << Output("cat '" + (root / "error_log").string() + "'");
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
  int pages = -1;
  for (int i = 0; i < 300 && pages < 1; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (fs::exists(cups.Job)) pages = Pages(cups.Job);
  }
  EXPECT_EQ(pages, 2) << Output("cat '" + (root / "error_log").string() + "'");
}

}  // namespace

// Printing: to PDF through the helper program, and Typographer.PrintOut to a
// real default printer, a private CUPS scheduler whose one queue copies each
// job into a file (skipped, with a notice, where cupsd is not installed).

#include <sys/stat.h>

#include <QPrinterInfo>
#include <QProcess>
#include <QStandardPaths>
#include <chrono>
#include <iterator>
#include <thread>

#include "preview/PreviewSupport.h"
#include "quillmark/html/Typographer.h"
#include "quillmark/ui/PrintHelper.h"
#include "quillmark/ui/PrintPage.h"
#include "support/ErrorTrail.h"

namespace {

namespace fs = std::filesystem;
using namespace qm::test;

int Pages(const std::string& pdf) {
  const std::string info = Output("pdfinfo '" + pdf + "' 2>&1");
  const auto at = info.find("Pages:");
  return at == std::string::npos ? -1 : std::atoi(info.c_str() + at + 6);
}

using PrintTest = UiTest;

// The printing the helper runs, called in this process: a whole PDF and
// nothing else beside it, or an error that names the reason, with the old
// PDF left as it was. Then through the helper program and the command-line
// tool: one page per page break plus one.
TEST_F(PrintTest, PrintPageInProcessThroughTheHelperAndTheToolRefusesBadInput) {
  ScratchDir dir;
  const std::string page = WriteReport(dir);
  const auto entries = [&] { return std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator()); };
  const auto files = entries();
  const std::string pdf = dir / "direct.pdf";
  qm::ui::PrintPage(page, pdf);
  const std::string before = ReadFile(pdf);
  // The PDF, and no temporary left beside it.
  EXPECT_EQ(std::pair(before.substr(0, 4), entries()), std::pair(std::string("%PDF"), files + 1));

  EXPECT_EQ(Trail([&] { qm::ui::PrintPage(dir / "nothere.html", pdf); }),
            "53: file not found: " + (dir / "nothere.html") +
                " @ QuillmarkLibrary.PrintPage|[PrintPage]Public Sub PrintPage(\"" + (dir / "nothere.html") + "\", \"" +
                pdf + "\")");
  const std::string unwritable = dir / "no/such/folder/x.pdf";
  const std::string cannot = Described([&] { qm::ui::PrintPage(page, unwritable); });
  EXPECT_TRUE(cannot.starts_with("75: cannot write " + unwritable)) << cannot;
  EXPECT_EQ(std::pair(ReadFile(pdf), entries()), std::pair(before, files + 1));

  // Through the helper program: a missing page, and its own failure named.
  EXPECT_EQ(ErrorOf([&] { qm::ui::PrintToPdf(dir / "nothere.html", dir / "x.pdf"); }), 53);
  const qm::Error e = RaisedBy([&] { qm::ui::PrintToPdf(page, unwritable); });
  EXPECT_TRUE(e.Number() == 9999 && e.Description().find("quillmark-print") != std::string::npos) << e.Description();
  if (QPrinterInfo::availablePrinterNames().isEmpty()) {
    EXPECT_EQ(RaisedBy([&] { qm::ui::PrintDetached(page); }).Description(), "No printer is installed");
  }

  // Found from the ui library's own folder: this test program lives elsewhere
  // and the PATH does not name the build tree.
  ASSERT_EQ(fs::path(qm::ui::PrintHelperPath()), fs::canonical(QM_PRINT_HELPER_PROGRAM));
  qm::ui::PrintToPdf(page, dir / "report.pdf");
  if (QStandardPaths::findExecutable("pdfinfo").isEmpty()) GTEST_SKIP() << "pdfinfo is not installed";
  // The command-line tool (its wrong usage is checked with the other commands' in ToolCommandLineTest).
  const std::string tool = QM_CLI_PROGRAM;
  EXPECT_EQ(std::system((tool + " print '" + page + "' --pdf '" + (dir / "cli.pdf") + "' >/dev/null").c_str()), 0);
  EXPECT_EQ(std::pair(Pages(dir / "report.pdf"), Pages(dir / "cli.pdf")), std::pair(3, 3));  // two page breaks
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

// A scheduler of our own on a socket in root_, with one raw queue as the
// default printer; its backend writes each job to job_.
class PrinterQueueTest : public UiTest {
 protected:
  /// The scheduler's programs, which live in sbin; empty when not installed.
  static QString Program(const char* name) {
    const QString found = QStandardPaths::findExecutable(QString::fromLatin1(name));
    return found.isEmpty() ? QStandardPaths::findExecutable(QString::fromLatin1(name), {"/usr/sbin", "/sbin"}) : found;
  }

  void SetUp() override {
    UiTest::SetUp();
    if (Program("cupsd").isEmpty() || Program("lpadmin").isEmpty())
      GTEST_SKIP() << "the CUPS scheduler is not installed (Debian packages cups-daemon, cups-client)";
    if (OthersMayWriteAbove(root_.parent_path())) GTEST_SKIP() << "others may write above the build folder";
    fs::remove_all(root_);
    for (const char* dir : {"spool", "tmp", "cache", "state", "ppd", "out", "bin/backend"})
      fs::create_directories(root_ / dir);
    for (const char* dir : {"spool", "tmp", "out"}) fs::permissions(root_ / dir, fs::perms::all);
    fs::create_directory_symlink("/usr/lib/cups/daemon", root_ / "bin/daemon");
    const std::string r = root_.string();
    WriteFile(root_ / "cupsd.conf",
              "Listen " + r +
                  "/cups.sock\nLogLevel info\nWebInterface No\nBrowsing No\n"
                  "DefaultAuthType None\n<Location />\n  Order allow,deny\n  Allow all\n</Location>\n"
                  "<Location /admin>\n  Order allow,deny\n  Allow all\n</Location>\n");
    WriteFile(root_ / "cups-files.conf",
              "ServerRoot " + r + "\nRequestRoot " + r + "/spool\nTempDir " + r + "/tmp\nCacheDir " + r +
                  "/cache\nStateDir " + r + "/state\nDataDir /usr/share/cups\nServerBin " + r + "/bin\nErrorLog " + r +
                  "/error_log\nAccessLog " + r + "/access_log\nPageLog " + r + "/page_log\nSandboxing Relaxed\n");
    WriteScript(root_ / "bin/backend/tofile",
                "[ $# -eq 0 ] && { echo 'direct tofile \"Unknown\" \"Copy to a file\"'; exit 0; }\n"
                "if [ -n \"$6\" ]; then cat \"$6\"; else cat; fi > \"${DEVICE_URI#tofile:}\"\n");
    ::setenv("CUPS_SERVER", (r + "/cups.sock").c_str(), 1);
    cupsd_.start(Program("cupsd"), {"-f", "-c", QString::fromStdString(r + "/cupsd.conf"), "-s",
                                    QString::fromStdString(r + "/cups-files.conf")});
    ASSERT_TRUE(cupsd_.waitForStarted());
    for (int i = 0; i < 100 && !fs::exists(root_ / "cups.sock"); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const std::string lpadmin = "'" + Program("lpadmin").toStdString() + "' ";
    const std::string queue = lpadmin + "-p quillmark-test -E -v 'tofile:" + job_.string() +
                              "' -m raw >/dev/null 2>&1 && " + lpadmin + "-d quillmark-test >/dev/null 2>&1";
    ASSERT_EQ(std::system(queue.c_str()), 0) << ReadFile(root_ / "error_log");
  }
  void TearDown() override {
    cupsd_.terminate();
    cupsd_.waitForFinished(5000);
    ::unsetenv("CUPS_SERVER");
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }

  const fs::path root_ = fs::path(QM_TEST_BINARY_DIR) / ("cups-" + std::to_string(::getpid()));
  const fs::path job_ = root_ / "out/job.pdf";
  QProcess cupsd_;
};

TEST_F(PrinterQueueTest, PrintOutReachesTheDefaultPrinter) {
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
    if (fs::exists(job_)) pages = Pages(job_);
  }
  EXPECT_EQ(pages, 2) << ReadFile(root_ / "error_log");
}

}  // namespace

#include "quillmark/ui/PrintHelper.h"

#include <dlfcn.h>

#include <QCoreApplication>
#include <QPrinterInfo>
#include <QProcess>
#include <QStandardPaths>
#include <filesystem>
#include <system_error>

#include "quillmark/errors/ErrorNumbers.h"
#include "quillmark/frame/Frame.h"

namespace qm::ui {
namespace {

namespace fs = std::filesystem;
constexpr const char* kHelper = "quillmark-print";

bool IsProgram(const fs::path& path) {
  std::error_code error;
  return fs::is_regular_file(path, error) &&
         (fs::status(path, error).permissions() & fs::perms::owner_exec) != fs::perms::none;
}

void CheckPage(const std::string& HtmlFile) {
  std::error_code error;
  if (!fs::is_regular_file(HtmlFile, error)) Raise(ERR_FileNotFound);
}

std::string RequireHelper() {
  std::string helper = PrintHelperPath();
  if (helper.empty()) Raise(ERR_General, errc::unavailable, "The print helper quillmark-print was not found");
  return helper;
}

}  // namespace

std::string PrintHelperPath() {
  std::error_code error;
  // First the program folder of the installation (or build tree) this
  // library was loaded from, then beside the running program, then the PATH.
  Dl_info self{};
  if (::dladdr(reinterpret_cast<const void*>(&PrintHelperPath), &self) != 0 && self.dli_fname) {
    const fs::path library = fs::canonical(self.dli_fname, error);
    const fs::path helper = library.parent_path() / QM_LIBDIR_TO_BINDIR / kHelper;
    if (!error && IsProgram(helper)) return helper.lexically_normal().string();
  }
  const fs::path program = fs::read_symlink("/proc/self/exe", error);
  if (!error && IsProgram(program.parent_path() / kHelper)) return (program.parent_path() / kHelper).string();
  const QString onPath = QStandardPaths::findExecutable(QString::fromLatin1(kHelper));
  if (!onPath.isEmpty()) return onPath.toStdString();
  return {};
}

void PrintDetached(const std::string& HtmlFile) {
  QM_FRAME_TRY {
    CheckPage(HtmlFile);
    // Qt can only tell the printers when it runs; otherwise the helper reports.
    if (QCoreApplication::instance() && QPrinterInfo::availablePrinterNames().isEmpty())
      Raise(ERR_General, errc::unavailable, "No printer is installed");
    const std::string helper = RequireHelper();
    if (!QProcess::startDetached(QString::fromStdString(helper), {QString::fromStdString(HtmlFile)}))
      Raise(ERR_General, errc::unavailable, "The print helper quillmark-print could not be started");
  }
  QM_FRAME_CATCH("PrintHelper", "Public Sub PrintDetached", HtmlFile);
}

void PrintToPdf(const std::string& HtmlFile, const std::string& PdfFile) {
  QM_FRAME_TRY {
    CheckPage(HtmlFile);
    QProcess helper;
    helper.setProgram(QString::fromStdString(RequireHelper()));
    helper.setArguments({QString::fromStdString(HtmlFile), QStringLiteral("--pdf"), QString::fromStdString(PdfFile)});
    helper.setProcessChannelMode(QProcess::MergedChannels);
    helper.start(QIODevice::ReadOnly);
    if (!helper.waitForStarted())
      Raise(ERR_General, errc::unavailable, "The print helper quillmark-print could not be started");
    if (!helper.waitForFinished(120'000)) {
      helper.kill();
      helper.waitForFinished();
      Raise(ERR_General, "The print helper did not finish within 120 seconds");
    }
    if (helper.exitStatus() != QProcess::NormalExit || helper.exitCode() != 0) {
      // The helper's last line says what went wrong.
      QString message = QString::fromLocal8Bit(helper.readAll()).trimmed();
      message = message.section(QLatin1Char('\n'), -1).trimmed();
      Raise(ERR_General, message.isEmpty() ? std::string("Printing failed") : message.toStdString());
    }
  }
  QM_FRAME_CATCH("PrintHelper", "Public Sub PrintToPdf", HtmlFile, PdfFile);
}

}  // namespace qm::ui

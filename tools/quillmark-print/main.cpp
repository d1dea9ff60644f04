// quillmark-print PAGE.html [--pdf OUT]
//
// Prints an HTML page, with its pictures, to the default printer, or to a PDF
// file with --pdf. The page breaks of a report (page-break-before/after in its
// style) start new pages. The library starts this helper without waiting for
// it; it needs no display (it runs on Qt's offscreen platform when none is set).

#include <QApplication>
#include <QFileInfo>
#include <QPrinter>
#include <QPrinterInfo>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>

#include "io/AtomicFile.h"
#include "ui/preview/PageDocument.h"

namespace {

int Usage() {
  std::fputs("usage: quillmark-print PAGE.html [--pdf OUT]\n", stderr);
  return 2;
}

int Fail(const std::string& message) {
  std::fprintf(stderr, "quillmark-print: %s\n", message.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::string page, pdf;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--pdf") && i + 1 < argc) {
      pdf = argv[++i];
    } else if (argv[i][0] == '-' && argv[i][1] != '\0') {
      return Usage();
    } else if (page.empty()) {
      page = argv[i];
    } else {
      return Usage();
    }
  }
  if (page.empty()) return Usage();

  const QString pageFile = QString::fromLocal8Bit(page.c_str());
  if (!QFileInfo(pageFile).isFile()) return Fail("file not found: " + page);

  // Printing shows no window: the offscreen platform works with and without a display.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  int qtArgc = 1;
  QApplication app(qtArgc, argv);
  qm::ui::PageDocument document;
  if (!document.Load(pageFile)) return Fail("cannot read " + page);

  QPrinter printer(QPrinter::HighResolution);
  printer.setDocName(document.Title());
  // The PDF is printed into a hidden file beside OUT, which replaces OUT once complete.
  std::optional<qm::io::AtomicFile> output;
  if (!pdf.empty()) {
    try {
      output.emplace(pdf, qm::io::AtomicFile::Replace::Contents, qm::io::AtomicFile::Temporary::Named);
    } catch (const std::filesystem::filesystem_error& e) {
      return Fail("cannot write " + pdf + ": " + e.code().message());
    }
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(QString::fromLocal8Bit(output->TemporaryPath().c_str()));
  } else {
    const QPrinterInfo printerInfo = QPrinterInfo::defaultPrinter();
    if (printerInfo.isNull()) return Fail("no printer is installed");
    printer.setPrinterName(printerInfo.printerName());
  }
  if (!printer.isValid()) return Fail("the printer cannot be used");
  document.print(&printer);
  if (printer.printerState() == QPrinter::Error) return Fail("printing failed");
  if (output) {
    if (QFileInfo(printer.outputFileName()).size() == 0) return Fail("cannot write " + pdf);
    try {
      output->Commit();
    } catch (const std::filesystem::filesystem_error& e) {
      return Fail("cannot write " + pdf + ": " + e.code().message());
    }
  }
  return 0;
}

#include "quillmark/ui/PrintPage.h"

#include <QFileInfo>
#include <QPrinter>
#include <QPrinterInfo>
#include <filesystem>
#include <optional>

#include "quillmark/errors/Error.h"
#include "quillmark/errors/ErrorNumbers.h"
#include "quillmark/frame/Frame.h"
#include "quillmark/utility/AtomicFileWriter.h"
#include "ui/preview/PageDocument.h"

namespace qm::ui {

void PrintPage(const std::string& HtmlFile, const std::string& PdfFile) {
  QM_FRAME_TRY {
    const QString pageFile = QString::fromLocal8Bit(HtmlFile.c_str());
    if (!QFileInfo(pageFile).isFile()) Raise(ERR_FileNotFound, "file not found: " + HtmlFile);
    PageDocument document;
    if (!document.Load(pageFile)) Raise(ERR_PathFileAccess, "cannot read " + HtmlFile);

    QPrinter printer(QPrinter::HighResolution);
    printer.setDocName(document.Title());
    // The PDF is printed into a hidden file beside PdfFile, which replaces it once complete.
    std::optional<AtomicFileWriter> output;
    if (!PdfFile.empty()) {
      try {
        output.emplace(PdfFile, AtomicFileWriter::Temporary::Named);
      } catch (const Error& e) {
        Raise(ERR_PathFileAccess, "cannot write " + PdfFile + ": " + e.Description());
      }
      printer.setOutputFormat(QPrinter::PdfFormat);
      printer.setOutputFileName(QString::fromLocal8Bit(output->TemporaryPath().c_str()));
    } else {
      const QPrinterInfo printerInfo = QPrinterInfo::defaultPrinter();
      if (printerInfo.isNull()) Raise(ERR_General, "no printer is installed");
      printer.setPrinterName(printerInfo.printerName());
    }
    if (!printer.isValid()) Raise(ERR_General, "the printer cannot be used");
    document.print(&printer);
    if (printer.printerState() == QPrinter::Error) Raise(ERR_General, "printing failed");
    if (output) {
      if (QFileInfo(printer.outputFileName()).size() == 0) Raise(ERR_PathFileAccess, "cannot write " + PdfFile);
      try {
        output->Commit();
      } catch (const Error& e) {
        Raise(ERR_PathFileAccess, "cannot write " + PdfFile + ": " + e.Description());
      }
    }
  }
  QM_FRAME_CATCH("PrintPage", "Public Sub PrintPage", HtmlFile, PdfFile);
}

}  // namespace qm::ui

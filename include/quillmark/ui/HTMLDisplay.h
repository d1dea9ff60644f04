#pragma once
// HTMLDisplay: opens the document preview of an HTML file.
//
// The preview is a modal window ("Preview") with a browser view of the page
// and a tool bar: Print, Save As (a web archive), Email (the archive attached
// as "Document.rpt"), To Word (a .doc through LibreOffice Writer, with the
// orientation and margins of the print settings) and Close.

#include <cstdint>
#include <memory>
#include <string>

#include "quillmark/Export.h"
#include "quillmark/values/Object.h"

namespace qm {
class PrintSettings;
}

namespace qm::ui {

/// Opens the document preview of an HTML file: a modal window with the page
/// and Print, Save As, Email, To Word and Close.
class QUILLMARK_EXPORT HTMLDisplay : public virtual Object {
 public:
  std::string ClassName() const override { return "HTMLDisplay"; }

  /// Shows the page and returns when the window has been closed.
  /// displayButtons 1 offers only Print and Close, 2 only Close. With
  /// bPrintThenClose the print dialog opens at once and the window closes
  /// after it. PrintSettings may be null. A missing file raises 53.
  void Show(const std::string& HTMLFilename, const std::shared_ptr<PrintSettings>& PrintSettings,
            bool bPrintThenClose = false, std::int16_t displayButtons = 0);
};

}  // namespace qm::ui

#pragma once
// Printing an HTML page in the running process, as the print helper
// quillmark-print does: the page with its pictures, laid out as the preview
// lays it out, its page breaks (page-break-before/after) starting new pages.

#include <string>

#include "quillmark/Export.h"

namespace qm::ui {

/// Prints HtmlFile on the default printer or, when PdfFile is not empty, into
/// the PDF file PdfFile, which is written beside under a temporary name and
/// replaces PdfFile only once complete. Needs a QApplication. Raises 53 "file
/// not found: PAGE" for a missing page, 75 "cannot read PAGE" or "cannot write
/// PDF[: reason]", and 9999 for "no printer is installed", "the printer cannot
/// be used" and "printing failed".
QUILLMARK_EXPORT void PrintPage(const std::string& HtmlFile, const std::string& PdfFile = {});

}  // namespace qm::ui

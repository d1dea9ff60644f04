#pragma once
// Printing an HTML page through the helper program quillmark-print, which
// prints with the preview's page rendering (pictures, tables, page breaks)
// and needs no display.
//
// The helper is looked for in the bin folder of the installation that this
// library was loaded from, next to the running program, and on the PATH; no
// absolute folder is built in, so an installation can be moved.

#include <string>

#include "quillmark/Export.h"

namespace qm::ui {

/// The helper's full name; "" when it cannot be found.
QUILLMARK_EXPORT std::string PrintHelperPath();

/// Starts printing the page on the default printer and returns at once.
/// Raises 53 for a missing page, 9999 "No printer is installed" when Qt
/// sees no printer, and 9999 when the helper is missing or does not start.
QUILLMARK_EXPORT void PrintDetached(const std::string& HtmlFile);

/// Prints the page into a PDF file and waits for it (at most two minutes).
/// Raises 53 for a missing page and 9999 with the helper's message when it
/// fails.
QUILLMARK_EXPORT void PrintToPdf(const std::string& HtmlFile, const std::string& PdfFile);

}  // namespace qm::ui

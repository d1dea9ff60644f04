// quillmark preview PAGE.html [--print-only|--no-buttons]
// quillmark print PAGE.html [--pdf OUT]
// Both are run by the ui module (ui/PreviewWindows.cpp).

#include "Commands.h"
#include "UiModule.h"

namespace qm::cli {
namespace {

constexpr Option kPreviewOptions[] = {
    {"print-only", 0, {}, "offer only Print and Close"},
    {"no-buttons", 0, {}, "offer only Close"},
};

constexpr Option kPrintOptions[] = {
    {"pdf", 0, "OUT", "write the printout to the PDF file OUT instead of the printer"},
};

}  // namespace

extern const Command kPreview{
    .Name = "preview",
    .Operands = "PAGE.html",
    .Summary =
        "Show the page in the document preview (needs a display).\n"
        "Its tool bar offers Print, Save As (a web archive), Email, To Word and Close;\n"
        "the command returns when the window is closed.",
    .MinOperands = 1,
    .MaxOperands = 1,
    .Options = kPreviewOptions,
    .Details =
        "Examples:\n"
        "  quillmark preview report.html\n",
    .Run = RunInUi,
    .ShowsProgress = false,
};

extern const Command kPrint{
    .Name = "print",
    .Operands = "PAGE.html",
    .Summary = "Print the page on the default printer, or into a PDF file.",
    .MinOperands = 1,
    .MaxOperands = 1,
    .Options = kPrintOptions,
    .Details =
        "Printing on the printer runs in a helper process of its own; the command\n"
        "returns at once.\n\n"
        "Examples:\n"
        "  quillmark print report.html\n"
        "  quillmark print report.html --pdf report.pdf\n",
    .Run = RunInUi,
    .ShowsProgress = false,
};

}  // namespace qm::cli

// quillmark preview PAGE.html [--print-only|--no-buttons]
// quillmark print PAGE.html [--pdf OUT]

#include <iostream>
#include <memory>

#include "Commands.h"
#include "Trouble.h"

#ifdef QM_HAVE_UI
#include "quillmark/ui/HTMLDisplay.h"
#include "quillmark/ui/PrintHelper.h"
#endif

namespace qm::cli {
namespace {

#ifdef QM_HAVE_UI

int RunPreview(const Invocation& call) {
  if (call.Has("print-only") && call.Has("no-buttons")) call.Wrong("give --print-only or --no-buttons, not both");
  const std::int16_t buttons = call.Has("print-only") ? 1 : call.Has("no-buttons") ? 2 : 0;
  const std::string page = call.Operand(0);
  WithFiles({page}, {}, [&] { ui::HTMLDisplay().Show(page, nullptr, false, buttons); });
  return 0;
}

int RunPrint(const Invocation& call) {
  const std::string page = call.Operand(0);
  const std::string pdf = call.Value("pdf");
  if (call.Has("pdf") && pdf.empty()) call.Wrong("option '--pdf' needs a file name");
  if (pdf.empty()) {
    WithFiles({page}, {}, [&] { ui::PrintDetached(page); });
    std::cout << "printing " << page << " on the default printer\n";
  } else {
    WithFiles({page}, pdf, [&] { ui::PrintToPdf(page, pdf); });
    std::cout << "wrote " << pdf << '\n';
  }
  return 0;
}

#else

int RunPreview(const Invocation&) {
  std::cerr << "quillmark preview: this build has no user interface (quillmark::ui)\n";
  return 1;
}

int RunPrint(const Invocation&) {
  std::cerr << "quillmark print: this build has no user interface (quillmark::ui)\n";
  return 1;
}

#endif

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
    .Summary = "Show the page in the document preview (needs a display).\n"
               "Its tool bar offers Print, Save As (a web archive), Email, To Word and Close;\n"
               "the command returns when the window is closed.",
    .MinOperands = 1,
    .MaxOperands = 1,
    .Options = kPreviewOptions,
    .Details = "Examples:\n"
               "  quillmark preview report.html\n",
    .Run = RunPreview,
    .ShowsProgress = false,
};

extern const Command kPrint{
    .Name = "print",
    .Operands = "PAGE.html",
    .Summary = "Print the page on the default printer, or into a PDF file.",
    .MinOperands = 1,
    .MaxOperands = 1,
    .Options = kPrintOptions,
    .Details = "Printing on the printer runs in a helper process of its own; the command\n"
               "returns at once.\n\n"
               "Examples:\n"
               "  quillmark print report.html\n"
               "  quillmark print report.html --pdf report.pdf\n",
    .Run = RunPrint,
    .ShowsProgress = false,
};

}  // namespace qm::cli

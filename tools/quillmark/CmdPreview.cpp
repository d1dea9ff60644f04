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

#ifdef QM_HAVE_UI

namespace {
int Usage(const char* usage) {
  std::cerr << "usage: quillmark " << usage << '\n';
  return 2;
}
}  // namespace

int RunPreview(const Args& args) {
  std::string page;
  std::int16_t buttons = 0;
  for (const auto& arg : args) {
    if (arg == "--print-only") buttons = 1;
    else if (arg == "--no-buttons") buttons = 2;
    else if (page.empty() && !arg.starts_with("--")) page = arg;
    else return Usage("preview PAGE.html [--print-only|--no-buttons]");
  }
  if (page.empty()) return Usage("preview PAGE.html [--print-only|--no-buttons]");
  WithFiles({page}, {}, [&] { ui::HTMLDisplay().Show(page, nullptr, false, buttons); });
  return 0;
}

int RunPrint(const Args& args) {
  std::string page, pdf;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--pdf" && i + 1 < args.size()) pdf = args[++i];
    else if (page.empty() && !args[i].starts_with("--")) page = args[i];
    else return Usage("print PAGE.html [--pdf OUT]");
  }
  if (page.empty()) return Usage("print PAGE.html [--pdf OUT]");
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

int RunPreview(const Args&) {
  std::cerr << "quillmark preview: this build has no user interface (quillmark::ui)\n";
  return 1;
}

int RunPrint(const Args&) {
  std::cerr << "quillmark print: this build has no user interface (quillmark::ui)\n";
  return 1;
}

#endif

}  // namespace qm::cli

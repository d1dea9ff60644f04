// quillmark preview and quillmark print, in the ui module.

#include <cstdint>
#include <iostream>
#include <string>

#include "../Trouble.h"
#include "UiCommands.h"
#include "quillmark/ui/HTMLDisplay.h"
#include "quillmark/ui/PrintHelper.h"

namespace qm::cli {

int ShowPreview(const Invocation& call) {
  if (call.Has("print-only") && call.Has("no-buttons")) call.Wrong("give --print-only or --no-buttons, not both");
  const std::int16_t buttons = call.Has("print-only") ? 1 : call.Has("no-buttons") ? 2 : 0;
  const std::string page = call.Operand(0);
  WithFiles({page}, {}, [&] { ui::HTMLDisplay().Show(page, nullptr, false, buttons); });
  return 0;
}

int PrintPage(const Invocation& call) {
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

}  // namespace qm::cli

// quillmark mht PAGE.html [OUT.mht]: packs a page and what it refers to into a web archive.

#include <iostream>

#include "Commands.h"
#include "Trouble.h"
#include "quillmark/html/HTML2MHT.h"

namespace qm::cli {

int RunMht(const Args& args) {
  if (args.empty() || args.size() > 2) {
    std::cerr << "usage: quillmark mht PAGE.html [OUT.mht]\n";
    return 2;
  }
  const std::string& page = args[0];
  std::string archive;
  if (args.size() == 2) {
    archive = args[1];
  } else {
    // Next to the page, under its base name.
    const auto slash = page.find_last_of("\\/");
    const auto dot = page.rfind('.');
    archive = (dot != std::string::npos && (slash == std::string::npos || dot > slash) ? page.substr(0, dot) : page) +
              ".mht";
  }
  std::string subject;
  WithFiles({page}, archive, [&] { mdlHTML2MHT::ConvertHTMLToMHT(page, archive, subject); });
  std::cout << archive << '\n';
  return 0;
}

}  // namespace qm::cli

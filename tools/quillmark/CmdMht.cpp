// quillmark mht PAGE.html [OUT.mht] [--confine]: packs a page and what it refers to into a web archive.

#include <iostream>

#include "Commands.h"
#include "ProgressLine.h"
#include "Trouble.h"
#include "quillmark/html/MhtArchive.h"

namespace qm::cli {
namespace {

int Run(const Invocation& call) {
  const std::string page = call.Operand(0);
  std::string archive = call.Operand(1);
  if (archive.empty()) {
    // Next to the page, under its base name.
    const auto slash = page.find_last_of("\\/");
    const auto dot = page.rfind('.');
    archive =
        (dot != std::string::npos && (slash == std::string::npos || dot > slash) ? page.substr(0, dot) : page) + ".mht";
  }
  const MhtResult packed = WithFiles({page}, archive, [&] {
    ProgressLine progress(std::cerr, ProgressWanted(call.Chatty()), "quillmark mht", ProgressLine::Unit::Parts);
    MhtOptions options;
    options.OnProgress = progress.Callback();
    options.Confine = call.Has("confine");
    return PackMht(page, archive, options);
  });
  for (const std::string& reference : packed.LeftOut)
    std::cerr << "quillmark mht: not packed, outside the page's folder: " << reference << '\n';
  std::cout << archive << '\n';
  return 0;
}

constexpr Option kOptions[] = {
    {"confine", 0, {}, "pack only files inside the page's folder; others stay links"},
};

}  // namespace

extern const Command kMht{
    .Name = "mht",
    .Operands = "PAGE.html [OUT.mht]",
    .Summary =
        "Pack a page and all it refers to into one MHT web archive.\n"
        "The pages it links to, its pictures and other files go into the archive, which\n"
        "a browser opens as the page itself.",
    .MinOperands = 1,
    .MaxOperands = 2,
    .Options = kOptions,
    .Details =
        "Without OUT.mht the archive is written next to the page, under its base name.\n"
        "References are found in src=, background= and href= attributes and resolved\n"
        "against the page's folder ('\\' or '/', without regard to case where needed);\n"
        "missing ones are left out. Every file a page names is read, wherever it lies;\n"
        "with --confine, one outside the page's folder (by '..', an absolute path or a\n"
        "symbolic link) is not read: it stays a link and is reported on standard error.\n"
        "The archive's name is printed.\n\n"
        "Examples:\n"
        "  quillmark mht report/index.html\n"
        "  quillmark mht report/index.html /tmp/report.mht\n"
        "  quillmark mht --confine downloads/page.html\n",
    .Run = Run,
    .ShowsProgress = true,
};

}  // namespace qm::cli

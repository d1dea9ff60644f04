// quillmark: the library's main jobs from a shell.

#include <cstring>
#include <iostream>

#include "Commands.h"
#include "Trouble.h"
#include "quillmark/frame/Error.h"
#include "quillmark/frame/LibMain.h"

namespace qm::cli {
namespace {

int Version(const Args&) {
  std::cout << kLibraryTitle << '\n';
  return 0;
}

const Command kCommands[] = {
    {"version", "version", Version},
    {"mht", "mht PAGE.html [OUT.mht]", RunMht},
    {"compress", "compress IN OUT", RunCompress},
    {"decompress", "decompress IN OUT", RunDecompress},
    {"zip", "zip OUT.zip FILE...", RunZip},
    {"jpeg", "jpeg IMAGE OUT.jpg [--quality N]", RunJpeg},
    {"interp", "interp --cubic|--linear PRECISION V...", RunInterp},
    {"find", "find DIR PATTERN [--recurse]", RunFind},
    {"xml-check", "xml-check FILE [OUT]", RunXmlCheck},
    {"export-tsv", "export-tsv IN.tsv OUT.xlsx", RunExportTsv},
    {"dialog", "dialog messagebox|slider|choice|password|open|save|color|clear-dismissed ARGS... (--help)", RunDialog},
    {"preview", "preview PAGE.html [--print-only|--no-buttons]", RunPreview},
    {"print", "print PAGE.html [--pdf OUT]", RunPrint},
};

int Usage() {
  std::cerr << "usage: quillmark COMMAND [ARGS...]\n\ncommands:\n";
  for (const auto& c : kCommands) std::cerr << "  quillmark " << c.Usage << '\n';
  return 2;
}

}  // namespace
}  // namespace qm::cli

int main(int argc, char** argv) {
  using namespace qm::cli;
  if (argc < 2 || !std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h")) return Usage();
  for (const auto& command : kCommands) {
    if (command.Name == std::string_view(argv[1])) {
      try {
        return command.Run(Args(argv + 2, argv + argc));
      } catch (const Trouble& e) {
        std::cerr << "quillmark " << command.Name << ": " << e.what() << '\n';
        return 1;
      } catch (const qm::Error& e) {
        std::cerr << "quillmark " << command.Name << ": " << e.Description() << " (error " << e.Number() << ")\n"
                  << "  source: " << e.Source() << '\n';
        return 1;
      } catch (const std::exception& e) {
        std::cerr << "quillmark " << command.Name << ": " << e.what() << '\n';
        return 1;
      }
    }
  }
  std::cerr << "quillmark: unknown command '" << argv[1] << "'\n";
  return Usage();
}

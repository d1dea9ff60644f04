// The commands module of the `quillmark` tool: the command table, the tool's
// help and the dispatch of a command line to its command. The launcher
// (main.cpp) loads it for the tool's help, usage errors and the commands
// without a module of their own (dialog, preview, print, version); a file
// command runs from its own module, built from the same Cmd*.cpp.

#include <iostream>
#include <span>
#include <string>
#include <vector>

#include "Commands.h"
#include "ToolVersion.h"
#include "Trouble.h"
#include "quillmark/Export.h"
#include "quillmark/errors/Error.h"

namespace qm::cli {
namespace {

int PrintVersion(const Invocation&) {
  std::cout << kToolVersionText;
  return 0;
}

const Command kVersion{
    .Name = "version",
    .Operands = "",
    .Summary = "Print the version of the tool and of the library (as --version does).",
    .MinOperands = 0,
    .MaxOperands = 0,
    .Options = {},
    .Details =
        "Examples:\n"
        "  quillmark version\n",
    .Run = PrintVersion,
    .ShowsProgress = false,
};

// In the order --help lists them.
const Command* const kCommands[] = {&kMht,      &kCompress,  &kDecompress, &kZip,     &kJpeg,  &kInterp, &kFind,
                                    &kXmlCheck, &kExportTsv, &kDialog,     &kPreview, &kPrint, &kVersion};

void PrintToolHelp(std::ostream& out) {
  out << "Usage: quillmark COMMAND [OPTION]... [ARG]...\n"
         "  or:  quillmark --help | --version\n"
         "Run one of the Quillmark Library's jobs: web archives, compression, zip\n"
         "archives, pictures, resampling, XML, workbooks, dialogs and printing.\n\n"
         "Commands:\n";
  for (const Command* command : kCommands) {
    // The summary's first line, without its full stop.
    std::string summary(command->Summary.substr(0, command->Summary.find('\n')));
    if (summary.ends_with('.')) summary.pop_back();
    out << "  " << command->Name << std::string(12 - command->Name.size(), ' ') << summary << '\n';
  }
  out << "\nOptions:\n"
         "  -h, --help     display this help and exit\n"
         "  -V, --version  output version information and exit\n\n"
         "Every command takes --help for its own usage, options and examples; the long\n"
         "jobs (mht, compress, decompress, zip, find) show progress on stderr when it is\n"
         "a terminal, and take -q, --quiet to keep it silent.\n\n"
         "Examples:\n"
         "  quillmark mht report/index.html report.mht\n"
         "  quillmark zip backup.zip report.html pics/chart.png\n"
         "  quillmark find -r . '*.mht'\n"
         "  quillmark zip --help\n\n"
         "Exit status:\n"
         "  0  success\n"
         "  1  the job failed: the message says what went wrong with which file, then the\n"
         "     library's error number and text\n"
         "  2  wrong usage: an unknown command or option, a missing or extra argument, or\n"
         "     a number that is not one\n";
}

int ToolUsageError(const std::string& reason) {
  std::cerr << "quillmark: " << reason << '\n'
            << "Usage: quillmark COMMAND [OPTION]... [ARG]...\n"
               "Try 'quillmark --help' for more information.\n";
  return 2;
}

}  // namespace
}  // namespace qm::cli

/// The whole command line of `quillmark` (argv[0] the program), as main()
/// takes it; returns the exit status.
extern "C" QUILLMARK_EXPORT int qm_cli_main(int argc, char** argv) {
  using namespace qm::cli;
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) return ToolUsageError("missing command");
  const std::string& first = args[0];
  if (first == "--help" || first == "-h") {
    PrintToolHelp(std::cout);
    return 0;
  }
  if (first == "--version" || first == "-V") return RunCommand(kVersion, {});
  if (first.starts_with('-')) return ToolUsageError("unknown option '" + first + "'");
  for (const Command* command : kCommands)
    if (command->Name == first) return RunCommand(*command, std::span(args).subspan(1));
  return ToolUsageError("unknown command '" + first + "'");
}

// quillmark zip [-u] OUT.zip FILE...: a zip archive of every file, names
// stored as given; a new archive unless -u updates the one there. Exits 1
// when any file asked for is not in the archive.

#include <filesystem>
#include <iostream>
#include <sstream>
#include <vector>

#include "Commands.h"
#include "ProgressLine.h"
#include "Trouble.h"
#include "quillmark/compression/ZipFiles.h"

namespace qm::cli {
namespace {

int Run(const Invocation& call) {
  const auto& args = call.Operands();
  const std::vector<std::filesystem::path> files(args.begin() + 1, args.end());
  ZipReport report;
  {
    ProgressLine progress(std::cerr, ProgressWanted(call.Chatty()), "quillmark zip", ProgressLine::Unit::Bytes);
    const ZipMode mode = call.Has("update") ? ZipMode::Update : ZipMode::Create;
    report = WithFiles({}, args[0], [&] { return ZipFiles(args[0], files, mode, progress.Callback()); });
  }
  if (report.Complete()) {
    std::cout << args[0] << ": " << report.Archived << " files\n";
    return 0;
  }
  std::istringstream lines(report.Message());
  for (std::string line; std::getline(lines, line);) std::cerr << "quillmark zip: " << line << '\n';
  std::cerr << "quillmark zip: " << (files.size() - report.Archived) << " of " << files.size() << " files are not in "
            << args[0] << '\n';
  return 1;
}

constexpr Option kOptions[] = {
    {"update", 'u', {}, "keep the entries of an existing OUT.zip (same names replaced)"},
};

}  // namespace

extern const Command kZip{
    .Name = "zip",
    .Operands = "OUT.zip FILE...",
    .Summary =
        "Write every FILE into the zip archive OUT.zip.\n"
        "Any number of files may be given; a folder becomes a folder entry.",
    .MinOperands = 2,
    .MaxOperands = Command::kAny,
    .Options = kOptions,
    .Details =
        "Names are stored as given, without a leading '/' or './'; entries are deflated\n"
        "at level 6. An existing OUT.zip is replaced by the new archive, once that is\n"
        "whole; with -u it is updated instead: entries of the same name are replaced,\n"
        "the others kept. Every FILE that is not in the archive afterwards is named on\n"
        "stderr, and the exit status is then 1.\n\n"
        "Examples:\n"
        "  quillmark zip backup.zip report.html pics/chart.png\n"
        "  quillmark zip -q logs.zip logs/*.log\n"
        "  quillmark zip -u backup.zip notes.txt\n",
    .Run = Run,
    .ShowsProgress = true,
};

}  // namespace qm::cli

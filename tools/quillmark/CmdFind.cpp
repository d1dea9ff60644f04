// quillmark find DIR PATTERN [--recurse]: the files of DIR whose names match
// PATTERN (?, *, #, [list], [!list]; without regard to case), one full path a line.

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <string>

#include "Commands.h"
#include "ProgressLine.h"
#include "Trouble.h"
#include "quillmark/utility/FileRecurser.h"

namespace qm::cli {
namespace {

void Flush(std::string& lines) {
  std::cout.write(lines.data(), static_cast<std::streamsize>(lines.size()));
  if (!std::cout) throw Trouble("cannot write the list of files");
  lines.clear();
}

int Run(const Invocation& call) {
  const std::string folder = call.Operand(0);
  // The recurser's own list of names: FindFiles would split every one into a
  // path's components, which costs more than the listing itself.
  Variant found;
  try {
    ProgressLine progress(std::cerr, ProgressWanted(call.Chatty()), "quillmark find", ProgressLine::Unit::Folders);
    found = FileRecurser().Files(call.Operand(1), call.Has("recurse"), folder, progress.Callback());
  } catch (const Error& e) {
    std::error_code ec;
    const std::string coded = Coded(e);
    if (!std::filesystem::exists(folder, ec)) throw Trouble(folder + " does not exist" + coded);
    if (!std::filesystem::is_directory(folder, ec)) throw Trouble(folder + " is not a folder" + coded);
    throw Trouble("cannot list " + folder + " or a folder below it" + coded);
  }
  // One block of lines at a time, not a write through the stream per name.
  std::string lines;
  for (const Variant& path : found.Array().Data()) {
    lines += path.String();
    lines += '\n';
    if (lines.size() >= 1 << 16) Flush(lines);
  }
  Flush(lines);
  return 0;
}

constexpr Option kOptions[] = {
    {"recurse", 'r', {}, "look in every folder below DIR too (depth first)"},
};

}  // namespace

extern const Command kFind{
    .Name = "find",
    .Operands = "DIR PATTERN",
    .Summary = "Print the full path of every file in DIR whose name matches PATTERN.",
    .MinOperands = 2,
    .MaxOperands = 2,
    .Options = kOptions,
    .Details =
        "PATTERN: ? any one character, * any run of characters, # one digit, [list]\n"
        "one character of the list (ranges as in [a-z]), [!list] one not in it; letters\n"
        "match without regard to case. Files come in name order, each folder's own\n"
        "before those of its subfolders. Links to folders are not followed.\n\n"
        "Examples:\n"
        "  quillmark find . '*.html'\n"
        "  quillmark find -r ~/reports 'report-####.mht'\n",
    .Run = Run,
    .ShowsProgress = true,
};

}  // namespace qm::cli

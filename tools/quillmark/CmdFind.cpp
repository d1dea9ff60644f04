// quillmark find DIR PATTERN [--recurse]: the files of DIR whose names match
// PATTERN (?, *, #, [list], [!list]; without regard to case), one full path a line.

#include <filesystem>
#include <iostream>

#include "Commands.h"
#include "Trouble.h"
#include "quillmark/utility/FileRecurser.h"

namespace qm::cli {

int RunFind(const Args& args) {
  std::vector<std::string> positional;
  bool recurse = false;
  for (const auto& arg : args) {
    if (arg == "--recurse" || arg == "-r") recurse = true;
    else positional.push_back(arg);
  }
  if (positional.size() != 2) {
    std::cerr << "usage: quillmark find DIR PATTERN [--recurse]\n";
    return 2;
  }
  const std::string& folder = positional[0];
  Variant found;
  try {
    found = FileRecurser().Files(positional[1], recurse, folder);
  } catch (const Error& e) {
    std::error_code ec;
    const std::string coded = Coded(e);
    if (!std::filesystem::exists(folder, ec)) throw Trouble(folder + " does not exist" + coded);
    if (!std::filesystem::is_directory(folder, ec)) throw Trouble(folder + " is not a folder" + coded);
    throw Trouble("cannot list " + folder + " or a folder below it" + coded);
  }
  for (const auto& path : found.Array().Data()) std::cout << path.String() << '\n';
  return 0;
}

}  // namespace qm::cli

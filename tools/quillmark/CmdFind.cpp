// quillmark find DIR PATTERN [--recurse]: the files of DIR whose names match
// PATTERN (?, *, #, [list], [!list]; without regard to case), one full path a line.

#include <iostream>

#include "Commands.h"
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
  const Variant found = FileRecurser().Files(positional[1], recurse, positional[0]);
  for (const auto& path : found.Array().Data()) std::cout << path.String() << '\n';
  return 0;
}

}  // namespace qm::cli

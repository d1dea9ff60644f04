#include "support/FileTree.h"

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>

namespace qm::bench {

void MakeFileTree(const std::string& root, int folders) {
  const char* extensions[] = {".txt", ".dat", ".TXT", ".log", ".png", ".Txt"};
  int n = 0;
  for (int folder = 0; folder < folders; ++folder) {
    const std::string path = root + "/dir" + std::to_string(folder / 10) + "/sub" + std::to_string(folder % 10);
    std::filesystem::create_directories(path);
    // A folder's files are hard links to its first one: a search reads only
    // the names (and the type each entry has in its folder), and a link is
    // made about ten times as fast as a new inode, which matters for a
    // million of them. Names are made relative to the folder's descriptor.
    const int dir = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    std::string first;
    for (int f = 0; f < 1000; ++f, ++n) {
      const std::string name = "file" + std::to_string(n) + extensions[n % 6];
      if (first.empty() || ::linkat(dir, first.c_str(), dir, name.c_str(), 0) != 0) {
        const int fd = ::openat(dir, name.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
        if (fd >= 0) ::close(fd);
        if (first.empty()) first = name;
      }
    }
    if (dir >= 0) ::close(dir);
  }
}

}  // namespace qm::bench

#include "support/FileTree.h"

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>

namespace qm::bench {

void MakeFileTree(const std::string& root) {
  const char* extensions[] = {".txt", ".dat", ".TXT", ".log", ".png", ".Txt"};
  int n = 0;
  for (int a = 0; a < 10; ++a) {
    for (int b = 0; b < 10; ++b) {
      const std::string folder = root + "/dir" + std::to_string(a) + "/sub" + std::to_string(b);
      std::filesystem::create_directories(folder);
      for (int f = 0; f < 1000; ++f, ++n) {
        const std::string name = folder + "/file" + std::to_string(n) + extensions[n % 6];
        const int fd = ::open(name.c_str(), O_CREAT | O_WRONLY, 0644);
        if (fd >= 0) ::close(fd);
      }
    }
  }
}

}  // namespace qm::bench

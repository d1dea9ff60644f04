// FileRecurser.Files over a tree of 100,000 files (pattern *.txt, recursion
// on) against `find DIR -iname '*.txt'` on the same tree.

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "quillmark/utility/FileRecurser.h"
#include "support/BenchRow.h"

namespace {

// 10 x 10 folders of 1,000 files each; a third of the names end in .txt or .TXT.
void MakeTree(const std::string& root) {
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

std::size_t CountLines(const std::string& command) {
  std::size_t lines = 0;
  if (FILE* pipe = ::popen(command.c_str(), "r")) {
    for (int c; (c = std::fgetc(pipe)) != EOF;) lines += c == '\n';
    ::pclose(pipe);
  }
  return lines;
}

}  // namespace

int main() {
  const std::string root = qm::bench::ScratchDir("find") + "/tree";
  MakeTree(root);
  std::size_t ours = 0;
  qm::bench::Contender fileRecurser{"FileRecurser.Files", [&] {
                                      const qm::Variant found = qm::FileRecurser().Files("*.txt", true, root);
                                      ours = found.Array().Size();
                                    }};
  qm::bench::Contender find{"find -iname", [&] { qm::bench::Shell("find '" + root + "' -iname '*.txt' > /dev/null"); }};
  qm::bench::RunRow("find", 0.9, fileRecurser, {find});
  const std::size_t theirs = CountLines("find '" + root + "' -iname '*.txt'");
  qm::bench::Detail("matches: " + std::to_string(ours) + " (find: " + std::to_string(theirs) + ")");
  if (ours != theirs) qm::bench::Detail("MISMATCH: the two listings differ");
  return 0;
}

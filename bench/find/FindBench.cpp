// FileRecurser.Files over a tree of 100,000 files (pattern *.txt, recursion
// on) against `find DIR -iname '*.txt'` on the same tree; a detail line times
// the typed qm::FindFiles.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "quillmark/utility/FileRecurser.h"
#include "quillmark/utility/FindFiles.h"
#include "support/BenchRow.h"
#include "support/FileTree.h"

namespace {

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
  qm::bench::MakeFileTree(root);
  std::size_t ours = 0;
  qm::bench::Contender fileRecurser{"FileRecurser.Files", [&] {
                                      const qm::Variant found = qm::FileRecurser().Files("*.txt", true, root);
                                      ours = found.Array().Size();
                                    }};
  qm::bench::Contender find{"find -iname", [&] { qm::bench::Shell("find '" + root + "' -iname '*.txt' > /dev/null"); }};
  const qm::bench::RowResult row = qm::bench::RunRow("find", 0.9, fileRecurser, {find});
  // The typed call: the same walk, its names as paths instead of a Variant array.
  std::size_t typed = 0;
  std::vector<double> seconds;
  for (int run = 0; run < 3; ++run) {
    const auto start = std::chrono::steady_clock::now();
    typed = qm::FindFiles(root, "*.txt", true).size();
    seconds.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  std::sort(seconds.begin(), seconds.end());
  char line[128];
  std::snprintf(line, sizeof line, "typed qm::FindFiles: %.1f ms (median of 3), %.2f of find's time", seconds[1] * 1000,
                seconds[1] / row.PeerSeconds);
  qm::bench::Detail(line);
  const std::size_t theirs = CountLines("find '" + root + "' -iname '*.txt'");
  qm::bench::Detail("matches: " + std::to_string(ours) + " (find: " + std::to_string(theirs) + ")");
  if (ours != theirs || typed != ours) qm::bench::Detail("MISMATCH: the listings differ");
  return 0;
}

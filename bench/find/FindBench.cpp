// FileRecurser.Files (pattern *.txt, recursion on) against `find DIR -iname
// '*.txt'` on the same tree, the typed qm::FindFiles timed in the same rounds:
//   find     100,000 files (100 folders of 1,000)
//   find-1m  1,000,000 files (1,000 folders of 1,000), with the growth from
//            the 100,000 of its first tenth
// The trees are made once per run in a scratch folder and removed at exit.

#include <cstdio>
#include <string>

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

struct Search {
  std::string Root;
  std::size_t Published = 0, Typed = 0;
  qm::bench::Contender Recurser{"FileRecurser.Files",
                                [this] { Published = qm::FileRecurser().Files("*.txt", true, Root).Array().Size(); }};
  qm::bench::Contender Find{"find -iname",
                            [this] { qm::bench::Shell("find '" + Root + "' -iname '*.txt' > /dev/null"); }};
  qm::bench::Contender FindFiles{"qm::FindFiles", [this] { Typed = qm::FindFiles(Root, "*.txt", true).size(); }};

  explicit Search(std::string root) : Root(std::move(root)) {}

  qm::bench::RowOptions Options(bool warmUp) const {
    qm::bench::RowOptions options;
    options.Typed = &FindFiles;
    options.WarmUp = warmUp;
    return options;
  }

  void Check() const {
    const std::size_t theirs = CountLines("find '" + Root + "' -iname '*.txt'");
    qm::bench::Detail("matches: " + std::to_string(Published) + " (find: " + std::to_string(theirs) + ")");
    if (Published != theirs || Typed != Published) qm::bench::Detail("MISMATCH: the listings differ");
  }
};

}  // namespace

int main() {
  const std::string row = QM_FIND_ROW;
  const std::string scratch = qm::bench::ScratchDir(row);
  if (row == "find") {
    Search search(scratch + "/tree");
    qm::bench::MakeFileTree(search.Root);
    qm::bench::RunRow("find", 0.9, search.Recurser, {search.Find}, search.Options(true));
    search.Check();
    return 0;
  }
  // A million empty files take a million inodes and some 40 MB of folders:
  // refuse rather than exhaust the file system.
  if (qm::bench::FreeFiles(scratch) < 2'000'000 || qm::bench::FreeBytes(scratch) < (std::size_t{1} << 30)) {
    std::printf("bench find-1m ratio n/a goal 1\n  not run: fewer than 2,000,000 inodes or 1 GB free in %s\n",
                scratch.c_str());
    return 0;
  }
  // Ten trees of 100,000: the first alone is the smaller size.
  Search small(scratch + "/tree/part0"), large(scratch + "/tree");
  for (int part = 0; part < 10; ++part) qm::bench::MakeFileTree(scratch + "/tree/part" + std::to_string(part));
  const qm::bench::RowResult smaller = qm::bench::Measure(small.Recurser, {small.Find}, small.Options(true));
  const qm::bench::RowResult larger =
      qm::bench::RunRow("find-1m", 1.0, large.Recurser, {large.Find}, large.Options(false));
  qm::bench::Growth("files", 10, smaller, larger);
  qm::bench::DetailF("typed qm::FindFiles grew x%.2f (%.0f to %.0f ms)", larger.TypedSeconds / smaller.TypedSeconds,
                     smaller.TypedSeconds * 1000, larger.TypedSeconds * 1000);
  large.Check();
  return 0;
}

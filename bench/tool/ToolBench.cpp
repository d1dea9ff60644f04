// The `quillmark` tool started as a shell starts it (a new process each run,
// output to /dev/null), against its Unix counterparts, on the same inputs:
//   tool-version  quillmark --version      zip -v                 (20 starts)
//   tool-zip      quillmark zip -q          zip -q, then fsync of  (1,000 small files)
//                                           the archive and folder
//   tool-find     quillmark find -q -r      find -type f -iname    (100,000 files)
// Each row also checks that both produce the same result.

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/BenchRow.h"
#include "support/FileTree.h"

extern char** environ;

namespace {

// Runs `args` in `folder` with its output in `out` (or /dev/null); returns
// the exit status, -1 when it could not run.
int Run(const std::vector<std::string>& args, const std::string& folder = ".", const std::string& out = "/dev/null") {
  std::vector<char*> argv;
  for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t child = 0;
  const int failed = posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (failed) return -1;
  int status = 0;
  if (waitpid(child, &status, 0) != child) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The lines of a file, sorted.
std::vector<std::string> SortedLines(const std::string& path) {
  std::vector<std::string> lines;
  std::istringstream in(Read(path));
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  std::sort(lines.begin(), lines.end());
  return lines;
}

void Check(bool same, const std::string& what) { qm::bench::Detail((same ? "same result: " : "MISMATCH: ") + what); }

void VersionRow() {
  constexpr int kStarts = 20;
  const std::string scratch = qm::bench::ScratchDir("tool-version");
  qm::bench::Contender ours{"quillmark --version (20 starts)", [] {
                              for (int i = 0; i < kStarts; ++i) Run({QM_CLI_PROGRAM, "--version"});
                            }};
  qm::bench::Contender zip{"zip -v (20 starts)", [] {
                             for (int i = 0; i < kStarts; ++i) Run({"zip", "-v"});
                           }};
  qm::bench::RunRow("tool-version", 3, ours, {zip}, 9);
  Run({QM_CLI_PROGRAM, "--version"}, ".", scratch + "/version");
  Check(Read(scratch + "/version").starts_with("quillmark ") && Run({QM_CLI_PROGRAM, "--version"}) == 0,
        "quillmark --version prints its version and exits 0");
}

void Sync(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
}

// Writes the archive, then makes it durable as the tool does before it ends:
// the file, then its folder (zip renames its temporary into place too).
int ZipSynced(const std::string& folder, const std::vector<std::string>& names) {
  std::vector<std::string> args{"zip", "-q", "peer.zip"};
  args.insert(args.end(), names.begin(), names.end());
  std::filesystem::remove(folder + "/peer.zip");
  const int status = Run(args, folder);
  Sync(folder + "/peer.zip");
  Sync(folder);
  return status;
}

void ZipRow() {
  const std::string folder = qm::bench::ScratchDir("tool-zip");
  std::vector<std::string> names;
  for (int i = 0; i < 1000; ++i) {
    names.push_back("file" + std::to_string(i) + ".txt");
    std::ofstream(folder + "/" + names.back())
        << std::string(static_cast<std::size_t>(200 + i % 7 * 300), 'a' + i % 26) << " line " << i << '\n';
  }
  std::vector<std::string> ourArgs{QM_CLI_PROGRAM, "zip", "-q", "ours.zip"};
  ourArgs.insert(ourArgs.end(), names.begin(), names.end());
  qm::bench::Contender ours{"quillmark zip -q", [&] {
                              std::filesystem::remove(folder + "/ours.zip");
                              Run(ourArgs, folder);
                            }};
  qm::bench::Contender zip{"zip -q, then fsync of the archive and its folder", [&] { ZipSynced(folder, names); }};
  qm::bench::RunRow("tool-zip", 1, ours, {zip}, 7);
  Run({"unzip", "-Z1", "ours.zip"}, folder, folder + "/ours.list");
  Run({"unzip", "-Z1", "peer.zip"}, folder, folder + "/peer.list");
  const bool sameNames = SortedLines(folder + "/ours.list") == SortedLines(folder + "/peer.list") &&
                         SortedLines(folder + "/ours.list").size() == names.size();
  Check(sameNames && Run({"unzip", "-tq", "ours.zip"}, folder) == 0,
        "both archives hold the 1000 files, and ours tests intact");
}

void FindRow() {
  const std::string scratch = qm::bench::ScratchDir("tool-find");
  const std::string root = scratch + "/tree";
  qm::bench::MakeFileTree(root);
  const std::vector<std::string> ourArgs{QM_CLI_PROGRAM, "find", "-q", "-r", root, "*.txt"};
  const std::vector<std::string> findArgs{"find", root, "-type", "f", "-iname", "*.txt"};
  qm::bench::Contender ours{"quillmark find -r", [&] { Run(ourArgs); }};
  qm::bench::Contender find{"find -type f -iname", [&] { Run(findArgs); }};
  qm::bench::RunRow("tool-find", 1, ours, {find}, 7);
  Run(ourArgs, ".", scratch + "/ours");
  Run(findArgs, ".", scratch + "/peer");
  const auto found = SortedLines(scratch + "/ours");
  Check(found == SortedLines(scratch + "/peer") && found.size() == 50000,
        std::to_string(found.size()) + " files found by both");
}

}  // namespace

int main() {
  const std::string row = QM_TOOL_ROW;
  if (row == "version") VersionRow();
  if (row == "zip") ZipRow();
  if (row == "find") FindRow();
  return 0;
}

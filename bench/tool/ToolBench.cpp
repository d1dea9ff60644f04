// The `quillmark` tool started as a shell starts it (a new process each run,
// output to /dev/null), against its Unix counterparts, on the same inputs:
//   tool-version  quillmark --version      zip -v                 (20 starts)
//   tool-zip      quillmark zip -q          zip -q, then fsync of  (1,000 small files)
//                                           the archive and folder
//   tool-find     quillmark find -q -r      find -type f -iname    (100,000 files)
//   tool-zip-10k  quillmark zip -q          as tool-zip            (10,000 files of 1 KiB)
//   tool-zip-100k quillmark zip -q          as tool-zip            (100,000 files of 1 KiB)
// (the last two from the one program qm-bench-tool-zip-scale, with the growth
// between them). Each row also checks that both produce the same result.

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/BenchRow.h"
#include "support/FileTree.h"

extern char** environ;

namespace {

constexpr int kStopped = -2;

// Runs `args` in `folder` with its output in `out` (or /dev/null); returns
// the exit status, -1 when it could not run, kStopped when it was killed
// after `limit` seconds (0: no limit).
int Run(const std::vector<std::string>& args, const std::string& folder = ".", const std::string& out = "/dev/null",
        double limit = 0) {
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
  if (limit > 0) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(limit);
    while (waitpid(child, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() >= deadline) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
        return kStopped;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
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

// Both archives hold `count` files and ours tests intact.
void CheckArchives(const std::string& folder, std::size_t count) {
  Run({"unzip", "-Z1", "ours.zip"}, folder, folder + "/ours.list");
  Run({"unzip", "-Z1", "peer.zip"}, folder, folder + "/peer.list");
  const auto ours = SortedLines(folder + "/ours.list");
  Check(ours == SortedLines(folder + "/peer.list") && ours.size() == count &&
            Run({"unzip", "-tqq", "ours.zip"}, folder) == 0,
        "both archives hold the " + std::to_string(count) + " files, and ours tests intact");
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
  qm::bench::RowOptions options;
  options.Repetitions = 7;
  options.Noise = "each run ends with a sync of the archive, whose time varies with the disk";
  qm::bench::RunRow("tool-zip", 1, ours, {zip}, options);
  CheckArchives(folder, names.size());
}

// 10,000 and then 100,000 files of 1 KiB of text, in folders of 1,000, all
// named on the command line of both tools. The files are hard links to 1,000
// files of different text (made in a tenth of the time of 100,000 files; both
// tools read each name as a file of its own).
void ZipScaleRow() {
  // 100,000 names and their pointers pass the usual 2 MB limit of a command
  // line (a quarter of the stack limit, which the children inherit).
  rlimit stack{};
  if (getrlimit(RLIMIT_STACK, &stack) == 0 && stack.rlim_cur != RLIM_INFINITY && stack.rlim_cur < (64u << 20)) {
    stack.rlim_cur = stack.rlim_max == RLIM_INFINITY ? 64u << 20 : std::min<rlim_t>(stack.rlim_max, 64u << 20);
    setrlimit(RLIMIT_STACK, &stack);
  }
  const std::string folder = qm::bench::ScratchDir("tool-zip-scale");
  std::filesystem::create_directories(folder + "/texts");
  for (int i = 0; i < 1000; ++i) {
    std::string text;
    for (int line = 0; text.size() < 1024; ++line)
      text += "entry " + std::to_string(i) + " line " + std::to_string(line) + " of the day's log\n";
    text.resize(1024);
    std::ofstream(folder + "/texts/" + std::to_string(i), std::ios::binary) << text;
  }
  std::vector<std::string> names;
  for (int i = 0; i < 100000; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "d%02d/f%05d.txt", i / 1000, i);
    if (i % 1000 == 0) std::filesystem::create_directories(folder + "/" + std::string(name, 3));
    std::filesystem::create_hard_link(folder + "/texts/" + std::to_string(i % 1000), folder + "/" + name);
    names.push_back(name);
  }
  // A run of ours is stopped after this long: the row then gives the least
  // its ratio can be, and stays within a minute or so.
  constexpr double kLimit = 20;
  qm::bench::RowResult results[2];
  const std::size_t counts[2] = {10000, 100000};
  for (int size = 0; size < 2; ++size) {
    const std::vector<std::string> some(names.begin(), names.begin() + static_cast<long>(counts[size]));
    std::vector<std::string> ourArgs{QM_CLI_PROGRAM, "zip", "-q", "ours.zip"};
    ourArgs.insert(ourArgs.end(), some.begin(), some.end());
    bool stopped = false;
    qm::bench::Contender ours{"quillmark zip -q", [&] {
                                std::filesystem::remove(folder + "/ours.zip");
                                stopped = Run(ourArgs, folder, "/dev/null", kLimit) == kStopped || stopped;
                              }};
    qm::bench::Contender zip{"zip -q, then fsync of the archive and its folder", [&] { ZipSynced(folder, some); }};
    qm::bench::RowOptions options;
    options.Repetitions = size == 0 ? 5 : 3;
    options.WarmUp = size == 0;  // the files and both programs are warm by the larger size
    options.BudgetSeconds = 20;
    options.Noise = "each run ends with a sync of the archive, whose time varies with the disk";
    results[size] = qm::bench::RunRow(size == 0 ? "tool-zip-10k" : "tool-zip-100k", 1, ours, {zip}, options);
    if (stopped) {
      qm::bench::DetailF("quillmark zip was stopped after %.0f s: the ratio is at least the one shown", kLimit);
      continue;
    }
    CheckArchives(folder, some.size());
  }
  qm::bench::Growth("files", 10, results[0], results[1]);
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
  if (row == "zip-scale") ZipScaleRow();
  return 0;
}

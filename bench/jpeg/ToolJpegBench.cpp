// `quillmark jpeg --quality=90` of a 4000 x 3000 24-bit BMP (36 MB) against
// `cjpeg -quality 90` and an fsync of its output, each a new process as a
// shell starts it, on two pictures: a simple one (smooth shapes, a JPEG of a
// few hundred kilobytes), where reading the picture is most of the work, and
// a noisy one, where encoding is. Two rows, tool-jpeg-simple and
// tool-jpeg-noisy, each with the peak resident memory of both programs: the
// tool streams the picture from file to file, so it holds a small part of it.

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "support/BenchRow.h"

extern char** environ;

namespace {

constexpr int kWidth = 4000, kHeight = 3000;

void Put(std::ofstream& out, std::uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.put(static_cast<char>(value >> (8 * i)));
}

// Smooth shapes, with noise of +-`noise` on every byte, as a bottom-up BMP.
void WriteBmp(const std::string& path, int noise) {
  const int stride = (3 * kWidth + 3) & ~3;
  std::ofstream out(path, std::ios::binary);
  out.write("BM", 2);
  Put(out, 54 + static_cast<std::uint32_t>(stride) * kHeight, 4);
  Put(out, 0, 4);
  Put(out, 54, 4);
  Put(out, 40, 4);
  Put(out, kWidth, 4);
  Put(out, kHeight, 4);
  Put(out, 1, 2);
  Put(out, 24, 2);
  for (int i = 0; i < 6; ++i) Put(out, 0, 4);
  std::mt19937 random(11);
  std::vector<char> row(static_cast<std::size_t>(stride), 0);
  for (int y = kHeight - 1; y >= 0; --y) {
    for (int x = 0; x < kWidth; ++x) {
      const double rgb[3] = {128 + 100 * std::sin(x / 97.0) * std::cos(y / 131.0), 128 + 90 * std::sin((x + y) / 211.0),
                             128 + 80 * std::cos(std::hypot(x - 2000.0, y - 1500.0) / 57.0)};
      for (int c = 0; c < 3; ++c) {
        const int n = noise ? static_cast<int>(random() % (2 * noise + 1)) - noise : 0;
        row[3 * x + 2 - c] = static_cast<char>(std::clamp(static_cast<int>(rgb[c]) + n, 0, 255));
      }
    }
    out.write(row.data(), stride);
  }
}

// Runs `args` (output to /dev/null); false when it did not run or failed.
// Keeps the most resident memory any run took.
bool Run(const std::vector<std::string>& args, long& peakKiB) {
  std::vector<char*> argv;
  for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  pid_t child = 0;
  const int failed = posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (failed) return false;
  int status = 0;
  rusage usage{};
  if (wait4(child, &status, 0, &usage) != child) return false;
  peakKiB = std::max(peakKiB, usage.ru_maxrss);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool SyncFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool synced = ::fsync(fd) == 0;
  ::close(fd);
  return synced;
}

long long FileSize(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  return in ? static_cast<long long>(in.tellg()) : -1;
}

void Row(const std::string& row, const std::string& dir, int noise) {
  const std::string bmp = dir + "/" + row + ".bmp", ours = dir + "/ours.jpg", theirs = dir + "/cjpeg.jpg";
  WriteBmp(bmp, noise);
  long oursPeak = 0, theirPeak = 0;
  bool ok = true;
  const qm::bench::Contender tool{"quillmark jpeg --quality=90", [&] {
                                    ok = Run({QM_CLI_PROGRAM, "jpeg", "--quality=90", bmp, ours}, oursPeak) && ok;
                                  }};
  const qm::bench::Contender cjpeg{"cjpeg -quality 90, then fsync", [&] {
                                     ok = Run({"cjpeg", "-quality", "90", "-outfile", theirs, bmp}, theirPeak) && ok;
                                     ok = SyncFile(theirs) && ok;
                                   }};
  qm::bench::RowOptions options;
  options.Repetitions = 5;
  options.Noise = "each run starts a process and syncs its file to disk";
  qm::bench::RunRow(row, 1.0, tool, {cjpeg}, options);
  const double picture = 3.0 * kWidth * kHeight / 1024;  // the decoded picture, KiB
  char line[160];
  std::snprintf(line, sizeof line,
                "peak resident memory: ours %.1f MiB (%.0f%% of the decoded picture), cjpeg %.1f MiB",
                static_cast<double>(oursPeak) / 1024, 100.0 * static_cast<double>(oursPeak) / picture,
                static_cast<double>(theirPeak) / 1024);
  qm::bench::Detail(line);
  if (static_cast<double>(oursPeak) > picture / 3) qm::bench::Detail("MISMATCH: the tool held a third of the picture");
  std::snprintf(line, sizeof line, "sizes: ours %lld bytes, cjpeg %lld bytes", FileSize(ours), FileSize(theirs));
  qm::bench::Detail(line);
  long unused = 0;
  if (!ok || !Run({"djpeg", "-outfile", "/dev/null", ours}, unused))
    qm::bench::Detail("MISMATCH: a run failed, or djpeg could not read our JPEG");
}

}  // namespace

int main() {
  const std::string dir = qm::bench::ScratchDir("tool-jpeg");
  Row("tool-jpeg-simple", dir, 0);
  Row("tool-jpeg-noisy", dir, 6);
  return 0;
}

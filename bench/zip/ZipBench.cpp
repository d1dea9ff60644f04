// Zipper of 1000 files against Debian's `zip -q` on the same files. Both
// deflate at level 6 (zip's default, the Zipper's fixed level) and both start
// from no archive. zip deflates on one core; the Zipper on every core, writing
// the members in order. The typed qm::ZipFiles is timed in the same rounds.

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "quillmark/compression/ZipFiles.h"
#include "quillmark/compression/Zipper.h"
#include "support/BenchRow.h"

int main() {
  namespace fs = std::filesystem;
  const fs::path dir = qm::bench::ScratchDir("zip");
  fs::create_directories(dir / "files");

  // 1000 files of 1 to 64 KiB: three in four are text, the rest noise.
  std::mt19937 random(5);
  std::vector<std::string> names;
  std::size_t total = 0;
  {
    std::ofstream list(dir / "list.txt");
    for (int i = 0; i < 1000; ++i) {
      char name[32];
      std::snprintf(name, sizeof name, "files/f%04d.%s", i, i % 4 == 3 ? "bin" : "txt");
      const std::size_t size = 1024 + random() % (63 * 1024);
      std::string bytes;
      bytes.reserve(size + 64);
      while (bytes.size() < size) {
        if (i % 4 == 3) bytes += static_cast<char>(random());
        else bytes += "line " + std::to_string(random() % 5000) + " of the monthly figures\n";
      }
      bytes.resize(size);
      std::ofstream(dir / name, std::ios::binary) << bytes;
      names.push_back(name);
      list << name << '\n';
      total += size;
    }
  }
  fs::current_path(dir);

  qm::bench::Contender ours{"Zipper.Compress", [&] {
                              fs::remove("ours.zip");
                              qm::Zipper zipper;
                              for (const auto& name : names) zipper.AddFile(name);
                              if (zipper.Compress("ours.zip") != qm::ZE_OK) std::puts("  Zipper failed");
                            }};
  qm::bench::Contender peer{"zip -q", [&] {
                              if (!qm::bench::Shell("rm -f peer.zip && zip -q peer.zip -@ < list.txt"))
                                std::puts("  zip failed");
                            }};
  // The typed call: the Zipper's engine, every file in one pass.
  const std::vector<fs::path> paths(names.begin(), names.end());
  qm::bench::Contender typed{"qm::ZipFiles", [&] {
                               fs::remove("typed.zip");
                               if (!qm::ZipFiles("typed.zip", paths).Complete()) std::puts("  ZipFiles failed");
                             }};
  qm::bench::RowOptions options;
  options.Typed = &typed;
  qm::bench::RunMeteredRow("zip", 0.8, ours, peer, options);
  const std::string cores = std::to_string(std::max(1u, std::thread::hardware_concurrency()));
  qm::bench::Detail("1000 files, " + std::to_string(total >> 20) + " MiB, deflate level 6 on both sides (ours on " +
                    cores + " cores, zip on one); archives " + std::to_string(fs::file_size("ours.zip") >> 10) +
                    " KiB (ours) and " + std::to_string(fs::file_size("peer.zip") >> 10) + " KiB (zip)");
  if (!qm::bench::Shell("unzip -tqq ours.zip") || !qm::bench::Shell("unzip -tqq typed.zip"))
    qm::bench::Detail("MISMATCH: unzip -t failed on our archive");
  return 0;
}

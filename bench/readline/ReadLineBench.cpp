// QMStream.ReadLine over a 1,000,000-line file (one UnReadLine/ReadLine pair
// every 10 lines) against std::getline on the same file. QMStream keeps
// every line it reads (std::getline keeps none), in the blocks it read them
// into. Five rounds, as the time of one run is short against the machine's
// noise; a detail line gives the processor time of each side over the
// rounds (our helper threads counted).
//
// `qm-bench-readline --pages` measures instead what memory filled whole
// costs the first time, by the way its pages come (docs/reliability.md): a
// block of 2, 16 or 36 MiB mapped, filled by reads of this file and let
// go, with 4 KiB pages, with huge pages faulted in by the reads, and with
// huge pages asked for ahead (MADV_POPULATE_WRITE); and a 2 MiB block
// kept and filled again.

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <vector>

#include "quillmark/persistence/QMStream.h"
#include "support/BenchRow.h"

namespace {

double ProcessorSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const auto seconds = [](const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
  };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Fills `bytes` at `into` from the file, in reads of at most 2 MiB.
void Fill(int fd, char* into, std::size_t bytes) {
  for (std::size_t done = 0; done < bytes;) {
    const ssize_t n = ::pread(fd, into + done, std::min<std::size_t>(bytes - done, std::size_t{2} << 20),
                              static_cast<off_t>(done % (std::size_t{32} << 20)));
    if (n <= 0) return;
    done += static_cast<std::size_t>(n);
  }
}

// The median of 15 runs of `job`, in milliseconds.
template <class Job>
double MedianMs(Job job) {
  std::vector<double> times;
  for (int i = 0; i < 15; ++i) {
    const auto start = std::chrono::steady_clock::now();
    job();
    times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

void Pages(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  constexpr int kPopulateWrite = 23;  // MADV_POPULATE_WRITE, Linux 5.14
  for (const std::size_t mib : {2, 16, 36}) {
    const std::size_t bytes = mib << 20;
    std::string line = "  " + std::to_string(mib) + " MiB mapped, filled, let go:";
    for (const int advice : {0, 1, 2}) {
      const double ms = MedianMs([&] {
        void* p = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED) return;
        if (advice > 0) ::madvise(p, bytes, MADV_HUGEPAGE);
        if (advice > 1) ::madvise(p, bytes, kPopulateWrite);
        Fill(fd, static_cast<char*>(p), bytes);
        ::munmap(p, bytes);
      });
      char part[64];
      std::snprintf(part, sizeof part, " %s %.2f ms",
                    advice == 0   ? "4 KiB pages"
                    : advice == 1 ? "huge pages"
                                  : "huge pages ahead",
                    ms);
      line += part;
    }
    std::printf("%s\n", line.c_str());
  }
  const std::size_t bytes = std::size_t{2} << 20;
  void* kept = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (kept != MAP_FAILED) {
    ::madvise(kept, bytes, MADV_HUGEPAGE);
    Fill(fd, static_cast<char*>(kept), bytes);
    const double ms = MedianMs([&] {
      ::madvise(kept, bytes, MADV_FREE);
      Fill(fd, static_cast<char*>(kept), bytes);
    });
    std::printf("  2 MiB kept (MADV_FREE) and filled again: %.2f ms\n", ms);
    ::munmap(kept, bytes);
  }
  ::close(fd);
}

}  // namespace

int main(int argc, char** argv) {
  const std::string path = qm::bench::ScratchDir("readline") + "/lines.txt";
  {
    std::ofstream out(path, std::ios::binary);
    std::mt19937 random(7);
    for (int i = 0; i < 1000000; ++i) {
      out << std::string(3 * (random() % 4), ' ') << "%Property Field" << i << " value " << random() << "\r\n";
    }
  }
  if (argc > 1 && std::strcmp(argv[1], "--pages") == 0) {
    Pages(path);
    return 0;
  }
  std::size_t oursBytes = 0, peerBytes = 0;
  double oursCpu = 0, peerCpu = 0;
  int oursRuns = 0, peerRuns = 0;  // the first, untimed run of each is not counted
  qm::bench::Contender ours{"QMStream.ReadLine", [&] {
                              const double start = ProcessorSeconds();
                              qm::QMStream stream;
                              stream.Use(qm::TextStream::Open(path, qm::IOMode::ForReading));
                              std::size_t bytes = 0;
                              for (int n = 1; !stream.AtEndOfStream(); ++n) {
                                bytes += stream.ReadLine().size();
                                if (n % 10 == 0) {
                                  stream.UnReadLine();
                                  stream.ReadLine();
                                }
                              }
                              stream.Close_();
                              oursBytes = bytes;
                              if (oursRuns++ > 0) oursCpu += ProcessorSeconds() - start;
                            }};
  qm::bench::Contender peer{"std::getline", [&] {
                              const double start = ProcessorSeconds();
                              std::ifstream in(path, std::ios::binary);
                              std::string line;
                              std::size_t bytes = 0;
                              while (std::getline(in, line)) {
                                if (!line.empty() && line.back() == '\r') line.pop_back();
                                bytes += line.size();
                              }
                              peerBytes = bytes;
                              if (peerRuns++ > 0) peerCpu += ProcessorSeconds() - start;
                            }};
  qm::bench::RunRow("readline", 1.1, ours, {peer}, 5);
  char cpu[128];
  std::snprintf(cpu, sizeof cpu, "processor time over the rounds: %.2f s against %.2f s, ratio %.2f", oursCpu, peerCpu,
                oursCpu / peerCpu);
  qm::bench::Detail(cpu);
  if (oursBytes != peerBytes) qm::bench::Detail("MISMATCH: the two readers saw different text");
  return 0;
}

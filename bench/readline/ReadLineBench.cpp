// QMStream.ReadLine over a 1,000,000-line file (one UnReadLine/ReadLine pair
// every 10 lines) against std::getline on the same file. QMStream keeps
// every line it reads (std::getline keeps none), in the blocks it read them
// into. Five rounds, as the time of one run is short against the machine's
// noise; a detail line gives the processor time of each side over the
// rounds (our helper threads counted).

#include <sys/resource.h>

#include <cstdio>
#include <fstream>
#include <random>

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

}  // namespace

int main() {
  const std::string path = qm::bench::ScratchDir("readline") + "/lines.txt";
  {
    std::ofstream out(path, std::ios::binary);
    std::mt19937 random(7);
    for (int i = 0; i < 1000000; ++i) {
      out << std::string(3 * (random() % 4), ' ') << "%Property Field" << i << " value " << random() << "\r\n";
    }
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

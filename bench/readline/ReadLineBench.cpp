// QMStream.ReadLine over a 1,000,000-line file (one UnReadLine/ReadLine pair
// every 10 lines) against std::getline on the same file.

#include <fstream>
#include <random>

#include "quillmark/persistence/QMStream.h"
#include "support/BenchRow.h"

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
  qm::bench::Contender ours{"QMStream.ReadLine", [&] {
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
                            }};
  qm::bench::Contender peer{"std::getline", [&] {
                              std::ifstream in(path, std::ios::binary);
                              std::string line;
                              std::size_t bytes = 0;
                              while (std::getline(in, line)) {
                                if (!line.empty() && line.back() == '\r') line.pop_back();
                                bytes += line.size();
                              }
                              peerBytes = bytes;
                            }};
  qm::bench::RunRow("readline", 1.2, ours, {peer});
  if (oursBytes != peerBytes) qm::bench::Detail("MISMATCH: the two readers saw different text");
  return 0;
}

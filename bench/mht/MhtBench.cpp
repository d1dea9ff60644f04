// Packing a page that refers to 20 pictures of 50 MB in all into an MHT
// archive, against coreutils `base64 -w 76` of the same files. Both write to
// /dev/null, so the row compares the packing work, not the disk. The ratio is
// taken against the faster of one base64 per file and one base64 for them all;
// the typed qm::PackMht is timed in the same rounds.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <vector>

#include "quillmark/html/HTML2MHT.h"
#include "quillmark/html/MhtArchive.h"
#include "support/BenchRow.h"

int main() {
  const std::string dir = qm::bench::ScratchDir("mht");
  constexpr int kPictures = 20;
  constexpr std::size_t kPictureBytes = 50u * 1000 * 1000 / kPictures;
  std::mt19937_64 random(5);
  std::ostringstream page;
  page << "<HTML><BODY>\r\n<TABLE>\r\n";
  std::string files;
  for (int i = 0; i < kPictures; ++i) {
    const std::string name = "picture" + std::to_string(i) + ".png";
    std::string bytes(kPictureBytes, '\0');
    for (std::size_t k = 0; k + 8 <= bytes.size(); k += 8) {
      const std::uint64_t v = random();
      std::memcpy(&bytes[k], &v, 8);
    }
    std::ofstream(dir + "/" + name, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    page << "<TR><TD><IMG alt=\"\" src=\"" << name << "\"></TD></TR>\r\n";
    files += " '" + dir + "/" + name + "'";
  }
  page << "</TABLE>\r\n</BODY></HTML>\r\n";
  std::ofstream(dir + "/page.html", std::ios::binary) << page.str();

  bool peerFailed = false;
  qm::bench::Contender ours{"ConvertHTMLToMHT", [&] {
                              std::string subject;
                              qm::mdlHTML2MHT::ConvertHTMLToMHT(dir + "/page.html", "/dev/null", subject);
                            }};
  qm::bench::Contender peer{
      "base64 -w 76",
      [&] { peerFailed |= !qm::bench::Shell("for f in" + files + "; do base64 -w 76 \"$f\"; done >/dev/null"); }};
  // The same bytes through one base64 process, so process start-up does not favour us.
  qm::bench::Contender onePeer{"cat | base64 -w 76",
                               [&] { peerFailed |= !qm::bench::Shell("cat" + files + " | base64 -w 76 >/dev/null"); }};
  // The typed call: the same packer, without the hourglass and the call frame.
  qm::bench::Contender typed{"qm::PackMht", [&] { qm::PackMht(dir + "/page.html", "/dev/null"); }};
  qm::bench::RowOptions options;
  options.Typed = &typed;
  qm::bench::RunRow("mht", 0.8, ours, {peer, onePeer}, options);

  // For the record: the same archive written to a real file.
  std::string subject;
  const auto start = std::chrono::steady_clock::now();
  qm::mdlHTML2MHT::ConvertHTMLToMHT(dir + "/page.html", dir + "/page.mht", subject);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  qm::bench::Detail("to a file: " + std::to_string(seconds) + " s, " +
                    std::to_string(std::filesystem::file_size(dir + "/page.mht")) + " bytes");
  if (peerFailed) qm::bench::Detail("MISMATCH: base64 failed");
  return 0;
}

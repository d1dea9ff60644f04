// Graphics.SaveAsJPG of a 4000 x 3000 24-bit BMP against libjpeg-turbo's
// `cjpeg -quality 90` on the same file; the typed qm::ConvertToJpeg is timed
// in the same rounds.

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <random>
#include <thread>
#include <vector>

#include "quillmark/graphics/Graphics.h"
#include "quillmark/graphics/Jpeg.h"
#include "support/BenchRow.h"

namespace {

void Put(std::ofstream& out, std::uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.put(static_cast<char>(value >> (8 * i)));
}

// A photo-like picture: smooth shapes plus a little noise, as a bottom-up BMP.
void WriteBmp(const std::string& path, int width, int height) {
  const int stride = (3 * width + 3) & ~3;
  std::ofstream out(path, std::ios::binary);
  out.write("BM", 2);
  Put(out, 54 + static_cast<std::uint32_t>(stride) * height, 4);
  Put(out, 0, 4);
  Put(out, 54, 4);
  Put(out, 40, 4);
  Put(out, static_cast<std::uint32_t>(width), 4);
  Put(out, static_cast<std::uint32_t>(height), 4);
  Put(out, 1, 2);
  Put(out, 24, 2);
  for (int i = 0; i < 6; ++i) Put(out, 0, 4);
  std::mt19937 random(11);
  std::vector<char> row(static_cast<std::size_t>(stride), 0);
  for (int y = height - 1; y >= 0; --y) {
    for (int x = 0; x < width; ++x) {
      const double r = 128 + 100 * std::sin(x / 97.0) * std::cos(y / 131.0);
      const double g = 128 + 90 * std::sin((x + y) / 211.0);
      const double b = 128 + 80 * std::cos(std::hypot(x - 2000.0, y - 1500.0) / 57.0);
      const int n = static_cast<int>(random() % 13) - 6;
      row[3 * x + 0] = static_cast<char>(std::clamp(static_cast<int>(b) + n, 0, 255));
      row[3 * x + 1] = static_cast<char>(std::clamp(static_cast<int>(g) + n, 0, 255));
      row[3 * x + 2] = static_cast<char>(std::clamp(static_cast<int>(r) + n, 0, 255));
    }
    out.write(row.data(), stride);
  }
}

long long FileSize(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 ? static_cast<long long>(info.st_size) : -1;
}

}  // namespace

int main() {
  const std::string dir = qm::bench::ScratchDir("jpeg");
  const std::string bmp = dir + "/picture.bmp";
  WriteBmp(bmp, 4000, 3000);
  const std::string ours = dir + "/ours.jpg", theirs = dir + "/cjpeg.jpg";

  bool peerOk = true;
  qm::bench::Contender save{"Graphics.SaveAsJPG", [&] { qm::Graphics().SaveAsJPG(bmp, ours); }};
  qm::bench::Contender cjpeg{
      "cjpeg -quality 90",
      [&] { peerOk = qm::bench::Shell("cjpeg -quality 90 -outfile '" + theirs + "' '" + bmp + "'") && peerOk; }};
  // The typed call: the same loader and encoder, without the published class.
  const std::string typedJpeg = dir + "/typed.jpg";
  qm::bench::Contender typed{"qm::ConvertToJpeg", [&] { qm::ConvertToJpeg(bmp, typedJpeg, 90); }};
  qm::bench::RowOptions options;
  options.Repetitions = 5;
  options.Typed = &typed;
  qm::bench::RunRow("jpeg", 1.0, save, {cjpeg}, options);
  qm::bench::Detail("sizes: ours " + std::to_string(FileSize(ours)) + " bytes, cjpeg " +
                    std::to_string(FileSize(theirs)) + " bytes");
  qm::bench::Detail("ours encodes in strips on " + std::to_string(std::max(1u, std::thread::hardware_concurrency())) +
                    " cores and replaces the file whole (a temporary renamed over it); cjpeg encodes on one core "
                    "and writes the file in place");
  if (!peerOk) qm::bench::Detail("MISMATCH: cjpeg failed");
  return 0;
}

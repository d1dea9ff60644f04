// quillmark jpeg IMAGE OUT.jpg [--quality N]: an image file as a JPEG file.

#include <cstddef>
#include <fstream>
#include <iostream>
#include <optional>
#include <utility>
#include <vector>

#include "Commands.h"
#include "Trouble.h"
#include "quillmark/graphics/Jpeg.h"

namespace qm::cli {
namespace {

// The picture's width and height from the frame header of the JPEG just
// written (within its first bytes, after the tables).
std::optional<std::pair<int, int>> JpegSize(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  std::vector<unsigned char> head(4096);
  in.read(reinterpret_cast<char*>(head.data()), static_cast<std::streamsize>(head.size()));
  head.resize(static_cast<std::size_t>(in.gcount()));
  for (std::size_t at = 2; at + 9 <= head.size() && head[at] == 0xFF;
       at += 2 + (std::size_t{head[at + 2]} << 8 | head[at + 3])) {
    if (head[at + 1] >= 0xC0 && head[at + 1] <= 0xC2)
      return std::pair{head[at + 7] << 8 | head[at + 8], head[at + 5] << 8 | head[at + 6]};
  }
  return std::nullopt;
}

int Run(const Invocation& call) {
  const auto quality = static_cast<std::int32_t>(call.Whole(call.Value("quality", "90"), "the quality", 1, 100));
  const std::string in = call.Operand(0);
  const std::string out = call.Operand(1);
  // The picture goes from file to file strip by strip; its errors name the file they lie with.
  WithFiles({in}, out, [&] { ConvertToJpeg(in, out, quality); });
  std::cout << out << ": ";
  if (const auto size = JpegSize(out)) std::cout << size->first << " x " << size->second << ", ";
  std::cout << "quality " << quality << '\n';
  return 0;
}

constexpr Option kOptions[] = {
    {"quality", 0, "N", "JPEG quality from 1 to 100 (default 90)"},
};

}  // namespace

extern const Command kJpeg{
    .Name = "jpeg",
    .Operands = "IMAGE OUT.jpg",
    .Summary = "Write the picture IMAGE (BMP, GIF, JPEG or PNG) as the JPEG file OUT.jpg.",
    .MinOperands = 2,
    .MaxOperands = 2,
    .Options = kOptions,
    .Details =
        "Prints the picture's size and the quality used.\n\n"
        "Examples:\n"
        "  quillmark jpeg chart.png chart.jpg\n"
        "  quillmark jpeg --quality=75 scan.bmp scan.jpg\n",
    .Run = Run,
    .ShowsProgress = false,
};

}  // namespace qm::cli

// quillmark jpeg IMAGE OUT.jpg [--quality N]: an image file as a JPEG file.

#include <iostream>

#include "Commands.h"
#include "Trouble.h"
#include "quillmark/graphics/Jpeg.h"

namespace qm::cli {
namespace {

int Run(const Invocation& call) {
  const auto quality = static_cast<std::int32_t>(call.Whole(call.Value("quality", "90"), "the quality", 1, 100));
  const std::string in = call.Operand(0);
  const std::string out = call.Operand(1);
  // ConvertToJpeg in its two steps, so that a failure names the file it lies with.
  const auto picture = WithFiles({in}, {}, [&] { return ReadPicture(in); });
  WithFiles({}, out, [&] { WriteJpeg(picture, out, quality); });
  std::cout << out << ": " << picture.Width << " x " << picture.Height << ", quality " << quality << '\n';
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

// quillmark jpeg IMAGE OUT.jpg [--quality N]: an image file as a JPEG file.

#include <iostream>

#include "Commands.h"
#include "Trouble.h"
#include "quillmark/frame/Error.h"
#include "quillmark/graphics/DIBSection.h"
#include "quillmark/graphics/IJL.h"
#include "quillmark/graphics/Picture.h"
#include "quillmark/runtime/Conversions.h"

namespace qm::cli {

int RunJpeg(const Args& args) {
  std::vector<std::string> files;
  std::int32_t quality = 90;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--quality" && i + 1 < args.size()) {
      double value = 0;
      if (!TryParseNumber(args[++i], value) || value != static_cast<std::int32_t>(value) || value < 1 || value > 100) {
        std::cerr << "quillmark jpeg: the quality must be a whole number from 1 to 100\n";
        return 2;
      }
      quality = static_cast<std::int32_t>(value);
    } else {
      files.push_back(args[i]);
    }
  }
  if (files.size() != 2) {
    std::cerr << "usage: quillmark jpeg IMAGE OUT.jpg [--quality N]\n";
    return 2;
  }
  // Graphics.SaveAsJPG with a quality of the caller's choice.
  const auto picture = WithFiles({files[0]}, {}, [&] { return LoadPicture(files[0]); });
  clsDIBSection dib;
  dib.CreateFromPicture(*picture);
  WithFiles({}, files[1], [&] { mdlIntelJPEGLibrary::SaveJPG(dib, files[1], quality); });
  std::cout << files[1] << ": " << dib.Width() << " x " << dib.Height() << ", quality " << quality << '\n';
  return 0;
}

}  // namespace qm::cli

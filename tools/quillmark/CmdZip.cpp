// quillmark zip OUT.zip FILE...: a zip archive of the files, names stored as given.

#include <filesystem>
#include <iostream>

#include "Commands.h"
#include "quillmark/compression/Zipper.h"

namespace qm::cli {

int RunZip(const Args& args) {
  if (args.size() < 2) {
    std::cerr << "usage: quillmark zip OUT.zip FILE...\n";
    return 2;
  }
  const std::size_t files = args.size() - 1;
  if (files > Zipper::kMaxFilenames)
    std::cerr << "quillmark: only the first " << Zipper::kMaxFilenames << " of " << files << " files are archived\n";
  Zipper zipper;
  for (std::size_t i = 1; i < args.size(); ++i) {
    std::error_code ignored;
    if (!std::filesystem::exists(args[i], ignored)) std::cerr << "quillmark: " << args[i] << " not found, skipped\n";
    zipper.AddFile(args[i]);
  }
  zipper.CompressRaiseErr(args[0]);
  std::cout << args[0] << '\n';
  return 0;
}

}  // namespace qm::cli

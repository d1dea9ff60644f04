// quillmark zip OUT.zip FILE...: a zip archive of every file, names stored as
// given. Exits 1 when any file asked for is not in the archive.

#include <filesystem>
#include <iostream>
#include <sstream>
#include <vector>

#include "Commands.h"
#include "quillmark/compression/ZipFiles.h"

namespace qm::cli {

int RunZip(const Args& args) {
  if (args.size() < 2) {
    std::cerr << "usage: quillmark zip OUT.zip FILE...\n";
    return 2;
  }
  const std::vector<std::filesystem::path> files(args.begin() + 1, args.end());
  const ZipReport report = ZipFiles(args[0], files);
  if (report.Complete()) {
    std::cout << args[0] << ": " << report.Archived << " files\n";
    return 0;
  }
  std::istringstream lines(report.Message());
  for (std::string line; std::getline(lines, line);) std::cerr << "quillmark zip: " << line << '\n';
  if (report.Result != ZE_OK)
    std::cerr << "quillmark zip: (zip result " << report.Result << ": " << Zipper().LookupErr(report.Result) << ")\n";
  std::cerr << "quillmark zip: " << (files.size() - report.Archived) << " of " << files.size() << " files are not in "
            << args[0] << '\n';
  return 1;
}

}  // namespace qm::cli

#include "automation/IntermediateFile.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "quillmark/frame/Error.h"
#include "quillmark/frame/ErrorNumbers.h"
#include "quillmark/runtime/FileTable.h"

namespace qm {
namespace {

std::filesystem::path TempFolder() {
  for (const char* name : {"TEMP", "TMPDIR"}) {
    const char* value = std::getenv(name);
    if (value && *value) return value;
  }
  return "/tmp";
}

}  // namespace

IntermediateFile::IntermediateFile() { Create({}); }

IntermediateFile::~IntermediateFile() { Delete(); }

void IntermediateFile::SetSuffix(const std::string& SuffixIncludingDot) {
  Delete();
  Create(SuffixIncludingDot);
}

std::int32_t IntermediateFile::AssignFileNo() {
  fileNo_ = files::FreeFile();
  return fileNo_;
}

void IntermediateFile::Create(const std::string& suffix) {
  const std::filesystem::path folder = TempFolder();
  for (int n = 1;; ++n) {
    const std::filesystem::path candidate = folder / ("~tmp" + std::to_string(n) + suffix);
    if (std::filesystem::exists(candidate)) continue;
    std::ofstream create(candidate, std::ios::binary);
    if (!create) Raise(ERR_PathFileAccess);
    filename_ = candidate.string();
    fileNo_ = 0;
    return;
  }
}

void IntermediateFile::Delete() {
  std::error_code ignored;
  std::filesystem::remove(filename_, ignored);
}

}  // namespace qm

#pragma once
// Helpers shared by the test suites.

#include <filesystem>
#include <string>

namespace qm::test {

/// A fresh folder for one test, removed when the object goes.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::filesystem::path& Path() const { return path_; }
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& bytes);

/// Runs a shell command and returns what it wrote to its standard output.
std::string Output(const std::string& command);

/// Where the repository's sources are (for test data and scripts).
std::filesystem::path SourceDir();

}  // namespace qm::test

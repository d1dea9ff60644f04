#pragma once
// Helpers shared by the test suites.

#include <filesystem>
#include <string>

namespace qm::test {

/// A fresh folder for one test, removed when the object goes.
class ScratchDir {
 public:
  ScratchDir();
  /// One in `base` (MemoryFolder(), say).
  explicit ScratchDir(const std::filesystem::path& base);
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::filesystem::path& Path() const { return path_; }
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

/// /dev/shm where it can be written, else the temporary folder: a folder in
/// memory for tests that sync many files, which costs a disk seconds.
std::filesystem::path MemoryFolder();

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& bytes);

/// Runs a shell command and returns what it wrote to its standard output.
std::string Output(const std::string& command);

/// Where the repository's sources are (for test data and scripts).
std::filesystem::path SourceDir();

/// True in a build with AddressSanitizer, whose allocator (in GCC 12) takes
/// no lock around fork: a child forked while a helper thread allocates may
/// wait for that lock for ever. Tests that fork in the midst of background
/// work skip themselves there; the other builds run them.
bool SanitizerAllocator();

/// True in a build with ThreadSanitizer, which ends a child forked from a
/// process with threads as soon as that child starts a thread of its own.
/// Tests whose child may start one (directly, or through the executor) skip
/// themselves there; the other builds run them.
bool ThreadSanitizer();

}  // namespace qm::test

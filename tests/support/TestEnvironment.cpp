#include "support/TestEnvironment.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>

namespace qm::test {

ScratchDir::ScratchDir() : ScratchDir(std::filesystem::temp_directory_path()) {}

ScratchDir::ScratchDir(const std::filesystem::path& base) {
  std::random_device random;
  for (;;) {
    path_ = base / ("qm-test-" + std::to_string(getpid()) + "-" + std::to_string(random()));
    if (std::filesystem::create_directory(path_)) break;
  }
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ec);
  std::filesystem::remove_all(path_, ec);
}

std::filesystem::path MemoryFolder() {
  return ::access("/dev/shm", W_OK | X_OK) == 0 ? std::filesystem::path("/dev/shm")
                                                : std::filesystem::temp_directory_path();
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string Output(const std::string& command) {
  std::string text;
  if (FILE* pipe = ::popen(command.c_str(), "r")) {
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) text.append(buffer, n);
    ::pclose(pipe);
  }
  return text;
}

bool SanitizerAllocator() {
#if defined(__SANITIZE_ADDRESS__)
  return true;
#else
  return false;
#endif
}

bool ThreadSanitizer() {
#if defined(__SANITIZE_THREAD__)
  return true;
#else
  return false;
#endif
}

std::filesystem::path SourceDir() {
  const char* dir = std::getenv("QM_SOURCE_DIR");
  return dir ? std::filesystem::path(dir) : std::filesystem::current_path();
}

namespace {

// Every test process gets its own TEMP, settings store and home, so tests
// never touch the user's files and can run in parallel.
class PrivateEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    root_ = std::filesystem::temp_directory_path() / ("qm-env-" + std::to_string(getpid()));
    std::filesystem::create_directories(root_ / "tmp");
    std::filesystem::create_directories(root_ / "config");
    setenv("TEMP", (root_ / "tmp").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (root_ / "config").c_str(), 1);
  }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
  }

 private:
  std::filesystem::path root_;
};

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new PrivateEnvironment);

}  // namespace
}  // namespace qm::test

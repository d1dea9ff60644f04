// quillmark: the launcher of the command-line tool. It answers --version
// itself and hands every other command line to the commands module
// (commands.so in lib/quillmark, found from this program's own place), so that
// a version query loads no library of ours and the file commands load the core
// library but never the user interface (that module loads it for dialog,
// preview and print only). It uses the C library alone: no C++ run time to
// load before the module needs it.

#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "ToolVersion.h"

namespace {

// Where the commands module lies relative to this program's folder
// (QM_CLI_MODULE_DIR, from the build: "../lib/quillmark" or the like).
constexpr std::string_view kModuleFromBin = QM_CLI_MODULE_DIR "/commands.so";

int Fail(const char* what, const char* why) {
  std::fprintf(stderr, "quillmark: %s (%s)\n", what, why);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && (std::strcmp(argv[1], "--version") == 0 || std::strcmp(argv[1], "-V") == 0)) {
    const std::string_view text = qm::cli::kToolVersionText;
    const bool written = std::fwrite(text.data(), 1, text.size(), stdout) == text.size();
    return written && std::fflush(stdout) == 0 ? 0 : 1;
  }
  // /proc/self/exe names the program itself, links resolved, wherever the
  // installation was moved.
  char path[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", path, sizeof path);
  if (length <= 0 || static_cast<std::size_t>(length) >= sizeof path)
    return Fail("cannot find its own place", "/proc/self/exe");
  path[length] = '\0';
  char* slash = std::strrchr(path, '/');
  if (!slash) return Fail("cannot find its own place", path);
  const std::size_t folder = static_cast<std::size_t>(slash - path) + 1;
  if (folder + kModuleFromBin.size() >= sizeof path) return Fail("cannot find its commands", "path too long");
  std::memcpy(path + folder, kModuleFromBin.data(), kModuleFromBin.size());
  path[folder + kModuleFromBin.size()] = '\0';
  void* module = dlopen(path, RTLD_LAZY | RTLD_LOCAL);
  if (!module) return Fail("cannot load its commands", dlerror());
  using Entry = int (*)(int, char**);
  const auto entry = reinterpret_cast<Entry>(dlsym(module, "qm_cli_main"));
  if (!entry) return Fail("cannot load its commands", dlerror());
  return entry(argc, argv);
}

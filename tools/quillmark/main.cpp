// quillmark: the launcher of the command-line tool. It answers --version
// itself and hands every other command line to a module in lib/quillmark,
// found from this program's own place: the command's own module
// (commands/NAME.so) when it has one, so that `quillmark zip` maps only what
// zipping needs, else the commands module (commands.so: help, usage errors,
// and the dialog, preview and print commands, for which it loads the user
// interface). A version query loads no library of ours. It uses the C library
// alone: no C++ run time to load before the module needs it.

#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "ToolVersion.h"

namespace {

// Where the modules lie relative to this program's folder
// (QM_CLI_MODULE_DIR, from the build: "../lib/quillmark" or the like).
constexpr std::string_view kModuleDir = QM_CLI_MODULE_DIR "/";
constexpr std::string_view kCommandsModule = "commands.so";
constexpr std::string_view kOneCommandFolder = "commands/";

// A command name that may name a module of its own: lower-case letters and
// dashes, as the commands are named; anything else (an option, a path) goes
// to the commands module, which says what is wrong with it.
bool MayHaveModule(const char* name) {
  const std::size_t length = std::strlen(name);
  if (length == 0 || length > 32 || name[0] == '-') return false;
  for (const char* c = name; *c; ++c)
    if (!((*c >= 'a' && *c <= 'z') || *c == '-')) return false;
  return true;
}

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
  // path[0, folder) is this program's folder; the module's path follows it.
  const auto place = [&](std::size_t at, std::string_view part) {
    if (at + part.size() >= sizeof path) return std::string_view::npos;
    std::memcpy(path + at, part.data(), part.size());
    path[at + part.size()] = '\0';
    return at + part.size();
  };
  const std::size_t modules = place(folder, kModuleDir);
  if (modules == std::string_view::npos) return Fail("cannot find its commands", "path too long");
  void* module = nullptr;
  if (argc >= 2 && MayHaveModule(argv[1])) {
    std::size_t end = place(modules, kOneCommandFolder);
    if (end != std::string_view::npos) end = place(end, argv[1]);
    if (end != std::string_view::npos) end = place(end, ".so");
    if (end != std::string_view::npos && access(path, F_OK) == 0) {
      module = dlopen(path, RTLD_LAZY | RTLD_LOCAL);
      if (!module) return Fail("cannot load its commands", dlerror());
    }
  }
  if (!module) {
    place(modules, kCommandsModule);
    module = dlopen(path, RTLD_LAZY | RTLD_LOCAL);
  }
  if (!module) return Fail("cannot load its commands", dlerror());
  using Entry = int (*)(int, char**);
  const auto entry = reinterpret_cast<Entry>(dlsym(module, "qm_cli_main"));
  if (!entry) return Fail("cannot load its commands", dlerror());
  return entry(argc, argv);
}

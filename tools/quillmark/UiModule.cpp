#include "UiModule.h"

#include <dlfcn.h>

#include <filesystem>
#include <string>

#include "Trouble.h"

namespace qm::cli {
namespace {

// This module's own file, from the address of one of its functions.
std::filesystem::path ThisModule() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<const void*>(&ThisModule), &info) == 0 || info.dli_fname == nullptr) return {};
  return info.dli_fname;
}

}  // namespace

int RunInUi(const Invocation& call) {
  const std::string name(call.Which().Name);
  const std::filesystem::path module = ThisModule().parent_path() / "ui-commands.so";
  std::error_code ec;
  if (!std::filesystem::exists(module, ec))
    throw Trouble("this build has no user interface (quillmark::ui): " + module.string() + " is missing");
  // Kept loaded until the process ends: Qt's objects live as long as it.
  void* handle = dlopen(module.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) throw Trouble(std::string("cannot load the user interface: ") + dlerror());
  using Entry = int (*)(const Invocation&);
  const auto entry = reinterpret_cast<Entry>(dlsym(handle, "qm_cli_ui_run"));
  if (entry == nullptr) throw Trouble(std::string("cannot load the user interface: ") + dlerror());
  const int status = entry(call);
  if (status < 0) throw Trouble("the user interface has no command '" + name + "'");
  return status;
}

}  // namespace qm::cli

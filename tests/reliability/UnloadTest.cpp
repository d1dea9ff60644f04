// Closing a module that used the library, while the library's helper threads
// still wait for work: the library stays loaded (it is linked -z nodelete),
// so the threads leave in their own time, and a later fork and exit find its
// fork and exit handlers whole. This program does not link the library: the
// module it opens brings it in.

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <link.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <string>
#include <string_view>

#include "support/TestEnvironment.h"

namespace {

std::ptrdiff_t Threads() { return std::distance(std::filesystem::directory_iterator("/proc/self/task"), {}); }

// True when the library is loaded and marked never to be unloaded. Without
// the mark it often stays all the same (a C++ library with unique symbols
// is kept by the loader), but only by chance.
bool LibraryKeptForGood() {
  bool kept = false;
  dl_iterate_phdr(
      [](dl_phdr_info* info, std::size_t, void* answer) {
        if (std::string_view(info->dlpi_name).find("/libquillmark.so") == std::string_view::npos) return 0;
        for (int i = 0; i < info->dlpi_phnum; ++i) {
          if (info->dlpi_phdr[i].p_type != PT_DYNAMIC) continue;
          for (auto* entry = reinterpret_cast<const ElfW(Dyn)*>(info->dlpi_addr + info->dlpi_phdr[i].p_vaddr);
               entry->d_tag != DT_NULL; ++entry)
            if (entry->d_tag == DT_FLAGS_1 && (entry->d_un.d_val & DF_1_NODELETE) != 0)
              *static_cast<bool*>(answer) = true;
        }
        return 0;
      },
      &kept);
  return kept;
}

// The steps, in a child process; the answer is its exit status.
int OpenUseCloseForkExit(const std::string& in, const std::string& out) {
  const std::ptrdiff_t before = Threads();
  void* module = dlopen(QM_UNLOAD_MODULE, RTLD_NOW | RTLD_LOCAL);
  if (module == nullptr) return 10;
  const auto compress = reinterpret_cast<int (*)(const char*, const char*)>(dlsym(module, "qm_unload_module_compress"));
  if (compress == nullptr || compress(in.c_str(), out.c_str()) != 0) return 11;
  if (Threads() <= before) return 12;  // no helper thread: nothing tested
  if (dlclose(module) != 0) return 13;
  if (!LibraryKeptForGood()) return 14;
  // The helpers leave after their idle time; had the library gone with the
  // module, they would wake in code no longer mapped.
  while (Threads() > before) usleep(10'000);
  const pid_t child = fork();
  if (child == 0) std::exit(0);  // at-exit handlers and static destructors run
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return 15;
  return 0;
}

TEST(Unload, ClosingAModuleThatUsedTheLibraryLeavesTheProcessWhole) {
  qm::test::ScratchDir scratch;
  std::string bytes;
  for (std::uint64_t i = 0; bytes.size() < (4 << 20); ++i) bytes += std::to_string(i * 7919) + ' ';
  qm::test::WriteFile(scratch / "in.txt", bytes);

  const pid_t pid = fork();
  if (pid == 0) {
    alarm(20);  // a hang ends the child
    std::exit(OpenUseCloseForkExit(scratch / "in.txt", scratch / "out.qmz"));
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
      << (WIFSIGNALED(status) ? strsignal(WTERMSIG(status)) : "exit " + std::to_string(WEXITSTATUS(status)))
      << " (10: the module did not open, 11: it failed, 12: no helper thread ran, 13: it did not close, "
         "14: the library may be unloaded, 15: the fork failed)";
}

}  // namespace

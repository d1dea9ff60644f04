#include "utility/RunningProcesses.h"

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <utility>
#include <vector>

#include "io/System.h"
#include "quillmark/errors/ErrorNumbers.h"
#include "quillmark/frame/Frame.h"
#include "quillmark/platform/Desktop.h"

namespace qm::mdlRunningProcesses {
namespace {

// How long one wait lasts between two event pumps.
constexpr std::chrono::milliseconds kPumpInterval{5};

// A process-id directory name: digits only.
bool IsProcessId(const char* name, long& pid) {
  if (!*name) return false;
  long value = 0;
  for (const char* c = name; *c; ++c) {
    if (*c < '0' || *c > '9' || value > 1'000'000'000) return false;
    value = value * 10 + (*c - '0');
  }
  pid = value;
  return true;
}

}  // namespace

PlatformConstants GetWindowsPlatform() {
  QM_FRAME_TRY { return PLA_WindowsNT2000XP; }
  QM_FRAME_CATCH("RunningProcesses", "Public Function GetWindowsPlatform");
}

Variant GetRunningProcesses() {
  QM_FRAME_TRY {
    std::vector<std::pair<long, std::string>> found;
    DIR* proc = io::sys::OpenDir("/proc");
    if (!proc) Raise(ERR_ProcessListUnavailable);
    while (const dirent* entry = io::sys::ReadDir(proc)) {
      long pid = 0;
      if (!IsProcessId(entry->d_name, pid)) continue;
      const std::string link = std::string("/proc/") + entry->d_name + "/exe";
      char target[4096];
      const ssize_t n = io::sys::ReadLink(link.c_str(), target, sizeof target);
      if (n <= 0 || static_cast<std::size_t>(n) >= sizeof target) continue;
      found.emplace_back(pid, std::string(target, static_cast<std::size_t>(n)));
    }
    io::sys::CloseDir(proc);
    std::sort(found.begin(), found.end());
    std::vector<Variant> paths;
    paths.reserve(found.size());
    for (auto& [pid, path] : found) paths.emplace_back(std::move(path));
    return Variant(VariantArray::FromVector(std::move(paths), 0, vbString));
  }
  QM_FRAME_CATCH("RunningProcesses", "Public Function GetRunningProcesses");
}

void DoEventsWait(std::int32_t Milliseconds) {
  QM_FRAME_TRY {
    using Clock = std::chrono::steady_clock;
    const auto end = Clock::now() + std::chrono::milliseconds(std::max<std::int32_t>(Milliseconds, 0));
    for (;;) {
      platform::Current().DoEvents();
      const auto now = Clock::now();
      if (now >= end) break;
      std::this_thread::sleep_for(std::min<Clock::duration>(end - now, kPumpInterval));
    }
  }
  QM_FRAME_CATCH("RunningProcesses", "Public Sub DoEventsWait", Milliseconds);
}

}  // namespace qm::mdlRunningProcesses

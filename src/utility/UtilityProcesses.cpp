// Utility: processes, platform and identity.

#include <pwd.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "io/System.h"
#include "quillmark/Version.h"
#include "quillmark/frame/Frame.h"
#include "quillmark/utility/Utility.h"
#include "utility/ADSI.h"
#include "utility/RunningProcesses.h"

extern char** environ;

namespace qm {
namespace {

// Splits a command line the way a program's start-up code does: blanks and
// tabs separate arguments, double quotes group blanks into one, \" is a quote.
std::vector<std::string> SplitCommandLine(const std::string& line) {
  std::vector<std::string> args;
  std::string current;
  bool inArgument = false, quoted = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (c == '\\' && i + 1 < line.size() && line[i + 1] == '"') {
      current += '"';
      inArgument = true;
      ++i;
    } else if (c == '"') {
      quoted = !quoted;
      inArgument = true;
    } else if ((c == ' ' || c == '\t') && !quoted) {
      if (inArgument) args.push_back(std::move(current));
      current.clear();
      inArgument = false;
    } else {
      current += c;
      inArgument = true;
    }
  }
  if (inArgument) args.push_back(std::move(current));
  return args;
}

}  // namespace

Variant Utility::GetRunningProcesses() const {
  QM_FRAME_TRY { return mdlRunningProcesses::GetRunningProcesses(); }
  QM_FRAME_CATCH("Utility", "Public Function GetRunningProcesses");
}

PlatformConstants Utility::GetWindowsPlatform() const {
  QM_FRAME_TRY { return mdlRunningProcesses::GetWindowsPlatform(); }
  QM_FRAME_CATCH("Utility", "Public Function GetWindowsPlatform");
}

void Utility::ExecuteAndWait(const std::string& CmdLine) const {
  QM_FRAME_TRY {
    std::vector<std::string> args = SplitCommandLine(CmdLine);
    if (args.empty()) return;
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    // A program that cannot be started is not reported, as the wait on it
    // simply ends at once.
    if (::posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return;
    int status = 0;
    io::sys::WaitPid(pid, &status, 0);
  }
  QM_FRAME_CATCH("Utility", "Public Sub ExecuteAndWait", CmdLine);
}

void Utility::DoEventsWait(std::int32_t Milliseconds) const {
  QM_FRAME_TRY { mdlRunningProcesses::DoEventsWait(Milliseconds); }
  QM_FRAME_CATCH("Utility", "Public Sub DoEventsWait", Milliseconds);
}

std::string Utility::GetWindowsNTDomain() const {
  QM_FRAME_TRY { return mdlADSI::GetWindowsNTDomain(); }
  QM_FRAME_CATCH("Utility", "Public Function GetWindowsNTDomain");
}

std::string Utility::GetWindowsUserName() const {
  QM_FRAME_TRY {
    passwd entry{};
    passwd* result = nullptr;
    std::vector<char> buffer(16384);
    if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &result) != 0 || !result || !result->pw_name)
      return {};
    return result->pw_name;
  }
  QM_FRAME_CATCH("Utility", "Public Function GetWindowsUserName");
}

std::int32_t Utility::GetQMLibVerMajor() const {
  QM_FRAME_TRY { return kVersionMajor; }
  QM_FRAME_CATCH("Utility", "Public Function GetQMLibVerMajor");
}

std::int32_t Utility::GetQMLibVerMinor() const {
  QM_FRAME_TRY { return kVersionMinor; }
  QM_FRAME_CATCH("Utility", "Public Function GetQMLibVerMinor");
}

std::int32_t Utility::GetQMLibVerRevision() const {
  QM_FRAME_TRY { return kVersionPatch; }
  QM_FRAME_CATCH("Utility", "Public Function GetQMLibVerRevision");
}

std::string Utility::GetQMLibVersion() const {
  QM_FRAME_TRY {
    return std::to_string(GetQMLibVerMajor()) + "." + std::to_string(GetQMLibVerMinor()) + "." +
           std::to_string(GetQMLibVerRevision());
  }
  QM_FRAME_CATCH("Utility", "Public Function GetQMLibVersion");
}

}  // namespace qm

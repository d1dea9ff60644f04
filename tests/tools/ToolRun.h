#pragma once
// Runs the built `quillmark` tool as a user runs it, from a shell.

#include <filesystem>
#include <string>

#include "support/TestEnvironment.h"

namespace qm::test {

struct ToolRun {
  std::string Output;  // what the redirection keeps
  int Status = -1;
  std::string Errors;  // stderr, when kept apart
};

/// Runs a shell command; Output is what it printed on stdout.
inline ToolRun RunShell(const std::string& command) {
  const std::string marker = "\nexit status ";
  const std::string text = Output(command + "; printf '\\nexit status %d' $?");
  const auto at = text.rfind(marker);
  if (at == std::string::npos) return {text, -1, {}};
  return {text.substr(0, at), std::stoi(text.substr(at + marker.size())), {}};
}

/// Runs `quillmark ARGUMENTS` in `folder` (arguments pass through the shell
/// as written). `redirect` chooses what Output holds: both streams by
/// default, "2>/dev/null" for stdout, "2>&1 >/dev/null" for stderr.
inline ToolRun Quillmark(const std::filesystem::path& folder, const std::string& arguments,
                         const std::string& redirect = "2>&1") {
  return RunShell("cd '" + folder.string() + "' && '" QM_CLI_PROGRAM "' " + arguments + " " + redirect);
}

/// Runs `quillmark ARGUMENTS` in `folder` with stdout in Output and stderr
/// in Errors.
inline ToolRun QuillmarkApart(const std::filesystem::path& folder, const std::string& arguments) {
  const std::filesystem::path errors = folder / ".quillmark-stderr";
  ToolRun run = Quillmark(folder, arguments, "2>'" + errors.string() + "'");
  run.Errors = ReadFile(errors.string());
  return run;
}

/// Runs `quillmark ARGUMENTS` in `folder` on a pseudo-terminal (script(1)):
/// stdout and stderr both go to the terminal, and Output holds what it showed.
/// ARGUMENTS must not hold a double quote.
inline ToolRun QuillmarkOnTerminal(const std::filesystem::path& folder, const std::string& arguments) {
  return RunShell("cd '" + folder.string() + "' && script -qec \"'" QM_CLI_PROGRAM "' " + arguments +
                  "\" /dev/null </dev/null");
}

}  // namespace qm::test

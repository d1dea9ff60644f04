// Runs one command of the `quillmark` tool on its arguments, and turns what it
// raises into the tool's messages and exit status.

#include <algorithm>
#include <iostream>
#include <string>
#include <vector>

#include "Commands.h"
#include "Trouble.h"
#include "quillmark/errors/Error.h"

namespace qm::cli {

int RunCommand(const Command& command, std::span<const std::string> args) {
  try {
    const Invocation call(command, args);
    if (call.HelpAsked()) {
      PrintHelp(command, std::cout);
      return 0;
    }
    return command.Run(call);
  } catch (const UsageError& e) {
    PrintUsageError(command, e, std::cerr);
    return 2;
  } catch (const Trouble& e) {
    std::cerr << "quillmark " << command.Name << ": " << e.what() << '\n';
  } catch (const qm::Error& e) {
    std::cerr << "quillmark " << command.Name << ": " << e.Description() << " (error " << e.Number() << ")\n"
              << "  source: " << e.Source() << '\n';
  } catch (const std::exception& e) {
    std::cerr << "quillmark " << command.Name << ": " << e.what() << '\n';
  }
  return 1;
}

int RunOneCommand(const Command& command, int argc, char** argv) {
  const std::vector<std::string> args(argv + std::min(argc, 2), argv + argc);
  return RunCommand(command, args);
}

}  // namespace qm::cli

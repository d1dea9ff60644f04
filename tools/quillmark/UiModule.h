#pragma once
// The commands that show windows or print (dialog, preview, print) run in the
// ui module, which links the Qt user interface: the commands module loads it
// the first time one of them runs, so the file commands never load Qt.

#include "CommandLine.h"

namespace qm::cli {

/// Runs `call` in the ui module (ui-commands.so beside this module). Raises
/// Trouble when the module is missing (a build without the user interface)
/// or cannot be loaded, naming the reason.
int RunInUi(const Invocation& call);

}  // namespace qm::cli

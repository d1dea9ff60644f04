#pragma once
// The commands of the `quillmark` tool that need the user interface. They
// live in the ui module (ui-commands.so), which the commands module loads
// only when one of them is asked for (UiModule.h); the command line reaches
// them parsed and checked.

#include "../CommandLine.h"

namespace qm::cli {

/// quillmark dialog KIND ...
int ShowDialog(const Invocation& call);
/// quillmark preview PAGE.html
int ShowPreview(const Invocation& call);
/// quillmark print PAGE.html [--pdf OUT]
int PrintPage(const Invocation& call);

}  // namespace qm::cli

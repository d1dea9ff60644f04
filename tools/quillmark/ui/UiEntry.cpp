// The ui module's one entry: runs the command the invocation names.

#include <string_view>

#include "UiCommands.h"
#include "quillmark/Export.h"

/// Runs the ui command `call` names (dialog, preview or print); returns its
/// exit status, or -1 when the module has no such command. Failures leave as
/// the exceptions the commands module's dispatch reports.
extern "C" QUILLMARK_EXPORT int qm_cli_ui_run(const qm::cli::Invocation& call) {
  using namespace qm::cli;
  const std::string_view name = call.Which().Name;
  if (name == "dialog") return ShowDialog(call);
  if (name == "preview") return ShowPreview(call);
  if (name == "print") return PrintPage(call);
  return -1;
}

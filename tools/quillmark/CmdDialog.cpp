// quillmark dialog KIND ...: shows one of the library's dialogs and prints
// what it returns, so each can be tried from a shell. The usage is checked
// here; the dialog itself is shown by the ui module (ui/DialogWindows.cpp).

#include <algorithm>
#include <iostream>
#include <iterator>

#include "Commands.h"
#include "DialogNumbers.h"
#include "UiModule.h"

namespace qm::cli {
namespace {

// The options of every kind of dialog; each kind reads those it knows.
constexpr Option kOptions[] = {
    {"title", 0, "T", "the window title (messagebox, open, save)"},
    {"icon", 0, "ICON", "info, exclamation, question or critical (messagebox)"},
    {"buttons", 0, "LIST", "button captions separated by commas, e.g. Yes,No,Cancel (messagebox)"},
    {"default", 0, "N", "the default button, value or item (messagebox, slider, choice)"},
    {"seconds", 0, "N", "close after N seconds with the default button (messagebox)"},
    {"dont-show-again", 0, {}, "offer \"don't show this again\" (messagebox)"},
    {"app", 0, "NAME", "the application the choice is remembered for (messagebox, clear-dismissed)"},
    {"description", 0, "D", "the text above the slider (slider)"},
    {"restrict", 0, {}, "allow only whole steps (slider)"},
    {"tick", 0, "N", "the step between ticks (slider)"},
    {"filter", 0, "F", "file types as 'Text|*.txt|All|*.*' (open, save)"},
    {"ext", 0, "EXT", "the default extension with --filter (open, save)"},
    {"index", 0, "N", "the filter chosen first (save)"},
    {"file", 0, "NAME", "the file name offered (save with --filter)"},
};

constexpr std::string_view kIcons[] = {"info", "exclamation", "question", "critical"};

constexpr std::string_view kKinds[] = {"messagebox", "clear-dismissed", "slider", "choice", "password", "open", "save",
                                       "color"};

int Run(const Invocation& call) {
  const std::string kind = call.Operand(0);
  if (std::find(std::begin(kKinds), std::end(kKinds), kind) == std::end(kKinds))
    call.Wrong("unknown dialog '" + kind + "'");
  if (const std::string icon = call.Value("icon", "info");
      std::find(std::begin(kIcons), std::end(kIcons), icon) == std::end(kIcons))
    call.Wrong("--icon must be info, exclamation, question or critical, not '" + icon + "'");
  CheckedNumbers(call, kind);
  return RunInUi(call);
}

}  // namespace

extern const Command kDialog{
    .Name = "dialog",
    .Operands = "KIND [ARG]...",
    .Summary = "Show one of the library's dialogs and print what it returns (needs a display).",
    .MinOperands = 1,
    .MaxOperands = Command::kAny,
    .Options = kOptions,
    .Details =
        "KIND and its arguments:\n"
        "  messagebox [MESSAGE]                  an extended message box\n"
        "  clear-dismissed                       forget every \"don't show again\" of --app\n"
        "  slider [MIN [MAX [CAPTION]]]          a value on a slider\n"
        "  choice [CAPTION [ITEM]...]            one item of a list\n"
        "  password [TEXT [TITLE]]               a password, not echoed\n"
        "  open [EXTENSION DESCRIPTION TITLE]    a file to open\n"
        "  save [EXTENSION DESCRIPTION TITLE [DEFAULTFILE]]\n"
        "                                        a file to save as\n"
        "  color [DEFAULT]                       a colour: red + 256 x green + 65536 x blue\n\n"
        "Examples:\n"
        "  quillmark dialog messagebox 'Save changes?' --buttons=Yes,No,Cancel --icon=question\n"
        "  quillmark dialog slider 0 10 Volume --default=5\n"
        "  quillmark dialog open --filter='Text|*.txt|All|*.*'\n",
    .Run = Run,
    .ShowsProgress = false,
};

}  // namespace qm::cli

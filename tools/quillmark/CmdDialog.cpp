// quillmark dialog KIND ...: shows one of the library's dialogs and prints
// what it returns, so each can be tried from a shell.

#include <algorithm>
#include <climits>
#include <cstdint>
#include <iostream>
#include <iterator>

#include "Commands.h"
#include "quillmark/runtime/Conversions.h"
#include "quillmark/runtime/Variant.h"

#ifdef QM_HAVE_UI
#include "quillmark/ui/Dialog.h"
#endif

namespace qm::cli {
namespace {

#ifdef QM_HAVE_UI
std::vector<Variant> SplitList(const std::string& text) {
  std::vector<Variant> items;
  std::size_t start = 0;
  for (;;) {
    const auto comma = text.find(',', start);
    items.emplace_back(text.substr(start, comma - start));
    if (comma == std::string::npos) return items;
    start = comma + 1;
  }
}

ui::IconConstants IconOf(const std::string& name) {
  if (name == "exclamation") return ui::ICO_Exclamation;
  if (name == "question") return ui::ICO_Question;
  if (name == "critical") return ui::ICO_Critical;
  return ui::ICO_Information;
}
#endif

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

constexpr std::string_view kKinds[] = {"messagebox", "clear-dismissed", "slider", "choice",
                                       "password",   "open",            "save",   "color"};

// The numbers a dialog takes, checked before any window opens.
struct Numbers {
  std::int32_t Seconds = 0;
  std::int16_t Tick = 1;
  std::int32_t Index = 1;
  double Low = 0, High = 100, Default = 0;
  std::int32_t Colour = -1;  // none given
};

Numbers CheckedNumbers(const Invocation& call, const std::string& kind) {
  const auto whole = [&](std::string_view option, std::string_view fallback, std::int64_t low, std::int64_t high) {
    return call.Whole(call.Value(option, fallback), "--" + std::string(option), low, high);
  };
  Numbers n;
  n.Seconds = static_cast<std::int32_t>(whole("seconds", "0", 0, INT32_MAX));
  n.Tick = static_cast<std::int16_t>(whole("tick", "1", INT16_MIN, INT16_MAX));
  n.Index = static_cast<std::int32_t>(whole("index", "1", 0, INT32_MAX));
  if (kind == "slider") {
    n.Low = call.Number(call.Operand(1, "0"), "MIN");
    n.High = call.Number(call.Operand(2, "100"), "MAX");
    n.Default = call.Number(call.Value("default", "0"), "--default");
  } else {
    n.Default = static_cast<double>(whole("default", "0", 0, INT16_MAX));
  }
  if (kind == "color" && call.Operands().size() > 1)
    n.Colour = static_cast<std::int32_t>(call.Whole(call.Operand(1), "DEFAULT", 0, 0xFFFFFF));
  return n;
}

int Run(const Invocation& call) {
  const std::string kind = call.Operand(0);
  if (std::find(std::begin(kKinds), std::end(kKinds), kind) == std::end(kKinds))
    call.Wrong("unknown dialog '" + kind + "'");
  if (const std::string icon = call.Value("icon", "info");
      std::find(std::begin(kIcons), std::end(kIcons), icon) == std::end(kIcons))
    call.Wrong("--icon must be info, exclamation, question or critical, not '" + icon + "'");
  const Numbers n = CheckedNumbers(call, kind);
#ifndef QM_HAVE_UI
  (void)n;
  std::cerr << "quillmark: built without the user interface (QUILLMARK_UI=OFF): no dialogs\n";
  return 1;
#else
  // The operands after KIND, and an option's value.
  const auto at = [&](std::size_t i, std::string_view fallback = {}) { return call.Operand(i + 1, fallback); };
  const auto get = [&](std::string_view option, std::string_view fallback = {}) {
    return call.Value(option, fallback);
  };
  ui::Dialog dialog;
  if (kind == "messagebox") {
    Variant captions = VariantArray::FromVector(SplitList(get("buttons", "OK")));
    std::cout << dialog.MessageBox(at(0, "Hello from the Quillmark Library."), get("title", "Quillmark"),
                                   IconOf(get("icon", "info")), captions, call.Has("dont-show-again"), n.Seconds,
                                   static_cast<std::int32_t>(n.Default), get("app", "Wrenfold"))
              << '\n';
  } else if (kind == "clear-dismissed") {
    dialog.ClearAllDismissFor(get("app", "Wrenfold"));
  } else if (kind == "slider") {
    std::cout << FormatGeneral(dialog.Slider(n.Low, n.High, at(2, "Input"), Variant(n.Default), std::nullopt,
                                             call.Has("restrict"), n.Tick, 5, get("description")))
              << '\n';
  } else if (kind == "choice") {
    const auto& operands = call.Operands();
    std::vector<Variant> items(operands.size() > 2 ? operands.begin() + 2 : operands.end(), operands.end());
    const Variant chosen = dialog.Choice(VariantArray::FromVector(std::move(items)), at(0, "Select"),
                                         static_cast<std::int16_t>(n.Default));
    std::cout << (chosen.IsEmpty() ? std::string("(cancelled)") : CStr(chosen)) << '\n';
  } else if (kind == "password") {
    std::cout << dialog.PasswordInputBox(at(0, "Password:"), at(1)) << '\n';
  } else if (kind == "open") {
    std::cout << (call.Has("filter") ? dialog.OpenFilenameEx(get("ext", "txt"), get("filter"), get("title", "Open"))
                                     : dialog.OpenFilename(at(0, "txt"), at(1, "Text files"), at(2, "Open")))
              << '\n';
  } else if (kind == "save") {
    if (call.Has("filter")) {
      std::int32_t index = n.Index;
      const std::string file =
          dialog.SaveAsFilenameEx(get("ext", "txt"), get("filter"), get("title", "Save As"), index, get("file"));
      std::cout << file << "\nfilter " << index << '\n';
    } else {
      std::cout << dialog.SaveAsFilename(at(0, "txt"), at(1, "Text files"), at(2, "Save As"), at(3)) << '\n';
    }
  } else {  // color
    const std::int32_t colour = n.Colour < 0 ? dialog.SelectColor() : dialog.SelectColor(Variant(n.Colour));
    std::cout << colour << '\n';
  }
  return 0;
#endif
}

}  // namespace

extern const Command kDialog{
    .Name = "dialog",
    .Operands = "KIND [ARG]...",
    .Summary = "Show one of the library's dialogs and print what it returns (needs a display).",
    .MinOperands = 1,
    .MaxOperands = Command::kAny,
    .Options = kOptions,
    .Details = "KIND and its arguments:\n"
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

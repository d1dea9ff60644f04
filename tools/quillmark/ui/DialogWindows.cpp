// quillmark dialog, in the ui module: shows the dialog the checked command
// line asks for and prints what it returns.

#include <cstdint>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "../DialogNumbers.h"
#include "UiCommands.h"
#include "quillmark/ui/Dialog.h"
#include "quillmark/values/Conversions.h"
#include "quillmark/values/Variant.h"

namespace qm::cli {
namespace {

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
}  // namespace

int ShowDialog(const Invocation& call) {
  const std::string kind = call.Operand(0);
  const Numbers n = CheckedNumbers(call, kind);
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
}

}  // namespace qm::cli

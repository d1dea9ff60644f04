// quillmark dialog KIND ...: shows one of the library's dialogs and prints
// what it returns, so each can be tried from a shell.

#include <iostream>
#include <map>

#include "Commands.h"
#include "quillmark/runtime/Conversions.h"
#include "quillmark/runtime/Variant.h"

#ifdef QM_HAVE_UI
#include "quillmark/ui/Dialog.h"
#endif

namespace qm::cli {
namespace {

// "--name=value" options, and the other arguments in order.
struct Parsed {
  std::vector<std::string> Positional;
  std::map<std::string, std::string> Options;
  std::string Get(const std::string& name, const std::string& fallback = "") const {
    auto it = Options.find(name);
    return it == Options.end() ? fallback : it->second;
  }
  std::string At(std::size_t i, const std::string& fallback = "") const {
    return i < Positional.size() ? Positional[i] : fallback;
  }
};

[[maybe_unused]] Parsed Parse(const Args& args, std::size_t from) {
  Parsed parsed;
  for (std::size_t i = from; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a.starts_with("--")) {
      const auto eq = a.find('=');
      parsed.Options[a.substr(2, eq == std::string::npos ? std::string::npos : eq - 2)] =
          eq == std::string::npos ? "yes" : a.substr(eq + 1);
    } else {
      parsed.Positional.push_back(a);
    }
  }
  return parsed;
}

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

constexpr const char* kHelp =
    "quillmark dialog messagebox MESSAGE [--title=T] [--icon=info|exclamation|question|critical]\n"
    "                 [--buttons=Yes,No,Cancel] [--default=N] [--seconds=N] [--dont-show-again] [--app=NAME]\n"
    "quillmark dialog clear-dismissed [--app=NAME]\n"
    "quillmark dialog slider MIN MAX [CAPTION] [--default=V] [--description=D] [--restrict] [--tick=N]\n"
    "quillmark dialog choice CAPTION ITEM... [--default=N]\n"
    "quillmark dialog password [TEXT] [TITLE]\n"
    "quillmark dialog open [EXTENSION DESCRIPTION TITLE] | open --filter='Text|*.txt|All|*.*' [--title=T]\n"
    "quillmark dialog save [EXTENSION DESCRIPTION TITLE [DEFAULTFILE]] | save --filter=F [--index=N]\n"
    "quillmark dialog color [DEFAULT]";

}  // namespace

int RunDialog(const Args& args) {
  if (args.empty() || args[0] == "--help") {
    std::cerr << "usage:\n" << kHelp << '\n';
    return 2;
  }
#ifndef QM_HAVE_UI
  std::cerr << "quillmark: built without the user interface (QUILLMARK_UI=OFF): no dialogs\n";
  return 1;
#else
  const std::string& kind = args[0];
  const Parsed p = Parse(args, 1);
  ui::Dialog dialog;
  if (kind == "messagebox") {
    Variant captions = VariantArray::FromVector(SplitList(p.Get("buttons", "OK")));
    std::cout << dialog.MessageBox(p.At(0, "Hello from the Quillmark Library."), p.Get("title", "Quillmark"),
                                   IconOf(p.Get("icon", "info")), captions, p.Options.contains("dont-show-again"),
                                   CLng(Variant(p.Get("seconds", "0"))), CLng(Variant(p.Get("default", "0"))),
                                   p.Get("app", "Wrenfold"))
              << '\n';
  } else if (kind == "clear-dismissed") {
    dialog.ClearAllDismissFor(p.Get("app", "Wrenfold"));
  } else if (kind == "slider") {
    std::cout << FormatGeneral(dialog.Slider(CDbl(Variant(p.At(0, "0"))), CDbl(Variant(p.At(1, "100"))),
                                             p.At(2, "Input"), Variant(CDbl(Variant(p.Get("default", "0")))),
                                             std::nullopt, p.Options.contains("restrict"),
                                             static_cast<std::int16_t>(CLng(Variant(p.Get("tick", "1")))), 5,
                                             p.Get("description")))
              << '\n';
  } else if (kind == "choice") {
    std::vector<Variant> items(p.Positional.size() > 1 ? p.Positional.begin() + 1 : p.Positional.end(),
                               p.Positional.end());
    const Variant chosen = dialog.Choice(VariantArray::FromVector(std::move(items)), p.At(0, "Select"),
                                         static_cast<std::int16_t>(CLng(Variant(p.Get("default", "0")))));
    std::cout << (chosen.IsEmpty() ? std::string("(cancelled)") : CStr(chosen)) << '\n';
  } else if (kind == "password") {
    std::cout << dialog.PasswordInputBox(p.At(0, "Password:"), p.At(1)) << '\n';
  } else if (kind == "open") {
    std::cout << (p.Options.contains("filter")
                      ? dialog.OpenFilenameEx(p.Get("ext", "txt"), p.Get("filter"), p.Get("title", "Open"))
                      : dialog.OpenFilename(p.At(0, "txt"), p.At(1, "Text files"), p.At(2, "Open")))
              << '\n';
  } else if (kind == "save") {
    if (p.Options.contains("filter")) {
      std::int32_t index = CLng(Variant(p.Get("index", "1")));
      const std::string file =
          dialog.SaveAsFilenameEx(p.Get("ext", "txt"), p.Get("filter"), p.Get("title", "Save As"), index, p.Get("file"));
      std::cout << file << "\nfilter " << index << '\n';
    } else {
      std::cout << dialog.SaveAsFilename(p.At(0, "txt"), p.At(1, "Text files"), p.At(2, "Save As"), p.At(3)) << '\n';
    }
  } else if (kind == "color") {
    const std::int32_t colour = p.Positional.empty() ? dialog.SelectColor() : dialog.SelectColor(Variant(CLng(Variant(p.At(0)))));
    std::cout << colour << '\n';
  } else {
    std::cerr << "quillmark: unknown dialog '" << kind << "'\nusage:\n" << kHelp << '\n';
    return 2;
  }
  return 0;
#endif
}

}  // namespace qm::cli

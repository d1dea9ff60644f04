// quillmark xml-check FILE [OUT]: loads an XML file's root element and saves
// it back (to OUT, or over FILE), reporting what it found.

#include <iostream>
#include <optional>

#include "Commands.h"
#include "Trouble.h"
#include "quillmark/automation/XmlQuery.h"
#include "quillmark/errors/Error.h"

namespace qm::cli {
namespace {

int Run(const Invocation& call) {
  const std::string in = call.Operand(0);
  const std::string out = call.Operand(1, in);
  std::optional<XmlElement> root;
  try {
    root = LoadXml(in);
  } catch (const Error& e) {
    // LoadXml's own refusal of the file's contents, with the parser's words.
    if (e.code() != errc::parse_error) throw Trouble(Explain(e, {in}));
    const std::string why = WhyNotReadable(in);
    throw Trouble(why.empty() ? e.Description() : why);
  }
  try {
    root->Save(out);
  } catch (const Error& e) {
    // Only the folder's sync failed: the file written is there.
    if (e.Description().find("new file is in place") != std::string::npos && WhyNotWritable(out).empty())
      throw Trouble("saved " + out +
                    ", but its folder could not be synced: a crash soon after could bring back the old file");
    // Anything else in the library's words, which name the file and the
    // cause (the system's reason for a failed write, or what in the tree
    // cannot be written as XML); the old file stays.
    throw Trouble(e.Description() + " (the old file, if any, is unchanged)");
  }
  std::cout << in << ": root element <" << root->Name() << "> with " << root->ChildCount()
            << " child elements; saved to " << out << '\n';
  return 0;
}

}  // namespace

extern const Command kXmlCheck{
    .Name = "xml-check",
    .Operands = "FILE [OUT]",
    .Summary = "Load the XML file FILE and save it back in UTF-8, to OUT or over FILE.",
    .MinOperands = 1,
    .MaxOperands = 2,
    .Options = {},
    .Details =
        "Prints the root element and how many child elements it has. A file that is\n"
        "not well-formed fails with the line, column and reason, and is left as it\n"
        "was; the saved file replaces the old one as a whole. Nothing the file refers\n"
        "to (an external DTD or entity) is ever read.\n\n"
        "Examples:\n"
        "  quillmark xml-check settings.xml\n"
        "  quillmark xml-check legacy.xml clean.xml\n",
    .Run = Run,
    .ShowsProgress = false,
};

}  // namespace qm::cli

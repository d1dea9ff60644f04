// quillmark xml-check FILE [OUT]: loads an XML file through the XML wrapper
// and saves it back (to OUT, or over FILE), reporting what it found.

#include <iostream>

#include "Commands.h"
#include "Trouble.h"
#include "quillmark/automation/XML.h"

namespace qm::cli {

int RunXmlCheck(const Args& args) {
  if (args.empty() || args.size() > 2) {
    std::cerr << "usage: quillmark xml-check FILE [OUT]\n";
    return 2;
  }
  const std::string& in = args[0];
  const std::string& out = args.size() == 2 ? args[1] : in;
  XML doc;
  if (!WithFiles({in}, {}, [&] { return doc.LoadFile(in); })) {
    const std::string why = WhyNotReadable(in);
    throw Trouble(why.empty() ? in + " is empty or not well-formed XML" : why);
  }
  auto root = doc.GetNextTag();
  if (!doc.SaveFile(out)) {
    const std::string why = WhyNotWritable(out);
    throw Trouble(why.empty() ? "could not save " + out + " (writing it failed; the old file, if any, is unchanged)"
                              : why);
  }
  std::cout << in << ": root element <" << root->Name() << "> with " << root->ChildCount()
            << " child elements; saved to " << out << '\n';
  return 0;
}

}  // namespace qm::cli

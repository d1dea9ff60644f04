// quillmark xml-check FILE [OUT]: loads an XML file through the XML wrapper
// and saves it back (to OUT, or over FILE), reporting what it found.

#include <iostream>

#include "Commands.h"
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
  if (!doc.LoadFile(in)) {
    std::cerr << "quillmark: " << in << " is empty or not well-formed XML\n";
    return 1;
  }
  auto root = doc.GetNextTag();
  if (!doc.SaveFile(out)) {
    std::cerr << "quillmark: could not save " << out << '\n';
    return 1;
  }
  std::cout << in << ": root element <" << root->Name() << "> with " << root->ChildCount()
            << " child elements; saved to " << out << '\n';
  return 0;
}

}  // namespace qm::cli

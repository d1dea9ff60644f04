// XML.LoadFile of a 50 MB document against pugixml's own load_file of the
// same file; both include releasing the tree.

#include <fstream>
#include <pugixml.hpp>
#include <random>

#include "quillmark/automation/XML.h"
#include "support/BenchRow.h"

int main() {
  const std::string path = qm::bench::ScratchDir("xml") + "/catalog.xml";
  {
    std::ofstream out(path, std::ios::binary);
    std::mt19937 random(11);
    out << "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<catalog>\n";
    for (long n = 1; out.tellp() < 50L * 1024 * 1024; ++n) {
      out << "  <item id=\"" << n << "\" kind=\"k" << n % 7 << "\"><name>Item " << n
          << " &amp; more</name><price>" << random() % 100000 / 100.0 << "</price><tags><tag>a" << n % 13
          << "</tag><tag>b" << n % 5 << "</tag></tags><note>Some longer text for item " << n
          << " with several words in it.</note></item>\n";
    }
    out << "</catalog>\n";
  }
  std::int32_t oursItems = 0, peerItems = 0;
  qm::bench::Contender ours{"XML.LoadFile", [&] {
                              qm::XML doc;
                              doc.LoadFile(path);
                              oursItems = doc.GetNextTag()->ChildCount("item");
                            }};
  qm::bench::Contender peer{"pugixml load_file", [&] {
                              pugi::xml_document doc;
                              doc.load_file(path.c_str());
                              peerItems = 0;
                              for (auto item : doc.document_element().children("item")) (void)item, ++peerItems;
                            }};
  qm::bench::RunRow("xml", 1.05, ours, {peer}, 5);
  if (oursItems != peerItems || oursItems == 0) qm::bench::Detail("MISMATCH: the two loaders saw different documents");
  return 0;
}

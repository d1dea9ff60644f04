// XML.LoadFile of a 50 MB document against libxml2 reading the same file
// into its tree (xmlReadFile, entities substituted, nothing fetched); both
// include releasing the tree. pugixml's load_file, which does not check
// well-formedness, is timed beside for a detail line.

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <pugixml.hpp>
#include <random>
#include <sstream>
#include <vector>

#include "quillmark/automation/XML.h"
#include "support/BenchRow.h"

int main() {
  const std::string path = qm::bench::ScratchDir("xml") + "/catalog.xml";
  {
    std::ofstream out(path, std::ios::binary);
    std::mt19937 random(11);
    out << "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<catalog>\n";
    for (long n = 1; out.tellp() < 50L * 1024 * 1024; ++n) {
      out << "  <item id=\"" << n << "\" kind=\"k" << n % 7 << "\"><name>Item " << n << " &amp; more</name><price>"
          << random() % 100000 / 100.0 << "</price><tags><tag>a" << n % 13 << "</tag><tag>b" << n % 5
          << "</tag></tags><note>Some longer text for item " << n << " with several words in it.</note></item>\n";
    }
    out << "</catalog>\n";
  }
  std::int32_t oursItems = 0, peerItems = 0;
  qm::bench::Contender ours{"XML.LoadFile", [&] {
                              qm::XML doc;
                              doc.LoadFile(path);
                              oursItems = doc.GetNextTag()->ChildCount("item");
                            }};
  qm::bench::Contender peer{"libxml2 xmlReadFile", [&] {
                              xmlDocPtr doc = xmlReadFile(path.c_str(), nullptr, XML_PARSE_NOENT | XML_PARSE_NONET);
                              peerItems = 0;
                              for (xmlNodePtr n = doc ? xmlDocGetRootElement(doc)->children : nullptr; n; n = n->next)
                                if (n->type == XML_ELEMENT_NODE) ++peerItems;
                              xmlFreeDoc(doc);
                            }};
  const qm::bench::RowResult row = qm::bench::RunRow("xml", 0.8, ours, {peer}, 3);
  if (oursItems != peerItems || oursItems == 0) qm::bench::Detail("MISMATCH: the two loaders saw different documents");
  std::vector<double> pugiSeconds;
  for (int i = 0; i < 3; ++i) {
    const auto start = std::chrono::steady_clock::now();
    pugi::xml_document doc;
    doc.load_file(path.c_str());
    pugiSeconds.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  std::sort(pugiSeconds.begin(), pugiSeconds.end());
  std::ostringstream pugi;
  pugi << "ratio to pugixml load_file (no well-formedness check): " << row.OursSeconds / pugiSeconds[1];
  qm::bench::Detail(pugi.str());
  return 0;
}

#pragma once
// Reads an XML document with expat into a pugixml tree.
//
// The tree keeps what a conformant non-validating parser reports: elements,
// attributes (with the defaults and normalisation of the internal DTD subset),
// text with internal entities and character references expanded, comments and
// processing instructions inside the root element. Three node kinds carry
// more than pugixml's usual meaning (pugixml allows only elements, text,
// comments and processing instructions inside an element; the names below
// are no XML name, so no instruction read can take them):
//   - a processing instruction named "&" + name: a reference to an entity the
//     parser does not read (declared in an external DTD, or external itself).
//   - a processing instruction named "!DOCTYPE" as the root element's first
//     child: the document type declaration, from its name to the closing '>'
//     exclusive, the internal subset as written.
// CDATA sections are read as plain text.
// Nothing is ever fetched: no external DTD, no external entity. Entity
// expansion is bounded by expat's amplification limit.

#include <cstddef>
#include <string>

#include <pugixml.hpp>

namespace qm::detail {

inline constexpr const char* XmlDoctypeMark = "!DOCTYPE";
inline constexpr const char* XmlReferenceMark = "&";

/// True for the instruction that stands for an entity reference.
inline bool IsXmlReference(const pugi::xml_node& node) { return node.type() == pugi::node_pi && node.name()[0] == '&'; }
/// True for the instruction that holds the document type declaration.
inline bool IsXmlDoctype(const pugi::xml_node& node) { return node.type() == pugi::node_pi && node.name()[0] == '!'; }

/// The first node of the subtree at `root` (root first, then depth first in
/// document order) for which `stop` is true; an empty node when there is none.
/// Iterative, so a deep tree cannot overflow the stack.
template <class Stop>
pugi::xml_node FindInSubtree(pugi::xml_node root, Stop stop) {
  pugi::xml_node node = root;
  for (;;) {
    if (stop(node)) return node;
    if (pugi::xml_node child = node.first_child()) {
      node = child;
      continue;
    }
    while (node != root && !node.next_sibling()) node = node.parent();
    if (node == root) return {};
    node = node.next_sibling();
  }
}

struct XmlReadResult {
  pugi::xml_node Root;  // the document's root element, appended to the document; empty on failure
  std::string Error;    // "line L, column C: reason" on failure
};

/// Parses `size` bytes into top-level nodes of `doc`. With `utf8Text` the
/// bytes are taken as UTF-8 whatever the declaration says; otherwise the
/// byte-order mark and declaration decide (UTF-8, UTF-16, ISO-8859-1 and
/// US-ASCII directly, any other encoding through the system's iconv). On
/// failure nothing stays in `doc`.
XmlReadResult ReadXml(pugi::xml_document& doc, const char* data, std::size_t size, bool utf8Text);

}  // namespace qm::detail

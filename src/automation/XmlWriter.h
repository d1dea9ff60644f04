#pragma once
// Writes an XmlTree back as XML text.
//
// Elements whose children are elements, comments and processing instructions
// only are indented two blanks a level (up to 64 levels, then written
// without indentation); an element with text or entity references is written
// as it stands, its whole subtree included, so no white space is added to
// content. Entity references are written as "&name;". The document type
// declaration is written as it was read, before the element that holds it,
// and before any element of that document written on its own that holds an
// entity reference (under that element's name), so that the text stays
// well-formed.

#include <functional>
#include <string>

#include "automation/XmlTree.h"

namespace qm::detail {

/// Appends `node` with its subtree to `out`, ending with a line feed. When
/// `drain` is set it is called whenever `out` has grown large, and may take
/// (and clear) what has been written so far. With `check`, the writing stops
/// at the first name or text that would not read back as XML 1.0 (a name
/// set that is no XML name, a character XML does not allow, an entity
/// reference without its document type), and the result says which; ""
/// when everything was written.
std::string WriteXml(const XmlTree& tree, XmlId node, std::string& out,
                     const std::function<void(std::string&)>& drain = {}, bool check = false);

/// True for an XML name (the fifth edition's name characters).
bool IsXmlName(std::string_view name);

}  // namespace qm::detail

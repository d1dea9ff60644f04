#pragma once
// Writes a pugixml tree filled by XmlReader back as XML text.
//
// Elements whose children are elements, comments and processing instructions
// only are indented two blanks a level (up to 64 levels, then written
// without indentation); an element with text or entity references is written
// as it stands, its whole subtree included, so no white space is added to
// content. Entity references the reader kept are written as "&name;". The
// document type declaration is written before the element that holds it, and
// before any element of that document saved on its own that holds an entity
// reference (under that element's name), so that the text stays
// well-formed.

#include <functional>
#include <string>

#include <pugixml.hpp>

namespace qm::detail {

/// Appends `node` with its subtree to `out`, ending with a line feed. When
/// `drain` is set it is called whenever `out` has grown large, and may take
/// (and clear) what has been written so far.
void WriteXml(pugi::xml_node node, std::string& out, const std::function<void(std::string&)>& drain = {});

}  // namespace qm::detail

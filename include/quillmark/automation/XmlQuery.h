#pragma once

/// @file
/// Loading and querying XML over standard types.
///
///     qm::XMLPtr orders = qm::LoadXml("orders.xml");         // the root element
///     for (const qm::XMLPtr& order : qm::XmlFindAll(*orders, "order"))
///       total += std::stod(order->ChildValue("amount", "0"));
///
/// The elements handed out are qm::XML wrappers of the loaded tree, so every
/// reading and editing member of qm::XML works on them; a change through one
/// is seen through the others. qm::XML::SaveFile writes an element back.

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "quillmark/Export.h"
#include "quillmark/automation/XML.h"

namespace qm {

/// The root element of an XML file. A missing file raises 53; an empty file,
/// or one that is no well-formed XML, raises 9999 with errc::parse_error and
/// "<file> is empty or is not well-formed XML: " and the parser's message.
QUILLMARK_EXPORT XMLPtr LoadXml(const std::filesystem::path& file);

/// The root element of XML text. Text that does not parse raises 9999 with
/// errc::parse_error and the parser's message (XML::LoadFromString raises
/// 11000 with the same message).
QUILLMARK_EXPORT XMLPtr ParseXml(const std::string& text);

/// The child elements of `element` tagged `tag` (every child when `tag` is
/// empty), in document order.
QUILLMARK_EXPORT std::vector<XMLPtr> XmlChildren(const XML& element, const std::string& tag = {});

/// The elements reached from `element` by the tags of `path`, separated by
/// "/" ("order/line": every line of every order), in document order. An
/// empty path gives no elements.
QUILLMARK_EXPORT std::vector<XMLPtr> XmlFindAll(const XML& element, std::string_view path);

/// The first element XmlFindAll would give, or nullptr.
QUILLMARK_EXPORT XMLPtr XmlFind(const XML& element, std::string_view path);

}  // namespace qm

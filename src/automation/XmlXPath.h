#pragma once
// XPath 1.0 over the library's XML tree, evaluated by libxml2's engine.
//
// Each query mirrors the top-level element holding the context (with its
// whole subtree) into a libxml2 document built node by node, evaluates the
// expression there and maps element results back by the tree's node numbers.
// So a query costs a walk of that document and memory of its size; nothing
// is fetched and no file is read (the core library has no document()).
//
// Names match as written: "a:b" finds elements written a:b whatever URI the
// prefix is bound to, and a default namespace does not hide unprefixed names.
// Comments and processing instructions are nodes; the document type
// declaration and unexpanded entity references are not.

#include <string>
#include <string_view>
#include <vector>

#include "automation/XmlTree.h"

namespace qm::detail {

/// The elements the node-set `xpath` gives with `context` (an element of
/// `tree`) as context node, in document order; nodes that are no elements
/// (attributes, text) are left out. Raises 9999 (errc::invalid_argument) for
/// an expression that does not compile or evaluate, or gives no node-set.
std::vector<XmlId> XPathSelect(const XmlTree& tree, XmlId context, std::string_view xpath);

/// The XPath string() of what `xpath` gives with `context` as context node:
/// a number, Boolean or string as XPath writes it, a node-set's first node's
/// string-value ("" for an empty set). Raises as XPathSelect does.
std::string XPathString(const XmlTree& tree, XmlId context, std::string_view xpath);

}  // namespace qm::detail

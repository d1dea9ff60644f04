#pragma once
// Reads an XML document with expat into an XmlTree, piece by piece: the
// whole text is never held, so loading needs the tree and a piece.
//
// The tree keeps what a conformant non-validating parser reports: elements,
// attributes (with the defaults and normalisation of the internal DTD subset),
// text with internal entities and character references expanded, comments and
// processing instructions inside the root element, references to entities the
// parser does not read (declared in an external DTD, or external themselves)
// as Reference nodes, and the document type declaration as written (a Doctype
// node, the root element's first child). CDATA sections are read as plain
// text; blank text in an element of element children only is layout and is
// left out. Nothing is ever fetched: no external DTD, no external entity.
// Entity expansion is bounded by expat's amplification limit.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "automation/XmlTree.h"

namespace qm::detail {

/// Fills up to `size` bytes at `data` with the document's bytes from
/// `offset` on and gives the count; 0 past the end. The reader asks for
/// pieces in order and goes back to offset 0 only to read a document a
/// second time (an encoding expat lacks, or a name character it does not
/// know). An exception passes on to ReadXml's caller.
using XmlSource = std::function<std::size_t(std::uint64_t offset, char* data, std::size_t size)>;

struct XmlReadResult {
  XmlId Root = kNoXml;  // the root element, a child of the tree's document; kNoXml on failure
  std::string Error;    // "line L, column C: reason" on failure
  // Where the parser stopped, on failure: 1-based line and column, 0-based
  // byte offset in the document (0 when unknown).
  std::uint64_t Line = 0, Column = 0, Offset = 0;
  // For an end tag that does not match: the start tag's line and
  // "<b> opened at line 2 is closed by </a>" (the end tag's name when known).
  std::uint64_t OpenLine = 0;
  std::string Mismatch;
};

/// Parses the document into top-level nodes of `tree`. With `utf8Text` the
/// bytes are taken as UTF-8 whatever the declaration says; otherwise the
/// byte-order mark and declaration decide (UTF-8, UTF-16, ISO-8859-1 and
/// US-ASCII directly, any other encoding through the system's iconv). On
/// failure nothing read stays in `tree`.
XmlReadResult ReadXml(XmlTree& tree, const XmlSource& source, bool utf8Text);

/// The document type declaration at the start of `prolog` (UTF-8, after an
/// optional byte-order mark, XML declaration, comments and processing
/// instructions), up to the end of `prolog`; "" when none starts there.
std::string_view DoctypeIn(std::string_view prolog);

}  // namespace qm::detail

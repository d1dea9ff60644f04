#pragma once

/// @file
/// Loading, querying and editing XML over standard types.
///
///     qm::XmlElement orders = qm::LoadXml("orders.xml");   // the root element
///     for (const qm::XmlElement& order : qm::XmlFindAll(orders, "order"))
///       total += std::stod(order.ChildText("amount", "0"));
///
/// An XmlElement is a light handle on one element of a loaded tree: copies
/// stand for the same element, and a change through one is seen through the
/// others (and through any qm::XML or qm::XmlNode on the same tree). The
/// tree lives as long as any handle on it.
///
/// XPath 1.0 queries select elements and read values:
///
///     for (const qm::XmlElement& line : qm::XmlSelect(orders, "order[@state='open']/line[amount > 100]"))
///       ...
///     std::string count = qm::XmlEvaluate(orders, "count(order)");  // "3"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "quillmark/Export.h"
#include "quillmark/errors/Error.h"

namespace qm {

namespace detail {
class XmlHandle;
struct XmlElementAccess;
}  // namespace detail

/// One element of an XML tree.
class QUILLMARK_EXPORT XmlElement {
 public:
  /// A new element tagged `tag`, in a tree of its own.
  explicit XmlElement(std::string_view tag);

  /// The element's tag.
  std::string Name() const;
  /// The element's text; "" when it has none.
  std::string Text() const;
  /// Replaces the element's text.
  void SetText(std::string_view text);
  /// The attribute's value; "" when the element has no such attribute.
  std::string Attribute(std::string_view name) const;
  /// Sets an attribute (replacing a value it had).
  void SetAttribute(std::string_view name, std::string_view value);
  /// The text of the first child tagged `tag`, or `fallback` when there is no
  /// such child or its text is empty.
  std::string ChildText(std::string_view tag, std::string_view fallback = {}) const;
  /// The number of children (tagged `tag`, when it is not empty).
  std::size_t ChildCount(std::string_view tag = {}) const;
  /// The children (tagged `tag`, when it is not empty), in document order.
  std::vector<XmlElement> Children(std::string_view tag = {}) const;
  /// Appends a new last child and returns it.
  XmlElement AddChild(std::string_view tag, std::string_view text = {});
  /// The element and its subtree as XML text.
  std::string Render() const;
  /// Writes the element and its subtree to `file` in UTF-8, with an XML
  /// declaration, as the text is made (the whole text is never held); the
  /// file is replaced as a whole. Raises 75 (Path/File access error) when it
  /// cannot, with the cause: the system's reason, or what in the tree would
  /// not read back as XML (a name that is no XML name, a character XML 1.0
  /// does not allow); the old file then stays.
  void Save(const std::filesystem::path& file) const;

 private:
  friend struct detail::XmlElementAccess;
  explicit XmlElement(std::shared_ptr<detail::XmlHandle> handle);
  std::shared_ptr<detail::XmlHandle> handle_;
};

/// XML that is not well-formed: error 9999 with errc::parse_error, and where
/// the parser stopped. An end tag that does not match says which element was
/// left open and where it starts:
///
///     'orders.xml' is not well-formed XML: line 154, column 3: mismatched tag:
///     <line> opened at line 20 is closed by </order>
///
///     catch (const qm::XmlParseError& e) { Jump(e.Line(), e.Column()); }
class QUILLMARK_EXPORT XmlParseError : public Error {
 public:
  /// An error at `line` and `column` (1-based), `offset` bytes into the
  /// document; `openLine` is the line of the element left open by a
  /// mismatched end tag (0 otherwise).
  XmlParseError(std::string source, std::string description, std::uint64_t line, std::uint64_t column,
                std::uint64_t offset, std::uint64_t openLine = 0);
  ///@{
  /// Copies the error and its position; one moved from reads position 0.
  XmlParseError(const XmlParseError& other);
  XmlParseError& operator=(const XmlParseError& other);
  XmlParseError(XmlParseError&& other) noexcept;
  XmlParseError& operator=(XmlParseError&& other) noexcept;
  ///@}
  ~XmlParseError() override;
  /// The line the parser stopped at, from 1.
  std::uint64_t Line() const noexcept;
  /// The column (in bytes) it stopped at, from 1.
  std::uint64_t Column() const noexcept;
  /// The byte it stopped at, counted from 0 at the document's start (for a
  /// document in another encoding than UTF-8: in its UTF-8 form).
  std::uint64_t Offset() const noexcept;
  /// For an end tag that does not match: the line of the start tag of the
  /// element it should have closed; 0 for other errors.
  std::uint64_t OpenLine() const noexcept;

 private:
  // Where the parser stopped, defined in the library's sources.
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

/// The root element of an XML file, read as a conformant parser does (see
/// qm::XML::LoadFile). A missing file raises 53 "File not found: '<file>'";
/// an empty file raises 9999 (errc::parse_error) "'<file>' is empty"; one
/// that is no well-formed XML raises XmlParseError "'<file>' is not
/// well-formed XML: line L, column C: reason".
QUILLMARK_EXPORT XmlElement LoadXml(const std::filesystem::path& file);

/// The root element of XML text, taken as UTF-8 whatever its declaration
/// says, parsed where it lies. Text that does not parse raises XmlParseError
/// "line L, column C: reason" (XML::LoadFromString raises 11000 "line L,
/// column C: reason").
QUILLMARK_EXPORT XmlElement ParseXml(std::string_view text);

/// The elements reached from `element` by the tags of `path`, separated by
/// "/" ("order/line": every line of every order), in document order. An
/// empty path gives no elements.
QUILLMARK_EXPORT std::vector<XmlElement> XmlFindAll(const XmlElement& element, std::string_view path);

/// The first element XmlFindAll would give, or nothing.
QUILLMARK_EXPORT std::optional<XmlElement> XmlFind(const XmlElement& element, std::string_view path);

/// The elements the XPath 1.0 expression `xpath` selects with `context` as
/// the context node, in document order ("order[@state='open']",
/// "//line[last()]", "/orders/order[2]/*"); nodes of the result that are no
/// elements (attributes, text) are left out, and none is an empty result.
/// "/" is the top of the tree `context` belongs to. Names match as written,
/// prefix included ("x:item"); a default namespace does not hide names.
/// Each call walks that whole tree, and needs memory in proportion to it.
/// An expression that does not compile or run raises 9999 with
/// errc::invalid_argument naming the expression, as does one that gives a
/// number, string or Boolean. Nothing outside the tree is read: XPath 1.0
/// has no function that does.
QUILLMARK_EXPORT std::vector<XmlElement> XmlSelect(const XmlElement& context, std::string_view xpath);

/// The string value of what the XPath 1.0 expression `xpath` gives with
/// `context` as the context node, as XPath's string() makes it: a number
/// ("count(order)" gives "3", "0 div 0" "NaN"), a Boolean ("true"), a
/// string, or the first node of a node-set in document order (an
/// attribute's value, a text, an element's text with its descendants'); ""
/// for an empty node-set. Raises as XmlSelect does.
QUILLMARK_EXPORT std::string XmlEvaluate(const XmlElement& context, std::string_view xpath);

}  // namespace qm

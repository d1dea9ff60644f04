#pragma once
// qm::XmlNode: the XML component behind the `XML` wrapper.
//
// An XmlNode is an object that stands for one element of an XML tree. Several
// XmlNode objects may stand for elements of the same tree (a parent and the
// children handed out by `GetChild`); a change made through one is seen through
// every other. A tree and every node created with `NewNode` from one of its
// nodes share one store, so that moving such a node into the tree costs no
// copy. A store lives as long as any XmlNode refers into it.
//
// Nodes that are removed from their tree while another XmlNode still refers
// into them are kept (detached) until that XmlNode goes, so no XmlNode ever
// refers to freed memory.
//
// Children are element children; the content is the node's text. Documents
// are read as a conformant non-validating XML 1.0 parser reads them (expat;
// nothing external is ever fetched, entity expansion is bounded); comments,
// processing instructions, references to entities that may not be expanded
// and the document type declaration are kept for writing but are no
// children. Output is always UTF-8. Nothing here raises for bad XML: loading
// and saving report failure through their result and `LastErrorText`. Deep
// trees are walked without recursion.

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "quillmark/Export.h"
#include "quillmark/automation/XmlQuery.h"
#include "quillmark/values/Object.h"

namespace qm {

/// A byte buffer handed over to the component, which parses it and frees it
/// (reading a file into one and loading it costs no further copy of the file).
class QUILLMARK_EXPORT XmlBytes {
 public:
  /// `size` bytes, not initialised.
  explicit XmlBytes(std::size_t size);
  ///@{
  /// Moves the buffer; the one moved from holds none (size 0).
  XmlBytes(XmlBytes&& other) noexcept;
  XmlBytes& operator=(XmlBytes&& other) noexcept;
  ///@}
  XmlBytes(const XmlBytes&) = delete;
  XmlBytes& operator=(const XmlBytes&) = delete;
  ~XmlBytes();

  /// The bytes, writable until handed to the component.
  std::uint8_t* Data() const { return static_cast<std::uint8_t*>(data_); }
  std::size_t Size() const { return size_; }  ///< The count of bytes.
  /// Keeps only the first `size` bytes (no effect when `size` is larger).
  void Truncate(std::size_t size);

 private:
  friend class XmlNode;
  void* Release();
  void* data_ = nullptr;
  std::size_t size_ = 0;
};

/// An element of an XML tree with its text, attributes and element children,
/// as the XML wrapper's component offers it; see the file's notes on sharing.
class QUILLMARK_EXPORT XmlNode : public Object {
 public:
  /// A new, empty element (no tag, no content) in a store of its own.
  XmlNode();
  ///@{
  /// Releases the node; its tree lives on while other nodes refer into it.
  ~XmlNode() override;
  /// Not copyable: several nodes may stand for one element, copies would not.
  XmlNode(const XmlNode&) = delete;
  XmlNode& operator=(const XmlNode&) = delete;
  ///@}

  std::string ClassName() const override { return "XmlNode"; }

  /// A new, empty element kept in this node's store but not in its tree.
  std::shared_ptr<XmlNode> NewNode() const;

  /// The element's name; "" for a new node.
  std::string Tag() const;
  /// Renames the element (the name is not checked).
  void SetTag(std::string_view tag);

  /// The node's text (its text pieces joined, without comments, processing
  /// instructions or unexpanded entity references); "" when it has none.
  std::string Content() const;
  /// Replaces the node's text (written escaped).
  void SetContent(std::string_view content);

  /// The count of element children.
  std::int32_t NumChildren() const;
  /// The count of element children named `tag` (names compare exactly).
  std::int32_t NumChildrenHavingTag(std::string_view tag) const;
  /// The child at a 0-based index; nullptr when there is none.
  std::shared_ptr<XmlNode> GetChild(std::int32_t index) const;
  /// The index-th child (0-based) named `tag`; nullptr when there is none.
  std::shared_ptr<XmlNode> GetNthChildWithTag(std::string_view tag, std::int32_t index) const;
  /// The content of the first child named `tag`; "" when there is none.
  std::string GetChildContent(std::string_view tag) const;

  /// Appends an attribute (a second one of the same name replaces the value).
  void AddAttribute(std::string_view name, std::string_view value);
  /// The attribute's value; "" when there is none.
  std::string GetAttrValue(std::string_view name) const;

  /// Appends a new last child with that tag and content.
  void NewChild(std::string_view tag, std::string_view content);
  /// Moves `tree` (with its subtree) to be the new last child of this node;
  /// `tree` stands for the moved element afterwards. A tree of another store
  /// is copied into this one and removed from its own. False when `tree` is
  /// this node or one of its ancestors.
  bool AddChildTree(XmlNode& tree);
  /// Removes every child element (nodes still standing for them keep them, detached).
  void RemoveAllChildren();

  ///@{
  /// Parses a document (UTF-8 text whatever it declares, or raw bytes whose
  /// encoding is taken from the byte-order mark or the declaration: UTF-8,
  /// UTF-16, ISO-8859-1, US-ASCII, or any other the system's iconv offers).
  /// On success this node becomes the document's root element; on failure it
  /// is unchanged and `LastErrorText` says why: "line L, column C: reason".
  bool LoadXml(std::string_view text);
  bool LoadXmlBytes(std::span<const std::uint8_t> bytes);
  bool LoadXmlBytes(XmlBytes bytes);
  ///@}
  /// Parses a document given piece by piece, as LoadXmlBytes does: `read`
  /// fills up to `size` bytes at `data` with the document's bytes from
  /// `offset` on and gives the count, 0 past the end. Pieces are asked for in
  /// order; a document is read a second time from offset 0 only when its
  /// encoding needs iconv or a name character needs the second reader. The
  /// whole text is never held: loading a file this way takes the tree's
  /// memory and a piece's. An exception from `read` passes on and leaves the
  /// node unchanged.
  bool LoadXmlFrom(const std::function<std::size_t(std::uint64_t offset, std::uint8_t* data, std::size_t size)>& read);

  /// The node with its subtree as text (element-only content indented);
  /// starts with an XML declaration when an encoding has been set, then the
  /// document type declaration when the node is a document's root (or holds
  /// an entity reference that needs it).
  std::string GetXml() const;
  /// Writes the declaration and the node with its subtree to `path`, whole, through
  /// a temporary beside it, as the text is made; false (with LastErrorText) when
  /// it cannot be written, the old file then stays. A tree that would not read
  /// back as it is (a name set that is no XML name, a character XML does not
  /// allow) is not written either, and LastErrorText names what.
  bool SaveXml(const std::string& path);
  /// True when the last SaveXml created its file but failed writing it or
  /// putting it in place (a failure of the file system, not a refusal of the
  /// tree or a file that cannot be created).
  bool SaveFailedWriting() const noexcept;

  /// The encoding named in the declaration GetXml and SaveXml write; "" for none.
  const std::string& Encoding() const;
  /// Sets the encoding named in the declaration (the text stays UTF-8).
  void SetEncoding(std::string encoding);

  /// A description of the last failure of this node's operations.
  const std::string& LastErrorText() const;

 private:
  friend XmlElement AsXmlElement(const XmlNode& node);
  friend std::shared_ptr<XmlNode> AsXmlNode(const XmlElement& element);

  // The element this node stands for, the store it lives in, a cursor that
  // makes walking the children in order linear, the encoding to declare and
  // the last failure's text.
  struct Impl;
  explicit XmlNode(std::unique_ptr<Impl> impl);
  bool Load(XmlBytes bytes, bool utf8Text);
  bool Load(const std::function<std::size_t(std::uint64_t, char*, std::size_t)>& source, bool utf8Text);

  std::unique_ptr<Impl> impl_;
};

/// A shared reference to an XmlNode.
using XmlNodePtr = std::shared_ptr<XmlNode>;

/// A typed handle on the element `node` stands for: a change through either
/// is seen through the other.
///
///     qm::XmlElement order = qm::AsXmlElement(*xml.ChilkatXML());
QUILLMARK_EXPORT XmlElement AsXmlElement(const XmlNode& node);

/// A new XmlNode standing for the element `element` is a handle on (for the
/// published classes: `XML` takes it through its navigation).
QUILLMARK_EXPORT std::shared_ptr<XmlNode> AsXmlNode(const XmlElement& element);

}  // namespace qm

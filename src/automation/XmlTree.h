#pragma once
// The tree the XML component keeps documents in, laid out for size: a node
// takes 32 bytes and an attribute 16 (a name is kept once per tree, nodes
// hold its number), a text its bytes and one more (nine beyond 253 bytes).
// Nodes and attributes live in blocks of 4,096 (the first grows to that size
// from a few, so a small tree stays small), texts in an arena of blocks that
// never move (doubling up to 256 KiB); nothing large is copied as the tree
// grows, so a document of N bytes takes about 1.5 N once loaded
// (docs/automation.md).
//
// Nodes are numbered; 0 is none and 1 the document, whose children are the
// top-level nodes (the root element and elements made beside it). An
// element whose only child is one piece of text keeps that text itself
// (Value of the element) and has no child node for it; AddText and Insert
// keep that form, so a caller sees the element's own text first, then its
// children.
//
// Not thread-safe; walks never recurse.

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace qm::detail {

using XmlId = std::uint32_t;
using XmlAttrId = std::uint32_t;
inline constexpr XmlId kNoXml = 0;
inline constexpr XmlId kXmlDocument = 1;

enum class XmlKind : std::uint8_t {
  Unused,       // a free slot
  Document,     // node 1
  Element,      // name, attributes, children, maybe its own text
  Text,         // value: the text (references expanded)
  Comment,      // value: the comment's text
  Instruction,  // name: the target; value: the rest
  Reference,    // name: an entity the reader did not expand ("nbsp" for &nbsp;)
  Doctype,      // value: the document type declaration as written, "<!DOCTYPE ...>"
};

class XmlTree {
 public:
  XmlTree();
  XmlTree(const XmlTree&) = delete;
  XmlTree& operator=(const XmlTree&) = delete;
  ~XmlTree();

  XmlKind Kind(XmlId node) const { return static_cast<XmlKind>(At(node).Tag >> kKindShift); }
  XmlId Parent(XmlId node) const { return At(node).Parent; }
  XmlId FirstChild(XmlId node) const { return At(node).FirstChild; }
  XmlId LastChild(XmlId node) const {
    const XmlId first = At(node).FirstChild;
    return first ? At(first).Prev : kNoXml;
  }
  XmlId NextSibling(XmlId node) const { return At(node).Next; }
  XmlId PreviousSibling(XmlId node) const {
    const XmlId prev = At(node).Prev;
    return At(prev).Next ? prev : kNoXml;
  }
  /// An element's, instruction's or reference's name.
  std::string_view Name(XmlId node) const { return names_[At(node).Tag & kNameMask]; }
  /// The text of a text, comment, instruction or document type node; an
  /// element's own text.
  std::string_view Value(XmlId node) const { return Decode(At(node).Value); }
  /// The number `name` has in this tree, or kNoName when no node or
  /// attribute was ever given it (then nothing here is named so).
  static constexpr std::uint32_t kNoName = 0xFFFFFFFF;
  std::uint32_t FindName(std::string_view name) const;
  std::uint32_t NameNumber(XmlId node) const { return At(node).Tag & kNameMask; }
  std::uint32_t AttributeNameNumber(XmlAttrId attribute) const { return AttrAt(attribute).Name; }
  /// Names are numbered from 0 up to this, exclusive.
  std::uint32_t NameCount() const { return static_cast<std::uint32_t>(names_.size()); }

  /// A new node of `kind` after the child `after` of `parent` (kNoXml: as
  /// the first child). An element's own text becomes a child first.
  XmlId Insert(XmlId parent, XmlId after, XmlKind kind, std::string_view name = {}, std::string_view value = {});
  /// A new last child (after the element's own text, if any).
  XmlId Append(XmlId parent, XmlKind kind, std::string_view name = {}, std::string_view value = {});
  /// Text after the child `after` of `parent` (kNoXml: first): the
  /// element's own text when it has no children and no text yet.
  void AddText(XmlId parent, XmlId after, std::string_view text);
  void SetName(XmlId node, std::string_view name);
  void SetValue(XmlId node, std::string_view value);
  /// Takes `node` (with its subtree) out of its place and appends it to
  /// `parent`, which must not lie inside it.
  void Move(XmlId parent, XmlId node);
  /// Takes `node` out of the tree and frees it with its subtree.
  void Remove(XmlId node);
  /// Appends a copy of `from`'s `node` with its subtree to `parent`; `from`
  /// may be this tree (not with `parent` inside `node`).
  XmlId AppendCopy(XmlId parent, const XmlTree& from, XmlId node);

  XmlAttrId FirstAttribute(XmlId element) const { return At(element).FirstAttribute; }
  XmlAttrId NextAttribute(XmlAttrId attribute) const { return AttrAt(attribute).Next; }
  std::string_view AttributeName(XmlAttrId attribute) const { return names_[AttrAt(attribute).Name]; }
  std::string_view AttributeValue(XmlAttrId attribute) const { return Decode(AttrAt(attribute).Value); }
  XmlAttrId FindAttribute(XmlId element, std::string_view name) const;
  /// Sets an attribute, replacing the value of one of that name.
  void SetAttribute(XmlId element, std::string_view name, std::string_view value);
  /// Adds an attribute after `after` (kNoXml: as the first), without
  /// looking for one of the same name; gives the new one.
  XmlAttrId InsertAttribute(XmlId element, XmlAttrId after, std::string_view name, std::string_view value);
  void RemoveAttributes(XmlId element);

 private:
  static constexpr unsigned kKindShift = 28;
  static constexpr std::uint32_t kNameMask = (1u << kKindShift) - 1;
  static constexpr unsigned kBlockShift = 12;  // 4,096 nodes or attributes a block
  static constexpr std::uint32_t kBlockMask = (1u << kBlockShift) - 1;

  struct Node {
    std::uint32_t Tag;  // kind << 28 | name number
    XmlId Parent;
    XmlId FirstChild;
    XmlId Prev;  // the previous sibling; the first child's is the last child
    XmlId Next;
    XmlAttrId FirstAttribute;
    const std::uint8_t* Value;  // see Decode; nullptr for none
  };
  struct Attribute {
    std::uint32_t Name;
    XmlAttrId Next;
    const std::uint8_t* Value;
  };

  Node& At(XmlId id) { return nodes_[id >> kBlockShift][id & kBlockMask]; }
  const Node& At(XmlId id) const { return nodes_[id >> kBlockShift][id & kBlockMask]; }
  Attribute& AttrAt(XmlAttrId id) { return attributes_[id >> kBlockShift][id & kBlockMask]; }
  const Attribute& AttrAt(XmlAttrId id) const { return attributes_[id >> kBlockShift][id & kBlockMask]; }

  std::uint32_t Intern(std::string_view name);
  XmlId NewNode(XmlKind kind, std::uint32_t name);
  XmlAttrId NewAttribute();
  void Link(XmlId parent, XmlId after, XmlId node);
  void Unlink(XmlId node);
  void Free(XmlId node);  // one node, unlinked, childless
  void OwnTextToChild(XmlId element);

  // Texts: a length byte, then the bytes. A length byte of 254 or 255 is
  // followed by eight bytes of length: 254 marks a text in a block of its
  // own, 255 one in the shared blocks.
  static std::string_view Decode(const std::uint8_t* value);
  const std::uint8_t* Store(std::string_view text);
  void Drop(const std::uint8_t* value);
  void CompactIfWasteful();

  std::vector<std::unique_ptr<Node[]>> nodes_;
  std::size_t nodeCapacity_ = 16;  // of the first block, which grows to a full one
  XmlId nodeCount_ = 0;
  XmlId freeNodes_ = kNoXml;  // linked through Next
  std::vector<std::unique_ptr<Attribute[]>> attributes_;
  std::size_t attributeCapacity_ = 8;
  XmlAttrId attributeCount_ = 0;
  XmlAttrId freeAttributes_ = 0;  // linked through Next; attribute 0 is never used

  std::deque<std::string> names_;  // by number; 0 is ""
  std::unordered_map<std::string_view, std::uint32_t> nameNumbers_;

  // The arena: blocks filled in turn; a text of more than kLargeText bytes
  // gets a block of its own, freed as soon as the text goes.
  std::vector<std::unique_ptr<std::uint8_t[]>> blocks_;
  std::size_t blockSize_ = 0;  // of the last block
  std::size_t blockUsed_ = 0;
  std::size_t arenaBytes_ = 0;  // in the shared blocks
  std::size_t wasteBytes_ = 0;  // of that, texts no longer used
  std::unordered_map<const std::uint8_t*, std::unique_ptr<std::uint8_t[]>> large_;
};

/// The first node of the subtree at `root` (root first, then depth first in
/// document order) for which `stop` is true; kNoXml when there is none.
template <class Stop>
XmlId FindInSubtree(const XmlTree& tree, XmlId root, Stop stop) {
  XmlId node = root;
  for (;;) {
    if (stop(node)) return node;
    if (XmlId child = tree.FirstChild(node)) {
      node = child;
      continue;
    }
    while (node != root && !tree.NextSibling(node)) node = tree.Parent(node);
    if (node == root) return kNoXml;
    node = tree.NextSibling(node);
  }
}

}  // namespace qm::detail

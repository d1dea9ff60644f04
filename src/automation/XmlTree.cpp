#include "automation/XmlTree.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <utility>

namespace qm::detail {
namespace {

constexpr std::size_t kArenaBlock = std::size_t{256} << 10;
constexpr std::size_t kFirstArenaBlock = 512;
constexpr std::size_t kLargeText = std::size_t{16} << 10;  // beyond: a block of its own
constexpr std::uint8_t kOwnBlock = 254;
constexpr std::uint8_t kLongText = 255;
constexpr std::size_t kWasteToCompact = std::size_t{8} << 20;

std::size_t HeaderSize(std::size_t length) { return length < kOwnBlock ? 1 : 9; }

// Room for one more at `id` in `blocks`, whose first block grows by
// doubling (a small tree stays small) and whose others are full-sized.
template <class T>
void MakeRoom(std::vector<std::unique_ptr<T[]>>& blocks, std::size_t& firstCapacity, std::uint32_t id,
              unsigned blockShift) {
  const std::size_t full = std::size_t{1} << blockShift;
  if (id < firstCapacity) return;
  if (firstCapacity < full) {
    const std::size_t capacity = std::min(full, firstCapacity * 2);
    auto grown = std::make_unique_for_overwrite<T[]>(capacity);
    std::copy(blocks[0].get(), blocks[0].get() + firstCapacity, grown.get());
    blocks[0] = std::move(grown);
    firstCapacity = capacity;
  } else if ((id >> blockShift) == blocks.size()) {
    blocks.push_back(std::make_unique_for_overwrite<T[]>(full));
  }
}

}  // namespace

XmlTree::XmlTree() {
  static_assert(sizeof(Node) == 32 && sizeof(Attribute) == 16);
  // Node 0 (none) and attribute 0 are placeholders; node 1 is the document.
  nodes_.push_back(std::make_unique<Node[]>(nodeCapacity_));
  attributes_.push_back(std::make_unique<Attribute[]>(attributeCapacity_));
  At(kXmlDocument).Tag = static_cast<std::uint32_t>(XmlKind::Document) << kKindShift;
  nodeCount_ = 2;
  attributeCount_ = 1;
  names_.emplace_back();
  nameNumbers_.emplace(std::string_view(names_.front()), 0);
}

XmlTree::~XmlTree() = default;

std::uint32_t XmlTree::FindName(std::string_view name) const {
  const auto it = nameNumbers_.find(name);
  return it == nameNumbers_.end() ? kNoName : it->second;
}

std::uint32_t XmlTree::Intern(std::string_view name) {
  if (const auto it = nameNumbers_.find(name); it != nameNumbers_.end()) return it->second;
  if (names_.size() > kNameMask) throw std::length_error("the XML tree has too many different names");
  const auto number = static_cast<std::uint32_t>(names_.size());
  names_.emplace_back(name);
  nameNumbers_.emplace(std::string_view(names_.back()), number);
  return number;
}

XmlId XmlTree::NewNode(XmlKind kind, std::uint32_t name) {
  XmlId id = freeNodes_;
  if (id) {
    freeNodes_ = At(id).Next;
  } else {
    if (nodeCount_ == 0xFFFFFFFF) throw std::length_error("the XML tree has too many nodes");
    MakeRoom(nodes_, nodeCapacity_, nodeCount_, kBlockShift);
    id = nodeCount_++;
  }
  At(id) = Node{static_cast<std::uint32_t>(kind) << kKindShift | name, kNoXml, kNoXml, kNoXml, kNoXml, 0, nullptr};
  return id;
}

XmlAttrId XmlTree::NewAttribute() {
  XmlAttrId id = freeAttributes_;
  if (id) {
    freeAttributes_ = AttrAt(id).Next;
    return id;
  }
  if (attributeCount_ == 0xFFFFFFFF) throw std::length_error("the XML tree has too many attributes");
  MakeRoom(attributes_, attributeCapacity_, attributeCount_, kBlockShift);
  return attributeCount_++;
}

void XmlTree::Link(XmlId parent, XmlId after, XmlId node) {
  Node& n = At(node);
  n.Parent = parent;
  const XmlId first = At(parent).FirstChild;
  if (!first) {
    At(parent).FirstChild = node;
    n.Prev = node;
    n.Next = kNoXml;
  } else if (!after) {
    n.Prev = At(first).Prev;
    n.Next = first;
    At(first).Prev = node;
    At(parent).FirstChild = node;
  } else {
    const XmlId next = At(after).Next;
    n.Prev = after;
    n.Next = next;
    At(after).Next = node;
    At(next ? next : first).Prev = node;
  }
}

void XmlTree::Unlink(XmlId node) {
  Node& n = At(node);
  Node& parent = At(n.Parent);
  const XmlId first = parent.FirstChild;
  if (node == first) {
    parent.FirstChild = n.Next;
    if (n.Next) At(n.Next).Prev = n.Prev;
  } else {
    At(n.Prev).Next = n.Next;
    At(n.Next ? n.Next : first).Prev = n.Prev;
  }
  n.Parent = n.Prev = n.Next = kNoXml;
}

void XmlTree::Free(XmlId node) {
  RemoveAttributes(node);
  Drop(At(node).Value);
  At(node) = Node{0, kNoXml, kNoXml, kNoXml, freeNodes_, 0, nullptr};
  freeNodes_ = node;
}

void XmlTree::OwnTextToChild(XmlId element) {
  if (!At(element).Value) return;
  const XmlId text = NewNode(XmlKind::Text, 0);
  At(text).Value = std::exchange(At(element).Value, nullptr);
  Link(element, kNoXml, text);
}

XmlId XmlTree::Insert(XmlId parent, XmlId after, XmlKind kind, std::string_view name, std::string_view value) {
  OwnTextToChild(parent);
  const XmlId node = NewNode(kind, name.empty() ? 0 : Intern(name));
  At(node).Value = Store(value);
  Link(parent, after, node);
  return node;
}

XmlId XmlTree::Append(XmlId parent, XmlKind kind, std::string_view name, std::string_view value) {
  OwnTextToChild(parent);
  return Insert(parent, LastChild(parent), kind, name, value);
}

void XmlTree::AddText(XmlId parent, XmlId after, std::string_view text) {
  if (text.empty()) return;
  Node& p = At(parent);
  if (static_cast<XmlKind>(p.Tag >> kKindShift) == XmlKind::Element && !p.FirstChild && !p.Value) {
    const std::uint8_t* value = Store(text);
    At(parent).Value = value;
    return;
  }
  Insert(parent, after, XmlKind::Text, {}, text);
}

void XmlTree::SetName(XmlId node, std::string_view name) {
  const std::uint32_t number = Intern(name);
  Node& n = At(node);
  n.Tag = (n.Tag & ~kNameMask) | number;
}

void XmlTree::SetValue(XmlId node, std::string_view value) {
  const std::uint8_t* stored = Store(value);
  Drop(std::exchange(At(node).Value, stored));
  CompactIfWasteful();
}

void XmlTree::Move(XmlId parent, XmlId node) {
  OwnTextToChild(parent);
  Unlink(node);
  Link(parent, LastChild(parent), node);
}

void XmlTree::Remove(XmlId node) {
  Unlink(node);
  // Leaves first, so that no depth of nesting costs stack.
  XmlId current = node;
  for (;;) {
    while (const XmlId child = At(current).FirstChild) current = child;
    if (current == node) break;
    const XmlId parent = At(current).Parent;
    Unlink(current);
    Free(current);
    current = parent;
  }
  Free(node);
  CompactIfWasteful();
}

XmlId XmlTree::AppendCopy(XmlId parent, const XmlTree& from, XmlId node) {
  const auto copyOne = [&](XmlId to, XmlId source) {
    const XmlId copy = Append(to, from.Kind(source), from.Name(source), from.Value(source));
    XmlAttrId last = 0;
    for (XmlAttrId a = from.FirstAttribute(source); a; a = from.NextAttribute(a))
      last = InsertAttribute(copy, last, from.AttributeName(a), from.AttributeValue(a));
    return copy;
  };
  const XmlId top = copyOne(parent, node);
  // `to` is the copy of the parent of `source`.
  XmlId source = from.FirstChild(node), to = top;
  while (source) {
    const XmlId copy = copyOne(to, source);
    if (const XmlId child = from.FirstChild(source)) {
      to = copy;
      source = child;
      continue;
    }
    while (!from.NextSibling(source)) {
      source = from.Parent(source);
      if (source == node) return top;
      to = Parent(to);
    }
    source = from.NextSibling(source);
  }
  return top;
}

XmlAttrId XmlTree::FindAttribute(XmlId element, std::string_view name) const {
  const std::uint32_t number = FindName(name);
  if (number == kNoName) return 0;
  XmlAttrId a = At(element).FirstAttribute;
  while (a && AttrAt(a).Name != number) a = AttrAt(a).Next;
  return a;
}

void XmlTree::SetAttribute(XmlId element, std::string_view name, std::string_view value) {
  const std::uint32_t number = Intern(name);
  XmlAttrId last = 0;
  for (XmlAttrId a = At(element).FirstAttribute; a; a = AttrAt(a).Next) {
    if (AttrAt(a).Name == number) {
      const std::uint8_t* stored = Store(value);
      Drop(std::exchange(AttrAt(a).Value, stored));
      CompactIfWasteful();
      return;
    }
    last = a;
  }
  InsertAttribute(element, last, name, value);
}

XmlAttrId XmlTree::InsertAttribute(XmlId element, XmlAttrId after, std::string_view name, std::string_view value) {
  const std::uint32_t number = Intern(name);
  const std::uint8_t* stored = Store(value);
  const XmlAttrId id = NewAttribute();
  Attribute& a = AttrAt(id);
  a.Name = number;
  a.Value = stored;
  if (after) {
    a.Next = AttrAt(after).Next;
    AttrAt(after).Next = id;
  } else {
    a.Next = At(element).FirstAttribute;
    At(element).FirstAttribute = id;
  }
  return id;
}

void XmlTree::RemoveAttributes(XmlId element) {
  XmlAttrId a = std::exchange(At(element).FirstAttribute, 0);
  while (a) {
    Attribute& attribute = AttrAt(a);
    const XmlAttrId next = attribute.Next;
    Drop(attribute.Value);
    attribute = Attribute{kNoName, freeAttributes_, nullptr};
    freeAttributes_ = a;
    a = next;
  }
}

std::string_view XmlTree::Decode(const std::uint8_t* value) {
  if (!value) return {};
  if (value[0] < kOwnBlock) return {reinterpret_cast<const char*>(value + 1), value[0]};
  std::uint64_t length = 0;
  std::memcpy(&length, value + 1, sizeof length);
  return {reinterpret_cast<const char*>(value + 9), static_cast<std::size_t>(length)};
}

const std::uint8_t* XmlTree::Store(std::string_view text) {
  if (text.empty()) return nullptr;
  const std::uint64_t length = text.size();
  std::uint8_t* at;
  if (text.size() > kLargeText) {
    auto block = std::make_unique_for_overwrite<std::uint8_t[]>(9 + text.size());
    at = block.get();
    at[0] = kOwnBlock;
    large_.emplace(at, std::move(block));
  } else {
    const std::size_t total = HeaderSize(text.size()) + text.size();
    if (blocks_.empty() || blockUsed_ + total > blockSize_) {
      // Blocks double from a small first one up to their full size.
      blockSize_ = blocks_.empty() ? kFirstArenaBlock : std::min(kArenaBlock, blockSize_ * 2);
      while (blockSize_ < total) blockSize_ *= 2;
      blocks_.push_back(std::make_unique_for_overwrite<std::uint8_t[]>(blockSize_));
      blockUsed_ = 0;
    }
    at = blocks_.back().get() + blockUsed_;
    blockUsed_ += total;
    arenaBytes_ += total;
    at[0] = text.size() < kOwnBlock ? static_cast<std::uint8_t>(text.size()) : kLongText;
  }
  const std::size_t header = at[0] < kOwnBlock ? 1 : 9;
  if (header == 9) std::memcpy(at + 1, &length, sizeof length);
  std::memcpy(at + header, text.data(), text.size());
  return at;
}

void XmlTree::Drop(const std::uint8_t* value) {
  if (!value) return;
  if (value[0] == kOwnBlock) {
    large_.erase(value);
    return;
  }
  const std::size_t length = Decode(value).size();
  wasteBytes_ += HeaderSize(length) + length;
}

// Texts replaced or removed leave holes in the arena; once they are most of
// it, the texts in use are copied into new blocks (each copy pays for the
// waste that made it necessary, so the cost stays linear).
void XmlTree::CompactIfWasteful() {
  if (wasteBytes_ < kWasteToCompact || wasteBytes_ * 2 < arenaBytes_) return;
  std::vector<std::unique_ptr<std::uint8_t[]>> old = std::move(blocks_);
  blocks_.clear();
  blockUsed_ = 0;
  arenaBytes_ = 0;
  wasteBytes_ = 0;
  const auto restore = [&](const std::uint8_t*& value) {
    if (value && value[0] != kOwnBlock) value = Store(Decode(value));
  };
  for (XmlId id = kXmlDocument + 1; id < nodeCount_; ++id)
    if (static_cast<XmlKind>(At(id).Tag >> kKindShift) != XmlKind::Unused) restore(At(id).Value);
  for (XmlAttrId id = 1; id < attributeCount_; ++id)
    if (AttrAt(id).Name != kNoName) restore(AttrAt(id).Value);
}

}  // namespace qm::detail

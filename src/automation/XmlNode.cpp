#include "quillmark/automation/XmlNode.h"

#include <algorithm>
#include <filesystem>
#include <new>
#include <optional>
#include <pugixml.hpp>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "automation/XmlReader.h"
#include "automation/XmlWriter.h"
#include "io/AtomicFile.h"

namespace qm {
namespace detail {

// One pugixml document holding a tree and the free-standing nodes made from
// it (each a top-level element of the document), plus the bookkeeping that
// keeps XmlNode objects safe: how many of them stand for each element, and a
// version per element whose child list has changed (for the child caches).
struct XmlStore {
  pugi::xml_document doc;
  std::unordered_map<pugi::xml_node_struct*, std::int32_t> handles;
  std::unordered_map<pugi::xml_node_struct*, std::uint64_t> versions;

  void Register(pugi::xml_node_struct* node) { ++handles[node]; }
  void Unregister(pugi::xml_node_struct* node) {
    auto it = handles.find(node);
    if (it != handles.end() && --it->second == 0) handles.erase(it);
  }
  void Touch(pugi::xml_node_struct* parent) { ++versions[parent]; }
  std::uint64_t Version(pugi::xml_node_struct* parent) const {
    auto it = versions.find(parent);
    return it == versions.end() ? 0 : it->second;
  }
};

}  // namespace detail

namespace {

using pugi::xml_node;
using Store = detail::XmlStore;

xml_node Node(pugi::xml_node_struct* node) { return xml_node(node); }

bool IsTopLevel(xml_node node) { return node.parent().type() == pugi::node_document; }

// An element named `tag`, compared without measuring the name first (walking
// long child lists compares many names).
bool IsElementNamed(xml_node node, std::string_view tag) {
  if (node.type() != pugi::node_element) return false;
  const char* name = node.name();
  for (char c : tag) {
    if (c == '\0' || *name != c) return false;
    ++name;
  }
  return *name == '\0';
}

// Removes a subtree leaf first, so that no depth of nesting costs stack.
void DestroySubtree(Store& store, xml_node root) {
  xml_node current = root;
  for (;;) {
    while (xml_node child = current.first_child()) current = child;
    if (current == root) break;
    xml_node parent = current.parent();
    if (!store.versions.empty()) store.versions.erase(current.internal_object());
    parent.remove_child(current);
    current = parent;
  }
  if (!store.versions.empty()) store.versions.erase(root.internal_object());
  root.parent().remove_child(root);
}

// The children of `parent` inside which some XmlNode still stands.
std::unordered_set<pugi::xml_node_struct*> ReferencedChildren(const Store& store, xml_node parent) {
  std::unordered_set<pugi::xml_node_struct*> referenced;
  for (const auto& [handle, count] : store.handles) {
    for (xml_node node(handle); node; node = node.parent()) {
      if (node.parent() == parent) {
        referenced.insert(node.internal_object());
        break;
      }
    }
  }
  return referenced;
}

bool IsReferencedWithin(const Store& store, xml_node root) {
  for (const auto& [handle, count] : store.handles) {
    for (xml_node node(handle); node; node = node.parent())
      if (node == root) return true;
  }
  return false;
}

// True when `node` has exactly one XmlNode and none stands inside it.
bool StandsAloneIn(const Store& store, xml_node node) {
  for (const auto& [handle, count] : store.handles) {
    if (handle == node.internal_object()) {
      if (count != 1) return false;
      continue;
    }
    for (xml_node up(handle); up; up = up.parent())
      if (up == node) return false;
  }
  return true;
}

// The number of nodes in a subtree, counted up to `limit`.
constexpr std::size_t kSmallTree = 4096;
std::size_t SubtreeSize(xml_node root, std::size_t limit) {
  std::size_t count = 0;
  detail::FindInSubtree(root, [&](xml_node) { return ++count >= limit; });
  return count;
}

// Takes a child out of its tree: destroyed, or kept as a free-standing node
// while an XmlNode still stands inside it.
void Discard(Store& store, xml_node node) {
  store.Touch(node.parent().internal_object());
  if (IsReferencedWithin(store, node)) store.doc.append_move(node);
  else DestroySubtree(store, node);
}

std::string Declaration(const std::string& encoding) {
  std::string text = "<?xml version=\"1.0\"";
  if (!encoding.empty()) text += " encoding=\"" + encoding + "\"";
  return text + "?>\n";
}

// The text of an element: its text children joined (comments, processing
// instructions and entity references left out).
std::string TextOf(xml_node element) {
  std::string text;
  for (xml_node child = element.first_child(); child; child = child.next_sibling())
    if (child.type() == pugi::node_pcdata || child.type() == pugi::node_cdata) text += child.value();
  return text;
}

}  // namespace

XmlBytes::XmlBytes(std::size_t size) : data_(pugi::get_memory_allocation_function()(size ? size : 1)), size_(size) {
  if (!data_) throw std::bad_alloc();
  // No pages are asked for in advance: they come as the bytes are read in,
  // which measured faster for the read and the parse that follow.
}

XmlBytes::XmlBytes(XmlBytes&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}

XmlBytes& XmlBytes::operator=(XmlBytes&& other) noexcept {
  if (this != &other) {
    if (data_) pugi::get_memory_deallocation_function()(data_);
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
  }
  return *this;
}

XmlBytes::~XmlBytes() {
  if (data_) pugi::get_memory_deallocation_function()(data_);
}

void XmlBytes::Truncate(std::size_t size) { size_ = std::min(size, size_); }

void* XmlBytes::Release() {
  size_ = 0;
  return std::exchange(data_, nullptr);
}

struct XmlNode::Impl {
  // The last child reached and the last count, for one tag (or all
  // children), valid while the child list's version in the store is unchanged.
  struct ChildCursor {
    bool Valid = false;
    std::uint64_t Version = 0;
    bool AnyTag = true;
    std::string Tag;
    std::int32_t Index = -1;
    pugi::xml_node_struct* Child = nullptr;
    std::int32_t Count = -1;
  };

  Impl(std::shared_ptr<Store> in, pugi::xml_node_struct* element) : store(std::move(in)), node(element) {
    store->Register(node);
  }
  // A new element at the top level of the store.
  static std::unique_ptr<Impl> NewElement(std::shared_ptr<Store> store) {
    pugi::xml_node_struct* element = store->doc.append_child(pugi::node_element).internal_object();
    return std::make_unique<Impl>(std::move(store), element);
  }

  void Rebind(std::shared_ptr<Store> to, pugi::xml_node_struct* element) {
    to->Register(element);
    store->Unregister(node);
    store = std::move(to);
    node = element;
    cursor = {};
  }
  ChildCursor& Cursor(std::string_view tag, bool anyTag);
  std::int32_t Count(std::string_view tag, bool anyTag);
  pugi::xml_node_struct* Nth(std::string_view tag, bool anyTag, std::int32_t index);

  std::shared_ptr<Store> store;
  pugi::xml_node_struct* node;
  ChildCursor cursor;
};

XmlNode::XmlNode() : impl_(Impl::NewElement(std::make_shared<Store>())) {}

XmlNode::XmlNode(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

XmlNode::~XmlNode() {
  Store& store = *impl_->store;
  store.Unregister(impl_->node);
  // The last XmlNode of a store takes the whole document with it; a
  // free-standing node nobody refers into any more goes at once.
  if (store.handles.empty() || impl_->store.use_count() == 1) return;
  xml_node node = Node(impl_->node);
  if (IsTopLevel(node) && !IsReferencedWithin(store, node)) DestroySubtree(store, node);
}

std::shared_ptr<XmlNode> XmlNode::NewNode() const {
  return std::shared_ptr<XmlNode>(new XmlNode(Impl::NewElement(impl_->store)));
}

std::string XmlNode::Tag() const { return Node(impl_->node).name(); }
void XmlNode::SetTag(std::string_view tag) { Node(impl_->node).set_name(std::string(tag).c_str()); }

std::string XmlNode::Content() const { return TextOf(Node(impl_->node)); }

void XmlNode::SetContent(std::string_view content) {
  // The new text replaces every piece of the old (and the entity references
  // among them); comments and processing instructions stay.
  xml_node self = Node(impl_->node);
  for (xml_node child = self.first_child(); child;) {
    xml_node next = child.next_sibling();
    const auto type = child.type();
    if (type == pugi::node_pcdata || type == pugi::node_cdata || detail::IsXmlReference(child))
      self.remove_child(child);
    child = next;
  }
  self.text().set(std::string(content).c_str());
}

XmlNode::Impl::ChildCursor& XmlNode::Impl::Cursor(std::string_view tag, bool anyTag) {
  const std::uint64_t version = store->Version(node);
  if (!cursor.Valid || cursor.Version != version || cursor.AnyTag != anyTag || (!anyTag && cursor.Tag != tag)) {
    cursor = ChildCursor{true, version, anyTag, anyTag ? std::string() : std::string(tag), -1, nullptr, -1};
  }
  return cursor;
}

std::int32_t XmlNode::Impl::Count(std::string_view tag, bool anyTag) {
  ChildCursor& cursor = Cursor(tag, anyTag);
  if (cursor.Count < 0) {
    std::int32_t count = 0;
    for (xml_node child : Node(node).children())
      if (anyTag ? child.type() == pugi::node_element : IsElementNamed(child, tag)) ++count;
    cursor.Count = count;
  }
  return cursor.Count;
}

pugi::xml_node_struct* XmlNode::Impl::Nth(std::string_view tag, bool anyTag, std::int32_t index) {
  if (index < 0) return nullptr;
  ChildCursor& cursor = Cursor(tag, anyTag);
  xml_node child;
  std::int32_t at;
  if (cursor.Child && cursor.Index <= index) {
    child = Node(cursor.Child);
    at = cursor.Index;
  } else {
    child = Node(node).first_child();
    at = -1;
  }
  // `at` is the index of `child` when it matches, -1 before the first match.
  auto matches = [&](xml_node n) { return anyTag ? n.type() == pugi::node_element : IsElementNamed(n, tag); };
  if (at < 0) {
    while (child && !matches(child)) child = child.next_sibling();
    if (!child) return nullptr;
    at = 0;
  }
  while (at < index) {
    do child = child.next_sibling();
    while (child && !matches(child));
    if (!child) return nullptr;
    ++at;
  }
  cursor.Child = child.internal_object();
  cursor.Index = at;
  return cursor.Child;
}

std::int32_t XmlNode::NumChildren() const { return impl_->Count({}, true); }

std::int32_t XmlNode::NumChildrenHavingTag(std::string_view tag) const { return impl_->Count(tag, false); }

std::shared_ptr<XmlNode> XmlNode::GetChild(std::int32_t index) const {
  pugi::xml_node_struct* child = impl_->Nth({}, true, index);
  if (!child) return nullptr;
  return std::shared_ptr<XmlNode>(new XmlNode(std::make_unique<Impl>(impl_->store, child)));
}

std::shared_ptr<XmlNode> XmlNode::GetNthChildWithTag(std::string_view tag, std::int32_t index) const {
  pugi::xml_node_struct* child = impl_->Nth(tag, false, index);
  if (!child) return nullptr;
  return std::shared_ptr<XmlNode>(new XmlNode(std::make_unique<Impl>(impl_->store, child)));
}

std::string XmlNode::GetChildContent(std::string_view tag) const {
  for (xml_node child : Node(impl_->node).children())
    if (IsElementNamed(child, tag)) return TextOf(child);
  return {};
}

void XmlNode::AddAttribute(std::string_view name, std::string_view value) {
  const std::string key(name);
  pugi::xml_attribute attribute = Node(impl_->node).attribute(key.c_str());
  if (!attribute) attribute = Node(impl_->node).append_attribute(key.c_str());
  attribute.set_value(std::string(value).c_str());
}

std::string XmlNode::GetAttrValue(std::string_view name) const {
  return Node(impl_->node).attribute(std::string(name).c_str()).value();
}

void XmlNode::NewChild(std::string_view tag, std::string_view content) {
  xml_node child = Node(impl_->node).append_child(std::string(tag).c_str());
  if (!content.empty()) child.text().set(std::string(content).c_str());
  impl_->store->Touch(impl_->node);
}

bool XmlNode::AddChildTree(XmlNode& tree) {
  if (tree.impl_->store != impl_->store) {
    xml_node parent = Node(impl_->node);
    if (IsTopLevel(parent) && StandsAloneIn(*impl_->store, parent) &&
        StandsAloneIn(*tree.impl_->store, Node(tree.impl_->node)) &&
        SubtreeSize(parent, kSmallTree) < SubtreeSize(Node(tree.impl_->node), kSmallTree)) {
      // The smaller side moves: this free-standing node goes over to the
      // tree's store. Nothing else refers into either side, so the result
      // is the same as copying the tree.
      auto old = impl_->store;
      impl_->Rebind(tree.impl_->store, tree.impl_->store->doc.append_copy(parent).internal_object());
      DestroySubtree(*old, parent);
    } else {
      xml_node node = Node(tree.impl_->node);
      xml_node copy = parent.append_copy(node);
      impl_->store->Touch(impl_->node);
      auto source = tree.impl_->store;
      tree.impl_->Rebind(impl_->store, copy.internal_object());
      Discard(*source, node);
      return true;
    }
  }
  xml_node parent = Node(impl_->node);
  xml_node node = Node(tree.impl_->node);
  for (xml_node up = parent; up; up = up.parent()) {
    if (up == node) {
      lastError_ = "A node cannot become a child of itself or of its own subtree";
      return false;
    }
  }
  impl_->store->Touch(node.parent().internal_object());
  parent.append_move(node);
  impl_->store->Touch(impl_->node);
  return true;
}

void XmlNode::RemoveAllChildren() {
  xml_node parent = Node(impl_->node);
  const auto referenced = ReferencedChildren(*impl_->store, parent);
  for (xml_node child = parent.first_child(); child;) {
    xml_node next = child.next_sibling();
    if (referenced.contains(child.internal_object())) impl_->store->doc.append_move(child);
    else DestroySubtree(*impl_->store, child);
    child = next;
  }
  impl_->store->Touch(impl_->node);
}

bool XmlNode::LoadXml(std::string_view text) {
  XmlBytes bytes(text.size());
  std::copy(text.begin(), text.end(), bytes.Data());
  return Load(std::move(bytes), true);
}

bool XmlNode::LoadXmlBytes(std::span<const std::uint8_t> bytes) {
  XmlBytes copy(bytes.size());
  std::copy(bytes.begin(), bytes.end(), copy.Data());
  return Load(std::move(copy), false);
}

bool XmlNode::LoadXmlBytes(XmlBytes bytes) { return Load(std::move(bytes), false); }

bool XmlNode::Load(XmlBytes bytes, bool utf8Text) {
  auto parsed = std::make_shared<detail::XmlStore>();
  const detail::XmlReadResult read =
      detail::ReadXml(parsed->doc, reinterpret_cast<const char*>(bytes.Data()), bytes.Size(), utf8Text);
  bytes = XmlBytes(0);
  if (!read.Root) {
    lastError_ = read.Error;
    return false;
  }
  xml_node root = read.Root;
  lastError_.clear();
  // The parsed root takes this node's place.
  pugi::xml_node_struct* parsedRoot = root.internal_object();
  xml_node self = Node(impl_->node);
  auto it = impl_->store->handles.find(impl_->node);
  const bool alone = it != impl_->store->handles.end() && it->second == 1;
  if (alone && IsTopLevel(self) && !self.first_child() && !self.first_attribute()) {
    // A free-standing empty node only this object stands for simply becomes
    // the parsed root, in the parsed document's store.
    auto old = impl_->store;
    impl_->Rebind(std::move(parsed), parsedRoot);
    DestroySubtree(*old, self);
    return true;
  }
  // Elsewhere the node keeps its place and takes over the root's tag,
  // attributes and children.
  RemoveAllChildren();
  while (pugi::xml_attribute a = self.first_attribute()) self.remove_attribute(a);
  self.set_name(root.name());
  for (pugi::xml_attribute a : root.attributes()) self.append_attribute(a.name()).set_value(a.value());
  for (xml_node child : root.children()) self.append_copy(child);
  impl_->store->Touch(impl_->node);
  return true;
}

std::string XmlNode::GetXml() const {
  std::string text;
  if (!encoding_.empty()) text = Declaration(encoding_);
  detail::WriteXml(Node(impl_->node), text);
  return text;
}

bool XmlNode::SaveXml(const std::string& path) {
  std::optional<io::AtomicFile> file;
  try {
    file.emplace(path);
  } catch (const std::filesystem::filesystem_error& e) {
    lastError_ = "Cannot open " + path + " for writing: " + e.code().message();
    return false;
  }
  std::string failure;
  std::string pending = Declaration(encoding_);
  const auto drain = [&](std::string& text) {
    if (failure.empty()) {
      try {
        file->Write(text);
      } catch (const std::exception& e) {
        failure = e.what();
      }
    }
    text.clear();
  };
  detail::WriteXml(Node(impl_->node), pending, drain);
  if (failure.empty()) {
    try {
      file->Commit();
    } catch (const std::exception& e) {
      failure = e.what();
    }
  }
  if (!failure.empty()) {
    lastError_ = "Cannot write " + path + ": " + failure;
    return false;
  }
  return true;
}

}  // namespace qm

#include "quillmark/automation/XmlNode.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <new>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "automation/XmlReader.h"
#include "automation/XmlStore.h"
#include "automation/XmlTree.h"
#include "automation/XmlWriter.h"
#include "frame/FileErrors.h"
#include "io/AtomicFile.h"
#include "io/System.h"
#include "quillmark/errors/ErrorNumbers.h"

namespace qm {

namespace {

using detail::kNoXml;
using detail::kXmlDocument;
using detail::XmlAttrId;
using detail::XmlId;
using detail::XmlKind;
using detail::XmlTree;
using Store = detail::XmlStore;
using detail::TextOf;

bool IsTopLevel(const XmlTree& tree, XmlId node) { return tree.Parent(node) == kXmlDocument; }

// Removes a subtree with the versions of its elements.
void DestroySubtree(Store& store, XmlId root) {
  if (!store.versions.empty()) {
    detail::FindInSubtree(store.tree, root, [&](XmlId node) {
      store.versions.erase(node);
      return false;
    });
  }
  store.tree.Remove(root);
}

// The children of `parent` inside which some XmlNode still stands.
std::unordered_set<XmlId> ReferencedChildren(const Store& store, XmlId parent) {
  std::unordered_set<XmlId> referenced;
  for (const auto& [handle, count] : store.handles) {
    for (XmlId node = handle; node; node = store.tree.Parent(node)) {
      if (store.tree.Parent(node) == parent) {
        referenced.insert(node);
        break;
      }
    }
  }
  return referenced;
}

bool IsReferencedWithin(const Store& store, XmlId root) {
  for (const auto& [handle, count] : store.handles) {
    for (XmlId node = handle; node; node = store.tree.Parent(node))
      if (node == root) return true;
  }
  return false;
}

// True when `node` has exactly one XmlNode and none stands inside it.
bool StandsAloneIn(const Store& store, XmlId node) {
  for (const auto& [handle, count] : store.handles) {
    if (handle == node) {
      if (count != 1) return false;
      continue;
    }
    for (XmlId up = handle; up; up = store.tree.Parent(up))
      if (up == node) return false;
  }
  return true;
}

// The number of nodes in a subtree, counted up to `limit`.
constexpr std::size_t kSmallTree = 4096;
std::size_t SubtreeSize(const XmlTree& tree, XmlId root, std::size_t limit) {
  std::size_t count = 0;
  detail::FindInSubtree(tree, root, [&](XmlId) { return ++count >= limit; });
  return count;
}

// Takes a child out of its tree: destroyed, or kept as a free-standing node
// while an XmlNode still stands inside it.
void Discard(Store& store, XmlId node) {
  store.Touch(store.tree.Parent(node));
  if (IsReferencedWithin(store, node)) store.tree.Move(kXmlDocument, node);
  else DestroySubtree(store, node);
}

std::string Declaration(const std::string& encoding) {
  std::string text = "<?xml version=\"1.0\"";
  if (!encoding.empty()) text += " encoding=\"" + encoding + "\"";
  return text + "?>\n";
}

// An encoding name as the declaration allows it.
bool IsEncodingName(std::string_view name) {
  const auto letter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
  if (name.empty() || !letter(name[0])) return false;
  return std::all_of(name.begin(), name.end(),
                     [&](char c) { return letter(c) || (c >= '0' && c <= '9') || c == '.' || c == '_' || c == '-'; });
}

detail::XmlSource FromMemory(const void* data, std::size_t size) {
  return [bytes = static_cast<const char*>(data), size](std::uint64_t offset, char* out, std::size_t count) {
    if (offset >= size) return std::size_t{0};
    count = std::min<std::size_t>(count, size - static_cast<std::size_t>(offset));
    std::memcpy(out, bytes + offset, count);
    return count;
  };
}

}  // namespace

XmlBytes::XmlBytes(std::size_t size) : data_(std::malloc(size ? size : 1)), size_(size) {
  if (!data_) throw std::bad_alloc();
  // No pages are asked for in advance: they come as the bytes are read in.
}

XmlBytes::XmlBytes(XmlBytes&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}

XmlBytes& XmlBytes::operator=(XmlBytes&& other) noexcept {
  if (this != &other) {
    std::free(data_);
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
  }
  return *this;
}

XmlBytes::~XmlBytes() { std::free(data_); }

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
    XmlId Child = kNoXml;
    std::int32_t Count = -1;
  };

  Impl(std::shared_ptr<Store> in, XmlId element) : store(std::move(in)), node(element) { store->Register(node); }
  // A new element at the top level of the store.
  static std::unique_ptr<Impl> NewElement(std::shared_ptr<Store> store) {
    const XmlId element = store->tree.Append(kXmlDocument, XmlKind::Element);
    return std::make_unique<Impl>(std::move(store), element);
  }

  void Rebind(std::shared_ptr<Store> to, XmlId element) {
    to->Register(element);
    store->Unregister(node);
    store = std::move(to);
    node = element;
    cursor = {};
  }
  XmlTree& Tree() const { return store->tree; }
  ChildCursor& Cursor(std::string_view tag, bool anyTag);
  std::int32_t Count(std::string_view tag, bool anyTag);
  XmlId Nth(std::string_view tag, bool anyTag, std::int32_t index);

  std::shared_ptr<Store> store;
  XmlId node;
  ChildCursor cursor;
  bool writeFailed = false;  // the last SaveXml failed writing or placing its file
  std::string encoding;      // named in the declaration GetXml and SaveXml write
  std::string lastError;
};

XmlNode::XmlNode() : impl_(Impl::NewElement(std::make_shared<Store>())) {}

XmlNode::XmlNode(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

XmlNode::~XmlNode() { detail::ReleaseHandle(impl_->store, impl_->node); }

const std::string& XmlNode::Encoding() const { return impl_->encoding; }
void XmlNode::SetEncoding(std::string encoding) { impl_->encoding = std::move(encoding); }
const std::string& XmlNode::LastErrorText() const { return impl_->lastError; }

std::shared_ptr<XmlNode> XmlNode::NewNode() const {
  return std::shared_ptr<XmlNode>(new XmlNode(Impl::NewElement(impl_->store)));
}

std::string XmlNode::Tag() const { return std::string(impl_->Tree().Name(impl_->node)); }
void XmlNode::SetTag(std::string_view tag) { impl_->Tree().SetName(impl_->node, tag); }

std::string XmlNode::Content() const { return TextOf(impl_->Tree(), impl_->node); }

void XmlNode::SetContent(std::string_view content) { detail::ReplaceText(impl_->Tree(), impl_->node, content); }

XmlNode::Impl::ChildCursor& XmlNode::Impl::Cursor(std::string_view tag, bool anyTag) {
  const std::uint64_t version = store->Version(node);
  if (!cursor.Valid || cursor.Version != version || cursor.AnyTag != anyTag || (!anyTag && cursor.Tag != tag)) {
    cursor = ChildCursor{true, version, anyTag, anyTag ? std::string() : std::string(tag), -1, kNoXml, -1};
  }
  return cursor;
}

std::int32_t XmlNode::Impl::Count(std::string_view tag, bool anyTag) {
  ChildCursor& cursor = Cursor(tag, anyTag);
  if (cursor.Count < 0) {
    const XmlTree& tree = Tree();
    const std::uint32_t name = anyTag ? 0 : tree.FindName(tag);
    std::int32_t count = 0;
    if (name != XmlTree::kNoName) {
      for (XmlId child = tree.FirstChild(node); child; child = tree.NextSibling(child))
        if (tree.Kind(child) == XmlKind::Element && (anyTag || tree.NameNumber(child) == name)) ++count;
    }
    cursor.Count = count;
  }
  return cursor.Count;
}

XmlId XmlNode::Impl::Nth(std::string_view tag, bool anyTag, std::int32_t index) {
  if (index < 0) return kNoXml;
  ChildCursor& cursor = Cursor(tag, anyTag);
  const XmlTree& tree = Tree();
  const std::uint32_t name = anyTag ? 0 : tree.FindName(tag);
  if (name == XmlTree::kNoName) return kNoXml;
  XmlId child;
  std::int32_t at;
  if (cursor.Child && cursor.Index <= index) {
    child = cursor.Child;
    at = cursor.Index;
  } else {
    child = tree.FirstChild(node);
    at = -1;
  }
  // `at` is the index of `child` when it matches, -1 before the first match.
  const auto matches = [&](XmlId n) {
    return tree.Kind(n) == XmlKind::Element && (anyTag || tree.NameNumber(n) == name);
  };
  if (at < 0) {
    while (child && !matches(child)) child = tree.NextSibling(child);
    if (!child) return kNoXml;
    at = 0;
  }
  while (at < index) {
    do child = tree.NextSibling(child);
    while (child && !matches(child));
    if (!child) return kNoXml;
    ++at;
  }
  cursor.Child = child;
  cursor.Index = at;
  return child;
}

std::int32_t XmlNode::NumChildren() const { return impl_->Count({}, true); }

std::int32_t XmlNode::NumChildrenHavingTag(std::string_view tag) const { return impl_->Count(tag, false); }

std::shared_ptr<XmlNode> XmlNode::GetChild(std::int32_t index) const {
  const XmlId child = impl_->Nth({}, true, index);
  if (!child) return nullptr;
  return std::shared_ptr<XmlNode>(new XmlNode(std::make_unique<Impl>(impl_->store, child)));
}

std::shared_ptr<XmlNode> XmlNode::GetNthChildWithTag(std::string_view tag, std::int32_t index) const {
  const XmlId child = impl_->Nth(tag, false, index);
  if (!child) return nullptr;
  return std::shared_ptr<XmlNode>(new XmlNode(std::make_unique<Impl>(impl_->store, child)));
}

std::string XmlNode::GetChildContent(std::string_view tag) const {
  return detail::ChildTextOf(impl_->Tree(), impl_->node, tag);
}

void XmlNode::AddAttribute(std::string_view name, std::string_view value) {
  impl_->Tree().SetAttribute(impl_->node, name, value);
}

std::string XmlNode::GetAttrValue(std::string_view name) const {
  const XmlTree& tree = impl_->Tree();
  const XmlAttrId attribute = tree.FindAttribute(impl_->node, name);
  return attribute ? std::string(tree.AttributeValue(attribute)) : std::string();
}

void XmlNode::NewChild(std::string_view tag, std::string_view content) {
  detail::AppendChildElement(*impl_->store, impl_->node, tag, content);
}

bool XmlNode::AddChildTree(XmlNode& tree) {
  if (tree.impl_->store != impl_->store) {
    const XmlId parent = impl_->node;
    const XmlId node = tree.impl_->node;
    if (IsTopLevel(impl_->Tree(), parent) && StandsAloneIn(*impl_->store, parent) &&
        StandsAloneIn(*tree.impl_->store, node) &&
        SubtreeSize(impl_->Tree(), parent, kSmallTree) < SubtreeSize(tree.impl_->Tree(), node, kSmallTree)) {
      // The smaller side moves: this free-standing node goes over to the
      // tree's store. Nothing else refers into either side, so the result
      // is the same as copying the tree.
      auto old = impl_->store;
      impl_->Rebind(tree.impl_->store, tree.impl_->Tree().AppendCopy(kXmlDocument, old->tree, parent));
      DestroySubtree(*old, parent);
    } else {
      const XmlId copy = impl_->Tree().AppendCopy(parent, tree.impl_->Tree(), node);
      impl_->store->Touch(parent);
      auto source = tree.impl_->store;
      tree.impl_->Rebind(impl_->store, copy);
      Discard(*source, node);
      return true;
    }
  }
  XmlTree& shared = impl_->Tree();
  const XmlId parent = impl_->node;
  const XmlId node = tree.impl_->node;
  for (XmlId up = parent; up; up = shared.Parent(up)) {
    if (up == node) {
      impl_->lastError = "A node cannot become a child of itself or of its own subtree";
      return false;
    }
  }
  impl_->store->Touch(shared.Parent(node));
  shared.Move(parent, node);
  impl_->store->Touch(parent);
  return true;
}

void XmlNode::RemoveAllChildren() {
  XmlTree& tree = impl_->Tree();
  const XmlId parent = impl_->node;
  const auto referenced = ReferencedChildren(*impl_->store, parent);
  for (XmlId child = tree.FirstChild(parent); child;) {
    const XmlId next = tree.NextSibling(child);
    if (referenced.contains(child)) tree.Move(kXmlDocument, child);
    else DestroySubtree(*impl_->store, child);
    child = next;
  }
  tree.SetValue(parent, {});
  impl_->store->Touch(parent);
}

bool XmlNode::LoadXml(std::string_view text) { return Load(FromMemory(text.data(), text.size()), true); }

bool XmlNode::LoadXmlBytes(std::span<const std::uint8_t> bytes) {
  return Load(FromMemory(bytes.data(), bytes.size()), false);
}

bool XmlNode::LoadXmlBytes(XmlBytes bytes) { return Load(std::move(bytes), false); }

bool XmlNode::Load(XmlBytes bytes, bool utf8Text) { return Load(FromMemory(bytes.Data(), bytes.Size()), utf8Text); }

bool XmlNode::LoadXmlFrom(const std::function<std::size_t(std::uint64_t, std::uint8_t*, std::size_t)>& read) {
  return Load(
      [&read](std::uint64_t offset, char* data, std::size_t size) {
        return std::min(size, read(offset, reinterpret_cast<std::uint8_t*>(data), size));
      },
      false);
}

bool XmlNode::Load(const detail::XmlSource& source, bool utf8Text) {
  auto parsed = std::make_shared<Store>();
  const detail::XmlReadResult read = detail::ReadXml(parsed->tree, source, utf8Text);
  if (!read.Root) {
    impl_->lastError = read.Error;
    return false;
  }
  const XmlTree& from = parsed->tree;
  const XmlId root = read.Root;
  impl_->lastError.clear();
  // The parsed root takes this node's place.
  XmlTree& tree = impl_->Tree();
  const XmlId self = impl_->node;
  auto it = impl_->store->handles.find(self);
  const bool alone = it != impl_->store->handles.end() && it->second == 1;
  if (alone && IsTopLevel(tree, self) && !tree.FirstChild(self) && !tree.FirstAttribute(self) &&
      tree.Value(self).empty()) {
    // A free-standing empty node only this object stands for simply becomes
    // the parsed root, in the parsed document's store.
    auto old = impl_->store;
    impl_->Rebind(std::move(parsed), root);
    DestroySubtree(*old, self);
    return true;
  }
  // Elsewhere the node keeps its place and takes over the root's tag,
  // attributes, text and children.
  RemoveAllChildren();
  tree.RemoveAttributes(self);
  tree.SetName(self, from.Name(root));
  XmlAttrId last = 0;
  for (XmlAttrId a = from.FirstAttribute(root); a; a = from.NextAttribute(a))
    last = tree.InsertAttribute(self, last, from.AttributeName(a), from.AttributeValue(a));
  tree.AddText(self, kNoXml, from.Value(root));
  for (XmlId child = from.FirstChild(root); child; child = from.NextSibling(child)) tree.AppendCopy(self, from, child);
  impl_->store->Touch(self);
  return true;
}

std::string XmlNode::GetXml() const {
  std::string text;
  if (!impl_->encoding.empty()) text = Declaration(impl_->encoding);
  detail::WriteXml(impl_->Tree(), impl_->node, text);
  return text;
}

bool XmlNode::SaveFailedWriting() const noexcept { return impl_->writeFailed; }

bool XmlNode::SaveXml(const std::string& path) {
  return detail::SaveTree(impl_->Tree(), impl_->node, path, impl_->encoding, impl_->lastError, impl_->writeFailed);
}

XmlElement AsXmlElement(const XmlNode& node) {
  return detail::XmlElementAccess::Make(node.impl_->store, node.impl_->node);
}

std::shared_ptr<XmlNode> AsXmlNode(const XmlElement& element) {
  const detail::XmlHandle& handle = detail::XmlElementAccess::Handle(element);
  return std::shared_ptr<XmlNode>(new XmlNode(std::make_unique<XmlNode::Impl>(handle.Store(), handle.Node())));
}

namespace detail {

void ReleaseHandle(const std::shared_ptr<XmlStore>& store, XmlId node) {
  store->Unregister(node);
  // The last handle of a store takes the whole tree with it.
  if (store->handles.empty() || store.use_count() == 1) return;
  if (IsTopLevel(store->tree, node) && !IsReferencedWithin(*store, node)) DestroySubtree(*store, node);
}

std::string TextOf(const XmlTree& tree, XmlId element) {
  std::string text(tree.Value(element));
  for (XmlId child = tree.FirstChild(element); child; child = tree.NextSibling(child))
    if (tree.Kind(child) == XmlKind::Text) text += tree.Value(child);
  return text;
}

void ReplaceText(XmlTree& tree, XmlId element, std::string_view text) {
  for (XmlId child = tree.FirstChild(element); child;) {
    const XmlId next = tree.NextSibling(child);
    const XmlKind kind = tree.Kind(child);
    if (kind == XmlKind::Text || kind == XmlKind::Reference) tree.Remove(child);
    child = next;
  }
  tree.SetValue(element, {});
  tree.AddText(element, tree.LastChild(element), text);
}

std::string ChildTextOf(const XmlTree& tree, XmlId element, std::string_view tag) {
  const std::uint32_t name = tree.FindName(tag);
  if (name == XmlTree::kNoName) return {};
  for (XmlId child = tree.FirstChild(element); child; child = tree.NextSibling(child))
    if (tree.Kind(child) == XmlKind::Element && tree.NameNumber(child) == name) return TextOf(tree, child);
  return {};
}

XmlId AppendChildElement(XmlStore& store, XmlId parent, std::string_view tag, std::string_view text) {
  const XmlId child = store.tree.Append(parent, XmlKind::Element, tag);
  store.tree.AddText(child, kNoXml, text);
  store.Touch(parent);
  return child;
}

bool SaveTree(const XmlTree& tree, XmlId node, const std::string& path, const std::string& encoding, std::string& error,
              bool& writeFailed) {
  writeFailed = false;
  if (!encoding.empty() && !IsEncodingName(encoding)) {
    error = "Cannot write " + path + ": the encoding name \"" + encoding + "\" cannot be declared";
    return false;
  }
  std::optional<io::AtomicFile> file;
  try {
    file.emplace(path);
  } catch (const std::filesystem::filesystem_error& e) {
    error = "Cannot open " + path + " for writing: " + e.code().message();
    return false;
  }
  // The text goes to the file in pieces as it is made, written behind while
  // the next piece is made; names and texts that would not read back stop it.
  std::string failure;
  // The system's reason; a new file in place whose folder could not be
  // synced says so.
  const auto fail = [&](const std::exception& e) {
    const auto* system = dynamic_cast<const std::filesystem::filesystem_error*>(&e);
    if (!system) failure = e.what();
    else if (dynamic_cast<const frame::FolderNotSynced*>(&e))
      failure = "the new file is in place but its folder cannot be synced: " + system->code().message();
    else failure = system->code().message();
  };
  std::string pending = Declaration(encoding);
  const auto drain = [&](std::string& text) {
    if (failure.empty()) {
      try {
        text = file->WriteBehind(std::move(text));
      } catch (const std::exception& e) {
        fail(e);
      }
    }
    text.clear();
  };
  const std::string refused = WriteXml(tree, node, pending, drain, true);
  if (!refused.empty()) {
    error = "Cannot write " + path + ": " + refused;
    return false;
  }
  if (failure.empty()) {
    try {
      file->Commit();
    } catch (const std::exception& e) {
      fail(e);
    }
  }
  if (!failure.empty()) {
    error = "Cannot write " + path + ": " + failure;
    writeFailed = true;
    return false;
  }
  return true;
}

XmlFileRead ReadXmlFile(const std::filesystem::path& file) {
  XmlFileRead result{std::make_shared<XmlStore>(), {}, false};
  const std::uintmax_t size = std::filesystem::file_size(file);
  if (size == 0) {
    result.Empty = true;
    return result;
  }
  // The document is parsed as it is read, in pieces: its first `size`
  // bytes (fewer when it has shrunk); 53 for a file that cannot be opened,
  // 57 for a failed read.
  struct Descriptor {
    int Fd;
    ~Descriptor() {
      if (Fd >= 0) io::sys::Close(Fd);
    }
  } const descriptor{io::sys::Open(file.c_str(), O_RDONLY)};
  if (descriptor.Fd < 0) frame::RaiseErrno(ERR_FileNotFound, errno);
  result.Read = ReadXml(
      result.Store->tree,
      [&](std::uint64_t offset, char* data, std::size_t count) {
        if (offset >= size) return std::size_t{0};
        count = static_cast<std::size_t>(std::min<std::uintmax_t>(count, size - offset));
        const ssize_t got = io::sys::PReadFull(descriptor.Fd, data, count, static_cast<off_t>(offset));
        if (got < 0) frame::RaiseErrno(ERR_DeviceIO, errno);
        return static_cast<std::size_t>(got);
      },
      false);
  return result;
}

XmlFileRead ReadXmlText(std::string_view text) {
  XmlFileRead result{std::make_shared<XmlStore>(), {}, false};
  result.Read = ReadXml(result.Store->tree, FromMemory(text.data(), text.size()), true);
  return result;
}

}  // namespace detail
}  // namespace qm

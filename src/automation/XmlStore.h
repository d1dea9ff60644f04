#pragma once
// The store behind XmlElement and XmlNode: one XmlTree and the handles on its
// elements. The typed functions (LoadXml, ParseXml, XmlElement) work on it
// directly; XmlNode and XML are built on the same store, so an XmlElement and
// an XmlNode may stand for one element.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

#include "automation/XmlReader.h"
#include "automation/XmlTree.h"
#include "quillmark/automation/XmlQuery.h"

namespace qm::detail {

// One tree holding a document and the free-standing nodes made from it (each
// a top-level element), plus the bookkeeping that keeps handles safe: how
// many of them stand for each element, and a version per element whose child
// list has changed (for XmlNode's child caches).
struct XmlStore {
  XmlTree tree;
  std::unordered_map<XmlId, std::int32_t> handles;
  std::unordered_map<XmlId, std::uint64_t> versions;

  void Register(XmlId node) { ++handles[node]; }
  void Unregister(XmlId node) {
    auto it = handles.find(node);
    if (it != handles.end() && --it->second == 0) handles.erase(it);
  }
  void Touch(XmlId parent) { ++versions[parent]; }
  std::uint64_t Version(XmlId parent) const {
    auto it = versions.find(parent);
    return it == versions.end() ? 0 : it->second;
  }
};

// Drops one handle on `node`: a free-standing element nobody refers into
// any more goes at once (the last handle of a store takes the whole tree).
void ReleaseHandle(const std::shared_ptr<XmlStore>& store, XmlId node);

// What an XmlElement holds: an element, registered with its store while the
// handle lives, so it outlives its removal from the tree (kept detached).
class XmlHandle {
 public:
  XmlHandle(std::shared_ptr<XmlStore> store, XmlId node) : store_(std::move(store)), node_(node) {
    store_->Register(node_);
  }
  XmlHandle(const XmlHandle&) = delete;
  XmlHandle& operator=(const XmlHandle&) = delete;
  ~XmlHandle() { ReleaseHandle(store_, node_); }

  const std::shared_ptr<XmlStore>& Store() const { return store_; }
  XmlTree& Tree() const { return store_->tree; }
  XmlId Node() const { return node_; }

 private:
  std::shared_ptr<XmlStore> store_;
  XmlId node_;
};

// Makes XmlElements and reaches their element (XmlElement's friend).
struct XmlElementAccess {
  static XmlElement Make(std::shared_ptr<XmlStore> store, XmlId node) {
    return XmlElement(std::make_shared<XmlHandle>(std::move(store), node));
  }
  static const XmlHandle& Handle(const XmlElement& element) { return *element.handle_; }
};

// The text of an element: its own text and its text children joined
// (comments, processing instructions and entity references left out).
std::string TextOf(const XmlTree& tree, XmlId element);
// Replaces every piece of an element's text (and the entity references
// among them); comments and processing instructions stay.
void ReplaceText(XmlTree& tree, XmlId element, std::string_view text);
// The text of the first child element named `tag`; "" when there is none.
std::string ChildTextOf(const XmlTree& tree, XmlId element, std::string_view tag);
// Appends a child element with that tag and text; gives it.
XmlId AppendChildElement(XmlStore& store, XmlId parent, std::string_view tag, std::string_view text);

// Writes the XML declaration (naming `encoding` when it is not empty) and
// `node` with its subtree to `path`, whole, through io::AtomicFile. False
// with `error` set when it cannot; `writeFailed` tells a failure of the file
// system while writing or placing the file from a refusal of the tree.
bool SaveTree(const XmlTree& tree, XmlId node, const std::string& path, const std::string& encoding, std::string& error,
              bool& writeFailed);

// A file read into a new store: Read.Root is its root element, or kNoXml with
// the reader's failure; Empty when the file has no bytes (then nothing was
// parsed).
struct XmlFileRead {
  std::shared_ptr<XmlStore> Store;
  XmlReadResult Read;
  bool Empty = false;
};
// Reads `file` as XML::LoadFile does, in pieces: raises 53 when it is
// missing or cannot be opened, 57 when a read fails.
XmlFileRead ReadXmlFile(const std::filesystem::path& file);
// XML text read into a new store, taken as UTF-8 whatever it declares.
XmlFileRead ReadXmlText(std::string_view text);

}  // namespace qm::detail

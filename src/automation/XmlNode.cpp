#include "quillmark/automation/XmlNode.h"

#include <cstdio>
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <new>
#include <optional>
#include <utility>
#include <vector>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__)
#include <immintrin.h>
#endif
#include <pugixml.hpp>
#include <unordered_map>
#include <unordered_set>

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

// Keeps text-only whitespace content ("<a> </a>"); comments, processing
// instructions and the document type are read but not kept.
constexpr unsigned kParseOptions = pugi::parse_default | pugi::parse_ws_pcdata_single;
constexpr const char* kIndent = "  ";

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
  xml_node node = root;
  for (;;) {
    if (++count >= limit) return count;
    if (xml_node child = node.first_child()) {
      node = child;
      continue;
    }
    while (node != root && !node.next_sibling()) node = node.parent();
    if (node == root) return count;
    node = node.next_sibling();
  }
}

// Takes a child out of its tree: destroyed, or kept as a free-standing node
// while an XmlNode still stands inside it.
void Discard(Store& store, xml_node node) {
  store.Touch(node.parent().internal_object());
  if (IsReferencedWithin(store, node))
    store.doc.append_move(node);
  else
    DestroySubtree(store, node);
}

// True when `text` is well-formed UTF-8 made only of characters XML allows.
bool IsXmlText(const char* text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text);
  while (*p) {
    const unsigned char c = *p;
    if (c < 0x80) {
      if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') return false;
      ++p;
      continue;
    }
    int extra;
    std::uint32_t cp;
    if (c >= 0xC2 && c <= 0xDF) {
      extra = 1, cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      extra = 2, cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      extra = 3, cp = c & 0x07;
    } else {
      return false;
    }
    for (int i = 1; i <= extra; ++i) {
      if ((p[i] & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (p[i] & 0x3F);
    }
    const bool overlong = (extra == 2 && cp < 0x800) || (extra == 3 && cp < 0x10000);
    if (overlong || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF) || cp == 0xFFFE || cp == 0xFFFF) return false;
    p += extra + 1;
  }
  return true;
}

// Every name and value in the subtree, walked without recursion.
bool IsXmlTree(xml_node root) {
  xml_node node = root;
  for (;;) {
    if (!IsXmlText(node.name()) || !IsXmlText(node.value())) return false;
    for (pugi::xml_attribute a : node.attributes())
      if (!IsXmlText(a.name()) || !IsXmlText(a.value())) return false;
    if (xml_node child = node.first_child()) {
      node = child;
      continue;
    }
    while (node != root && !node.next_sibling()) node = node.parent();
    if (node == root) return true;
    node = node.next_sibling();
  }
}

// Indentation grows with depth; past this many levels the output is written
// without it, so that its size stays proportional to the tree.
constexpr int kMaxIndentedDepth = 64;

unsigned OutputFormat(xml_node root) {
  int depth = 0;
  xml_node node = root;
  for (;;) {
    if (xml_node child = node.first_child()) {
      if (++depth > kMaxIndentedDepth) return pugi::format_raw;
      node = child;
      continue;
    }
    while (node != root && !node.next_sibling()) {
      node = node.parent();
      --depth;
    }
    if (node == root) return pugi::format_indent;
    node = node.next_sibling();
  }
}

// What the raw bytes of a document say, when they are UTF-8.
struct RawText {
  bool Valid = true;                 // well-formed UTF-8 of characters XML allows
  bool OnlyMarkupAtTheEdges = true;  // white space only before the first '<' and after the last '>'
  bool HasCharacterReference = false;
  bool HasNulReference = false;      // "&#0;", "&#x000;"...: decoded, it would end the value it is in
};

// The value of the character reference at `text` ("&#...;") as the parser
// decodes it, or nullopt when it is not one.
std::optional<std::uint32_t> CharacterReferenceAt(std::string_view text) {
  if (!text.starts_with("&#")) return std::nullopt;
  std::size_t i = 2;
  const bool hex = i < text.size() && text[i] == 'x';
  if (hex) ++i;
  std::uint32_t value = 0;
  const std::size_t first = i;
  for (; i < text.size() && text[i] != ';'; ++i) {
    const char c = text[i];
    const int digit = c >= '0' && c <= '9'               ? c - '0'
                      : hex && c >= 'a' && c <= 'f'      ? c - 'a' + 10
                      : hex && c >= 'A' && c <= 'F'      ? c - 'A' + 10
                                                         : -1;
    if (digit < 0) return std::nullopt;
    // Wraps as the parser's own decoding does: "&#x100000000;" is U+0000 to it.
    value = value * (hex ? 16u : 10u) + static_cast<std::uint32_t>(digit);
  }
  if (i == first || i == text.size()) return std::nullopt;
  return value;
}

// Text of white space only beside other children is layout, not kept, when
// written as such; text that becomes white space only through references
// ("&#10;") is treated alike, so that what is kept does not depend on how the
// white space was written (and a rendering loads again to the same tree).
void DropBlankTextBesideElements(xml_node root) {
  std::vector<xml_node> blank;
  struct Walker : pugi::xml_tree_walker {
    std::vector<xml_node>& Blank;
    explicit Walker(std::vector<xml_node>& b) : Blank(b) {}
    bool for_each(xml_node& node) override {
      if (node.type() == pugi::node_pcdata && (node.previous_sibling() || node.next_sibling()) &&
          std::string_view(node.value()).find_first_not_of(" \t\r\n") == std::string_view::npos)
        Blank.push_back(node);
      return true;
    }
  } walker(blank);
  root.traverse(walker);
  for (xml_node node : blank) node.parent().remove_child(node);
}

// True when a character reference in an element's text or an attribute value
// names U+0000. Parsed with references decoded, such a value ends at the NUL,
// so neither the tree check nor a rendering sees it: `bytes` are parsed again
// with references left as written.
bool HasNulReferenceInValues(const std::uint8_t* bytes, std::size_t size, pugi::xml_encoding encoding) {
  pugi::xml_document doc;
  if (!doc.load_buffer(bytes, size, kParseOptions & ~pugi::parse_escapes, encoding)) return false;
  const auto nulIn = [](std::string_view value) {
    for (std::size_t at = value.find("&#"); at != std::string_view::npos; at = value.find("&#", at + 2))
      if (CharacterReferenceAt(value.substr(at)) == 0u) return true;
    return false;
  };
  struct Walker : pugi::xml_tree_walker {
    decltype(nulIn)& Nul;
    bool Found = false;
    explicit Walker(decltype(nulIn)& nul) : Nul(nul) {}
    bool for_each(xml_node& node) override {
      if (node.type() == pugi::node_pcdata) Found = Nul(node.value());
      for (pugi::xml_attribute a : node.attributes()) Found = Found || Nul(a.value());
      return !Found;
    }
  } walker(nulIn);
  doc.traverse(walker);
  return walker.Found;
}

// The first byte at or after `i` that the scan below must look at (a control
// character other than tab, LF or CR; '&'; or a byte of a multi-byte
// character), or where fewer than a vector's width of bytes are left.
using PlainSkipper = std::size_t (*)(const char* text, std::size_t i, std::size_t n);

std::size_t SkipPlainBytes(const char* text, std::size_t i, std::size_t n) {
#if defined(__SSE2__)
  for (; i + 16 <= n; i += 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i));
    // Signed: bytes from 0x80 on are below 0x20 too.
    const __m128i blank = _mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('\t')),
                                       _mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('\n')),
                                                    _mm_cmpeq_epi8(bytes, _mm_set1_epi8('\r'))));
    const __m128i other = _mm_or_si128(_mm_andnot_si128(blank, _mm_cmplt_epi8(bytes, _mm_set1_epi8(0x20))),
                                       _mm_cmpeq_epi8(bytes, _mm_set1_epi8('&')));
    const int found = _mm_movemask_epi8(other);
    if (found) return i + static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(found)));
  }
#endif
  return i;
}

#if defined(__x86_64__)
// The bytes of the 32 at `at` that SkipPlainBytes stops at, one bit each.
__attribute__((target("avx2"))) std::uint32_t MarkedBytesAvx2(const char* at) {
  const __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
  const __m256i blank = _mm256_or_si256(_mm256_cmpeq_epi8(bytes, _mm256_set1_epi8('\t')),
                                        _mm256_or_si256(_mm256_cmpeq_epi8(bytes, _mm256_set1_epi8('\n')),
                                                        _mm256_cmpeq_epi8(bytes, _mm256_set1_epi8('\r'))));
  const __m256i control = _mm256_cmpgt_epi8(_mm256_set1_epi8(0x20), bytes);
  return static_cast<std::uint32_t>(_mm256_movemask_epi8(
      _mm256_or_si256(_mm256_andnot_si256(blank, control), _mm256_cmpeq_epi8(bytes, _mm256_set1_epi8('&')))));
}

// SkipPlainBytes 64 bytes a step, on processors with AVX2.
__attribute__((target("avx2"))) std::size_t SkipPlainBytesAvx2(const char* text, std::size_t i, std::size_t n) {
  for (; i + 64 <= n; i += 64) {
    const std::uint64_t found =
        MarkedBytesAvx2(text + i) | static_cast<std::uint64_t>(MarkedBytesAvx2(text + i + 32)) << 32;
    if (found) return i + static_cast<std::size_t>(__builtin_ctzll(found));
  }
  return SkipPlainBytes(text, i, n);
}
#endif

PlainSkipper ChoosePlainSkipper() {
#if defined(__x86_64__)
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx2")) return SkipPlainBytesAvx2;
#endif
  return SkipPlainBytes;
}

RawText ScanRawText(const std::uint8_t* data, std::size_t size) {
  static const PlainSkipper skipPlain = ChoosePlainSkipper();
  RawText raw;
  std::string_view text(reinterpret_cast<const char*>(data), size);
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  // Runs of printable ASCII, tabs and line ends without "&" are passed a
  // vector at a time; the scan stops at the first other byte, looks at that
  // one character, and goes on a vector at a time after it.
  std::size_t i = 0;
  const std::size_t n = text.size();
  while (i < n) {
    i = skipPlain(text.data(), i, n);
    if (i >= n) break;
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c < 0x80) {
      if (c == '&' && i + 1 < n && text[i + 1] == '#') {
        raw.HasCharacterReference = true;
        if (CharacterReferenceAt(text.substr(i)) == 0u) raw.HasNulReference = true;
      }
      ++i;
    } else if (c < 0x80) {
      if (c != '\t' && c != '\n' && c != '\r') {
        raw.Valid = false;
        return raw;
      }
      ++i;
    } else {
      // A multi-byte character: check it whole, then go on after it.
      std::string one(text.substr(i, 4));
      std::size_t length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
      one.resize(std::min(length, one.size()));
      if (one.size() < length || !IsXmlText(one.c_str())) {
        raw.Valid = false;
        return raw;
      }
      i += length;
    }
  }
  const std::size_t first = text.find_first_not_of(" \t\r\n");
  const std::size_t last = text.find_last_not_of(" \t\r\n");
  raw.OnlyMarkupAtTheEdges = first == std::string_view::npos || (text[first] == '<' && text[last] == '>');
  return raw;
}

// Appends a piece of the parser's output. A carriage return can only reach
// the output from text (a "&#13;" read, or a value set): written raw, the next
// load would read it as a line feed, so it is written as the reference. The
// parser already does so in attribute values.
void AppendOutput(std::string& out, const void* data, std::size_t size) {
  std::string_view piece(static_cast<const char*>(data), size);
  for (std::size_t cr = piece.find('\r'); cr != std::string_view::npos; cr = piece.find('\r')) {
    out.append(piece.substr(0, cr)).append("&#13;");
    piece.remove_prefix(cr + 1);
  }
  out.append(piece);
}

struct StringWriter : pugi::xml_writer {
  std::string text;
  void write(const void* data, std::size_t size) override { AppendOutput(text, data, size); }
};

// Collects pugixml's small pieces into large writes to the file; the first
// failure is kept and later pieces are dropped.
struct FileWriter : pugi::xml_writer {
  static constexpr std::size_t kBlock = 1 << 18;
  io::AtomicFile& file;
  std::string pending;
  std::string failure;
  explicit FileWriter(io::AtomicFile& f) : file(f) {}
  void write(const void* data, std::size_t size) override {
    AppendOutput(pending, data, size);
    if (pending.size() >= kBlock) Flush();
  }
  void Flush() {
    if (!failure.empty()) return;
    try {
      file.Write(pending);
    } catch (const std::exception& e) {
      failure = e.what();
    }
    pending.clear();
  }
};

std::string Declaration(const std::string& encoding) {
  std::string text = "<?xml version=\"1.0\"";
  if (!encoding.empty()) text += " encoding=\"" + encoding + "\"";
  return text + "?>\n";
}

}  // namespace

XmlBytes::XmlBytes(std::size_t size)
    : data_(pugi::get_memory_allocation_function()(size ? size : 1)), size_(size) {
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

std::string XmlNode::Content() const { return Node(impl_->node).text().get(); }
void XmlNode::SetContent(std::string_view content) { Node(impl_->node).text().set(std::string(content).c_str()); }

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
    if (IsElementNamed(child, tag)) return child.text().get();
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
    if (IsTopLevel(parent) && StandsAloneIn(*impl_->store, parent) && StandsAloneIn(*tree.impl_->store, Node(tree.impl_->node)) &&
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
    if (referenced.contains(child.internal_object()))
      impl_->store->doc.append_move(child);
    else
      DestroySubtree(*impl_->store, child);
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
  // The raw checks come first: parsing in place changes the bytes.
  const RawText raw = ScanRawText(bytes.Data(), bytes.Size());
  // A document that is not UTF-8 is not scanned raw: it is checked for
  // references to U+0000 on a copy.
  std::optional<std::vector<std::uint8_t>> copy;
  if (raw.HasNulReference || !raw.Valid) copy.emplace(bytes.Data(), bytes.Data() + bytes.Size());
  auto parsed = std::make_shared<detail::XmlStore>();
  const std::size_t size = bytes.Size();
  const pugi::xml_parse_result result = parsed->doc.load_buffer_inplace_own(
      bytes.Release(), size, kParseOptions, utf8Text ? pugi::encoding_utf8 : pugi::encoding_auto);
  std::string error;
  xml_node root;
  if (!result) {
    error = std::string(result.description()) + " at offset " + std::to_string(result.offset);
  } else {
    for (xml_node node : parsed->doc.children()) {
      if (node.type() != pugi::node_element) continue;
      if (root) error = "More than one root element";
      root = node;
    }
    if (!root) {
      error = "No document element found";
    } else if (error.empty() && result.encoding == pugi::encoding_utf8) {
      if (!raw.Valid)
        error = "Invalid character or invalid UTF-8 in the document";
      else if (!raw.OnlyMarkupAtTheEdges)
        error = "Text outside the root element";
      else if (raw.HasCharacterReference && !IsXmlTree(root))
        error = "Character reference to a character XML does not allow";
    } else if (error.empty() && !IsXmlTree(root)) {
      error = "Invalid character in the document";
    }
    if (error.empty() && copy && HasNulReferenceInValues(copy->data(), copy->size(), result.encoding))
      error = "Character reference to a character XML does not allow";
  }
  if (!error.empty()) {
    lastError_ = std::move(error);
    return false;
  }
  if (raw.HasCharacterReference || !raw.Valid) DropBlankTextBesideElements(root);
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
  StringWriter writer;
  if (!encoding_.empty()) writer.text = Declaration(encoding_);
  Node(impl_->node).print(writer, kIndent, OutputFormat(Node(impl_->node)), pugi::encoding_utf8);
  return std::move(writer.text);
}

bool XmlNode::SaveXml(const std::string& path) {
  std::optional<io::AtomicFile> file;
  try {
    file.emplace(path);
  } catch (const std::filesystem::filesystem_error& e) {
    lastError_ = "Cannot open " + path + " for writing: " + e.code().message();
    return false;
  }
  FileWriter writer(*file);
  const std::string declaration = Declaration(encoding_);
  writer.write(declaration.data(), declaration.size());
  const unsigned format = OutputFormat(Node(impl_->node));
  Node(impl_->node).print(writer, kIndent, format, pugi::encoding_utf8);
  if (format == pugi::format_raw) writer.write("\n", 1);
  writer.Flush();
  if (writer.failure.empty()) {
    try {
      file->Commit();
    } catch (const std::exception& e) {
      writer.failure = e.what();
    }
  }
  if (!writer.failure.empty()) {
    lastError_ = "Cannot write " + path + ": " + writer.failure;
    return false;
  }
  return true;
}

}  // namespace qm

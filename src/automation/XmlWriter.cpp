#include "automation/XmlWriter.h"

#include "quillmark/values/Text.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <string_view>
#include <vector>

namespace qm::detail {
namespace {

constexpr int kMaxIndentedDepth = 64;
constexpr std::size_t kDrainAt = std::size_t{1} << 18;

// What a byte is in text or in an attribute value: written as it is, written
// as an escape, a control character XML does not allow, or the first of a
// character beyond ASCII.
enum : std::uint8_t { kPlain, kEscape, kControl, kWide };
using ByteKinds = std::array<std::uint8_t, 256>;

constexpr ByteKinds Kinds(std::string_view escaped) {
  ByteKinds kinds{};
  for (int c = 0; c < 0x20; ++c) kinds[static_cast<std::size_t>(c)] = kControl;
  for (int c = 0x80; c < 0x100; ++c) kinds[static_cast<std::size_t>(c)] = kWide;
  kinds['\t'] = kinds['\n'] = kinds['\r'] = kPlain;
  for (char c : escaped) kinds[static_cast<unsigned char>(c)] = kEscape;
  return kinds;
}
// Text: '>' too, so "]]>" never appears; a carriage return as a reference,
// since a raw one reads back as a line feed.
constexpr ByteKinds kTextKinds = Kinds("&<>\r");
// Attribute values: tabs and line ends as references, since a reader
// normalises raw ones to blanks.
constexpr ByteKinds kAttributeKinds = Kinds("&<\"\t\n\r");

std::string_view Escape(char c) {
  switch (c) {
    case '&': return "&amp;";
    case '<': return "&lt;";
    case '>': return "&gt;";
    case '"': return "&quot;";
    case '\t': return "&#9;";
    case '\n': return "&#10;";
    default: return "&#13;";
  }
}

// The character (UTF-8) at `at`, and its length; length 0 when the bytes
// are no UTF-8 of a character XML allows. The library's one strict decoder
// gives a byte that starts no valid sequence as a stand-in in the surrogate
// range, which XML refuses as it refuses a surrogate.
std::uint32_t CharAt(std::string_view text, std::size_t at, std::size_t& length) {
  std::size_t next = at;
  const char32_t c = NextCodePoint(text, next);
  const bool allowed = !(c >= 0xD800 && c <= 0xDFFF) && c != 0xFFFE && c != 0xFFFF;
  length = allowed ? next - at : 0;
  return c;
}

bool IsNameStart(std::uint32_t c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == ':' || (c >= 0xC0 && c <= 0xD6) ||
         (c >= 0xD8 && c <= 0xF6) || (c >= 0xF8 && c <= 0x2FF) || (c >= 0x370 && c <= 0x37D) ||
         (c >= 0x37F && c <= 0x1FFF) || (c >= 0x200C && c <= 0x200D) || (c >= 0x2070 && c <= 0x218F) ||
         (c >= 0x2C00 && c <= 0x2FEF) || (c >= 0x3001 && c <= 0xD7FF) || (c >= 0xF900 && c <= 0xFDCF) ||
         (c >= 0xFDF0 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0xEFFFF);
}

bool IsNameChar(std::uint32_t c) {
  return IsNameStart(c) || c == '-' || c == '.' || (c >= '0' && c <= '9') || c == 0xB7 || (c >= 0x300 && c <= 0x36F) ||
         (c >= 0x203F && c <= 0x2040);
}

// Whether every character of `text` is one XML allows.
bool AllowedText(std::string_view text) {
  for (std::size_t at = 0; at < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[at]);
    if (kTextKinds[c] == kControl) return false;
    std::size_t length = 1;
    if (c >= 0x80) {
      CharAt(text, at, length);
      if (length == 0) return false;
    }
    at += length;
  }
  return true;
}

std::string Quoted(std::string_view text) {
  std::string shown = "\"";
  for (char c : text.substr(0, 60)) {
    if (static_cast<unsigned char>(c) < 0x20) {
      char code[8];
      std::snprintf(code, sizeof code, "\\x%02X", static_cast<unsigned char>(c));
      shown += code;
    } else {
      shown += c;
    }
  }
  return shown + (text.size() > 60 ? "...\"" : "\"");
}

class Writer {
 public:
  Writer(const XmlTree& tree, std::string& out, const std::function<void(std::string&)>& drain, bool check)
      : tree_(tree), out_(out), drain_(drain), check_(check) {}

  std::string Write(XmlId top);

 private:
  struct Frame {
    XmlId Element;
    XmlId Next;    // the next child to write
    bool Block;    // children on lines of their own
    bool InBlock;  // the element itself on a line of its own
    int Depth;
  };

  bool IsText(XmlId node) const {
    const XmlKind kind = tree_.Kind(node);
    return kind == XmlKind::Text || kind == XmlKind::Reference;
  }
  // Children on lines of their own only in element content: some element
  // child, and no text.
  bool HasElementContent(XmlId element) const {
    if (!tree_.Value(element).empty()) return false;
    bool elements = false;
    for (XmlId child = tree_.FirstChild(element); child; child = tree_.NextSibling(child)) {
      if (IsText(child)) return false;
      elements = elements || tree_.Kind(child) == XmlKind::Element;
    }
    return elements;
  }
  // The next child that is written (the document type declaration is not).
  XmlId Written(XmlId node) const {
    while (node && tree_.Kind(node) == XmlKind::Doctype) node = tree_.NextSibling(node);
    return node;
  }

  void Fail(std::string why) {
    if (failure_.empty()) failure_ = std::move(why);
  }
  // Each name is checked once (by its number in the tree).
  void Name(std::uint32_t number, std::string_view name, const char* what) {
    if (!check_) return;
    if (number >= names_.size()) names_.resize(tree_.NameCount(), kUnchecked);
    if (names_[number] == kUnchecked) names_[number] = IsXmlName(name) ? kName : kNoName;
    if (names_[number] == kNoName) Fail(std::string(what) + " " + Quoted(name) + " is no XML name");
  }
  // Appends `text` with the bytes `kinds` marks escaped; with the check,
  // stops at a character XML does not allow.
  void Escaped(std::string_view text, const ByteKinds& kinds, XmlId owner) {
    std::size_t plain = 0;
    for (std::size_t at = 0; at < text.size();) {
      const unsigned char c = static_cast<unsigned char>(text[at]);
      const std::uint8_t kind = kinds[c];
      if (kind == kPlain || (kind != kEscape && !check_)) {
        ++at;
        continue;
      }
      if (kind == kEscape) {
        out_.append(text.substr(plain, at - plain)).append(Escape(static_cast<char>(c)));
        plain = ++at;
        continue;
      }
      std::size_t length = 0;
      if (kind == kWide) CharAt(text, at, length);
      if (length == 0) {
        char byte[8];
        std::snprintf(byte, sizeof byte, "0x%02X", c);
        return Fail("the text of <" + std::string(tree_.Name(owner)) + "> holds a byte XML 1.0 does not allow (" +
                    byte + " at " + std::to_string(at) + ")");
      }
      at += length;
    }
    out_.append(text.substr(plain));
  }

  void Doctype(XmlId top);
  void Indent(int depth) { out_.append(static_cast<std::size_t>(depth) * 2, ' '); }
  void Node(XmlId node, bool inBlock, int depth);

  const XmlTree& tree_;
  std::string& out_;
  const std::function<void(std::string&)>& drain_;
  bool check_;
  bool doctypeWritten_ = false;
  enum : std::uint8_t { kUnchecked, kName, kNoName };
  std::vector<std::uint8_t> names_;
  std::vector<Frame> stack_;
  std::string failure_;
};

// The document type declaration `top` holds, or the one of its document
// under `top`'s name when `top` holds an entity reference.
void Writer::Doctype(XmlId top) {
  for (XmlId holder = top; holder && tree_.Kind(holder) == XmlKind::Element; holder = tree_.Parent(holder)) {
    const XmlId first = tree_.FirstChild(holder);
    if (!first || tree_.Kind(first) != XmlKind::Doctype) continue;
    const std::string_view declaration = tree_.Value(first);
    if (holder == top) {
      out_.append(declaration).append("\n");
      doctypeWritten_ = true;
    } else if (FindInSubtree(tree_, top, [&](XmlId n) { return tree_.Kind(n) == XmlKind::Reference; })) {
      // "<!DOCTYPE" white space, the name, the rest.
      const std::size_t nameAt = declaration.find_first_not_of(" \t\r\n", 9);
      const std::size_t nameEnd = declaration.find_first_of(" \t\r\n[>", nameAt);
      if (nameAt == std::string_view::npos || nameEnd == std::string_view::npos) return;
      out_.append(declaration.substr(0, nameAt)).append(tree_.Name(top)).append(declaration.substr(nameEnd));
      out_.append("\n");
      doctypeWritten_ = true;
    }
    return;
  }
}

// Writes one node; an element with written children is opened and pushed.
void Writer::Node(XmlId node, bool inBlock, int depth) {
  if (inBlock) Indent(depth);
  switch (tree_.Kind(node)) {
    case XmlKind::Element: {
      const std::string_view name = tree_.Name(node);
      Name(tree_.NameNumber(node), name, "the element name");
      out_.append("<").append(name);
      for (XmlAttrId a = tree_.FirstAttribute(node); a; a = tree_.NextAttribute(a)) {
        Name(tree_.AttributeNameNumber(a), tree_.AttributeName(a), "the attribute name");
        out_.append(" ").append(tree_.AttributeName(a)).append("=\"");
        Escaped(tree_.AttributeValue(a), kAttributeKinds, node);
        out_.append("\"");
      }
      const std::string_view own = tree_.Value(node);
      const XmlId first = Written(tree_.FirstChild(node));
      if (!first && own.empty()) {
        out_.append(" />");
        break;
      }
      out_.append(">");
      if (!own.empty()) {
        // Its own text: the element has no children.
        Escaped(own, kTextKinds, node);
        out_.append("</").append(name).append(">");
        break;
      }
      const bool block = inBlock && depth < kMaxIndentedDepth && HasElementContent(node);
      if (block) out_.append("\n");
      stack_.push_back(Frame{node, first, block, inBlock, depth});
      return;
    }
    case XmlKind::Text: Escaped(tree_.Value(node), kTextKinds, tree_.Parent(node)); break;
    case XmlKind::Comment: {
      const std::string_view text = tree_.Value(node);
      if (check_ && (text.find("--") != std::string_view::npos || text.ends_with('-') || !AllowedText(text)))
        Fail("the comment " + Quoted(text) + " cannot be written as XML");
      out_.append("<!--").append(text).append("-->");
      break;
    }
    case XmlKind::Instruction: {
      const std::string_view target = tree_.Name(node), text = tree_.Value(node);
      if (check_) {
        const bool reserved =
            target.size() == 3 && (target[0] | 0x20) == 'x' && (target[1] | 0x20) == 'm' && (target[2] | 0x20) == 'l';
        if (!IsXmlName(target) || reserved || text.find("?>") != std::string_view::npos || !AllowedText(text))
          Fail("the processing instruction " + Quoted(target) + " cannot be written as XML");
      }
      out_.append("<?").append(target);
      if (!text.empty()) out_.append(" ").append(text);
      out_.append("?>");
      break;
    }
    case XmlKind::Reference: {
      const std::string_view name = tree_.Name(node);
      Name(tree_.NameNumber(node), name, "the entity name");
      if (check_ && !doctypeWritten_)
        Fail("the entity reference &" + std::string(name) + "; needs the document type declaration it was read with");
      out_.append("&").append(name).append(";");
      break;
    }
    default: break;
  }
  if (inBlock) out_.append("\n");
}

std::string Writer::Write(XmlId top) {
  Doctype(top);
  Node(top, true, 0);
  while (!stack_.empty() && failure_.empty()) {
    if (drain_ && out_.size() >= kDrainAt) drain_(out_);
    Frame& frame = stack_.back();
    if (const XmlId child = frame.Next) {
      frame.Next = Written(tree_.NextSibling(child));
      Node(child, frame.Block, frame.Depth + 1);
      continue;
    }
    const Frame done = frame;
    stack_.pop_back();
    if (done.Block) Indent(done.Depth);
    out_.append("</").append(tree_.Name(done.Element)).append(">");
    if (done.InBlock) out_.append("\n");
  }
  if (failure_.empty() && drain_) drain_(out_);
  return failure_;
}

}  // namespace

bool IsXmlName(std::string_view name) {
  if (name.empty()) return false;
  const auto ascii = [](char c, bool first) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == ':' ||
           (!first && ((c >= '0' && c <= '9') || c == '-' || c == '.'));
  };
  bool plain = true;
  for (std::size_t at = 0; at < name.size() && plain; ++at) plain = ascii(name[at], at == 0);
  if (plain) return true;
  for (std::size_t at = 0; at < name.size();) {
    std::size_t length = 0;
    const std::uint32_t c = CharAt(name, at, length);
    if (length == 0 || !(at == 0 ? IsNameStart(c) : IsNameChar(c))) return false;
    at += length;
  }
  return true;
}

std::string WriteXml(const XmlTree& tree, XmlId node, std::string& out, const std::function<void(std::string&)>& drain,
                     bool check) {
  return Writer(tree, out, drain, check).Write(node);
}

}  // namespace qm::detail

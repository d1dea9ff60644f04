#include "automation/XmlWriter.h"

#include <string_view>

#include <vector>
#include "automation/XmlReader.h"

namespace qm::detail {
namespace {

using pugi::xml_node;

constexpr int kMaxIndentedDepth = 64;
constexpr std::size_t kDrainAt = std::size_t{1} << 18;

// Appends `text` with the characters that `special` names replaced by their
// escapes.
template <typename Escape>
void AppendEscaped(std::string& out, std::string_view text, const char* special, Escape escape) {
  for (std::size_t at = text.find_first_of(special); at != std::string_view::npos; at = text.find_first_of(special)) {
    out.append(text.substr(0, at)).append(escape(text[at]));
    text.remove_prefix(at + 1);
  }
  out.append(text);
}

// Text: '>' too, so "]]>" never appears; a carriage return as a reference,
// since a raw one reads back as a line feed.
void AppendText(std::string& out, std::string_view text) {
  AppendEscaped(out, text, "&<>\r", [](char c) -> std::string_view {
    switch (c) {
      case '&': return "&amp;";
      case '<': return "&lt;";
      case '>': return "&gt;";
      default: return "&#13;";
    }
  });
}

// Attribute values: tabs and line ends as references, since a reader
// normalises raw ones to blanks.
void AppendAttribute(std::string& out, std::string_view text) {
  AppendEscaped(out, text, "&<\"\t\n\r", [](char c) -> std::string_view {
    switch (c) {
      case '&': return "&amp;";
      case '<': return "&lt;";
      case '"': return "&quot;";
      case '\t': return "&#9;";
      case '\n': return "&#10;";
      default: return "&#13;";
    }
  });
}

bool IsText(xml_node node) {
  const auto type = node.type();
  return type == pugi::node_pcdata || type == pugi::node_cdata || IsXmlReference(node);
}

// Children on lines of their own only in element content: some element
// child, and no text.
bool HasElementContent(xml_node element) {
  bool elements = false;
  for (xml_node child = element.first_child(); child; child = child.next_sibling()) {
    if (IsText(child)) return false;
    elements = elements || child.type() == pugi::node_element;
  }
  return elements;
}

// The next child that is written (the document type declaration is not).
xml_node Written(xml_node node) {
  while (node && IsXmlDoctype(node)) node = node.next_sibling();
  return node;
}

bool HasReference(xml_node root) { return bool(FindInSubtree(root, IsXmlReference)); }

void AppendDoctype(std::string& out, xml_node top) {
  for (xml_node holder = top; holder && holder.type() == pugi::node_element; holder = holder.parent()) {
    for (xml_node child = holder.first_child(); child; child = child.next_sibling()) {
      if (!IsXmlDoctype(child)) continue;
      if (holder == top) {
        out.append("<!DOCTYPE ").append(child.value()).append(">\n");
      } else if (HasReference(top)) {
        // The same declaration, for this element as the root.
        const std::string_view text = child.value();
        const std::size_t nameEnd = text.find_first_of(" \t\r\n[");
        out.append("<!DOCTYPE ").append(top.name());
        if (nameEnd != std::string_view::npos) out.append(text.substr(nameEnd));
        out.append(">\n");
      }
      return;
    }
  }
}

void Indent(std::string& out, int depth) { out.append(static_cast<std::size_t>(depth) * 2, ' '); }

}  // namespace

void WriteXml(xml_node top, std::string& out, const std::function<void(std::string&)>& drain) {
  AppendDoctype(out, top);
  struct Frame {
    xml_node Element;
    xml_node Next;  // the next child to write
    bool Block;     // children on lines of their own
    bool InBlock;   // the element itself on a line of its own
    int Depth;
  };
  std::vector<Frame> stack;
  // Writes one node; an element with written children is opened and pushed.
  auto write = [&](xml_node node, bool inBlock, int depth) {
    if (inBlock) Indent(out, depth);
    switch (node.type()) {
      case pugi::node_element: {
        out.append("<").append(node.name());
        for (pugi::xml_attribute a = node.first_attribute(); a; a = a.next_attribute()) {
          out.append(" ").append(a.name()).append("=\"");
          AppendAttribute(out, a.value());
          out.append("\"");
        }
        xml_node first = Written(node.first_child());
        if (!first) {
          out.append(" />");
          break;
        }
        out.append(">");
        const bool block = inBlock && depth < kMaxIndentedDepth && HasElementContent(node);
        if (block) out.append("\n");
        stack.push_back(Frame{node, first, block, inBlock, depth});
        return;
      }
      case pugi::node_pcdata:
      case pugi::node_cdata: AppendText(out, node.value()); break;
      case pugi::node_comment: out.append("<!--").append(node.value()).append("-->"); break;
      case pugi::node_pi:
        if (IsXmlReference(node)) {
          out.append(node.name()).append(";");
          break;
        }
        out.append("<?").append(node.name());
        if (*node.value()) out.append(" ").append(node.value());
        out.append("?>");
        break;
      default: break;
    }
    if (inBlock) out.append("\n");
  };
  write(top, true, 0);
  while (!stack.empty()) {
    if (drain && out.size() >= kDrainAt) drain(out);
    Frame& frame = stack.back();
    if (xml_node child = frame.Next) {
      frame.Next = Written(child.next_sibling());
      write(child, frame.Block, frame.Depth + 1);
      continue;
    }
    const Frame done = frame;
    stack.pop_back();
    if (done.Block) Indent(out, done.Depth);
    out.append("</").append(done.Element.name()).append(">");
    if (done.InBlock) out.append("\n");
  }
  if (drain) drain(out);
}

}  // namespace qm::detail

#include "quillmark/automation/XmlQuery.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>

#include "automation/XmlReader.h"
#include "automation/XmlTree.h"
#include "frame/FileErrors.h"
#include "io/System.h"
#include "quillmark/automation/XML.h"
#include "quillmark/automation/XmlNode.h"
#include "quillmark/errors/Error.h"
#include "quillmark/errors/ErrorNumbers.h"
#include "quillmark/frame/Frame.h"

namespace qm {
namespace {

// The tags of a "/"-separated path; empty steps are dropped.
std::vector<std::string> Steps(std::string_view path) {
  std::vector<std::string> steps;
  while (!path.empty()) {
    const std::size_t slash = path.find('/');
    const std::string_view step = path.substr(0, slash);
    if (!step.empty()) steps.emplace_back(step);
    path = slash == std::string_view::npos ? std::string_view() : path.substr(slash + 1);
  }
  return steps;
}

// The parse error of a document the reader refused, prefixed by `what` (the
// file's name and " is not well-formed XML: ", or nothing for text).
[[noreturn]] void RaiseNotXml(const detail::XmlSource& source, bool utf8Text, const std::string& what) {
  detail::XmlTree scratch;
  const detail::XmlReadResult read = detail::ReadXml(scratch, source, utf8Text);
  std::string description = what + read.Error;
  if (!read.Mismatch.empty()) description += ": " + read.Mismatch;
  throw XmlParseError(frame::DefaultSource("XML"), std::move(description), read.Line, read.Column, read.Offset,
                      read.OpenLine);
}

// Why a file that XML.LoadFile refused is not XML: it is parsed again, in
// pieces, for the reader's message (a refusal is the rare case, so the
// common one pays nothing for it).
[[noreturn]] void RaiseWhyNotXml(const std::filesystem::path& file) {
  const int fd = io::sys::Open(file.c_str(), O_RDONLY);
  if (fd < 0) frame::RaiseErrno(ERR_PathFileAccess, errno);
  struct Closer {
    int Fd;
    ~Closer() { io::sys::Close(Fd); }
  } closer{fd};
  bool empty = true;
  const auto read = [&](std::uint64_t offset, char* data, std::size_t size) {
    const ssize_t got = io::sys::PRead(fd, data, size, static_cast<off_t>(offset));
    if (got > 0) empty = false;
    return got > 0 ? static_cast<std::size_t>(got) : std::size_t{0};
  };
  char first = 0;
  read(0, &first, 1);
  if (empty)
    throw Error(ERR_General, errc::parse_error, frame::DefaultSource("XML"),
                frame::Quoted(file.string()) + " is empty");
  RaiseNotXml(read, false, frame::Quoted(file.string()) + " is not well-formed XML: ");
}

}  // namespace

XmlParseError::XmlParseError(std::string source, std::string description, std::uint64_t line, std::uint64_t column,
                             std::uint64_t offset, std::uint64_t openLine)
    : Error(ERR_General, errc::parse_error, std::move(source), std::move(description)),
      line_(line),
      column_(column),
      offset_(offset),
      openLine_(openLine) {}

XmlElement::XmlElement(std::string_view tag) : node_(std::make_shared<XmlNode>()) { node_->SetTag(tag); }

XmlElement::XmlElement(std::shared_ptr<XmlNode> node) : node_(std::move(node)) {
  if (!node_) Raise(ERR_ObjectNotSet);
}

std::string XmlElement::Name() const { return node_->Tag(); }

std::string XmlElement::Text() const { return node_->Content(); }

void XmlElement::SetText(std::string_view text) { node_->SetContent(text); }

std::string XmlElement::Attribute(std::string_view name) const { return node_->GetAttrValue(name); }

void XmlElement::SetAttribute(std::string_view name, std::string_view value) { node_->AddAttribute(name, value); }

std::string XmlElement::ChildText(std::string_view tag, std::string_view fallback) const {
  std::string text = node_->GetChildContent(tag);
  return text.empty() ? std::string(fallback) : text;
}

std::size_t XmlElement::ChildCount(std::string_view tag) const {
  return static_cast<std::size_t>(tag.empty() ? node_->NumChildren() : node_->NumChildrenHavingTag(tag));
}

std::vector<XmlElement> XmlElement::Children(std::string_view tag) const {
  const std::int32_t count = tag.empty() ? node_->NumChildren() : node_->NumChildrenHavingTag(tag);
  std::vector<XmlElement> children;
  children.reserve(static_cast<std::size_t>(count));
  for (std::int32_t i = 0; i < count; ++i)
    children.emplace_back(tag.empty() ? node_->GetChild(i) : node_->GetNthChildWithTag(tag, i));
  return children;
}

XmlElement XmlElement::AddChild(std::string_view tag, std::string_view text) {
  node_->NewChild(tag, text);
  return XmlElement(node_->GetChild(node_->NumChildren() - 1));
}

std::string XmlElement::Render() const { return node_->GetXml(); }

void XmlElement::Save(const std::filesystem::path& file) const {
  QM_FRAME_TRY {
    // The tree is written as it stands, in pieces; the declaration names
    // UTF-8 for this save only, the tree's own encoding stays.
    struct Restore {
      XmlNode& Node;
      std::string Encoding;
      ~Restore() { Node.SetEncoding(std::move(Encoding)); }
    } restore{*node_, node_->Encoding()};
    node_->SetEncoding("utf-8");
    if (!node_->SaveXml(file.string())) {
      std::filesystem::path folder;
      if (frame::FolderIsMissing(file, folder)) frame::RaisePathNotFound(folder, frame::DefaultSource("XML"));
      RaiseWithDetail(ERR_PathFileAccess, node_->LastErrorText());
    }
  }
  QM_FRAME_CATCH("XmlElement", "Public Sub Save", file.string());
}

XmlElement LoadXml(const std::filesystem::path& file) {
  XML document;
  try {
    if (!document.LoadFile(file.string())) RaiseWhyNotXml(file);
  } catch (...) {
    frame::RethrowForInput(file);
  }
  return XmlElement(document.GetNextTag()->ChilkatXML());
}

XmlElement ParseXml(std::string_view text) {
  // Parsed straight from the caller's text, in pieces, into a tree of its own.
  auto root = std::make_shared<XmlNode>();
  if (!root->LoadXml(text)) {
    RaiseNotXml(
        [text](std::uint64_t offset, char* data, std::size_t size) {
          if (offset >= text.size()) return std::size_t{0};
          const std::size_t count = std::min<std::size_t>(size, text.size() - offset);
          std::copy_n(text.data() + offset, count, data);
          return count;
        },
        true, {});
  }
  return XmlElement(std::move(root));
}

std::vector<XmlElement> XmlFindAll(const XmlElement& element, std::string_view path) {
  const std::vector<std::string> steps = Steps(path);
  if (steps.empty()) return {};
  std::vector<XmlElement> level = element.Children(steps.front());
  for (std::size_t i = 1; i < steps.size() && !level.empty(); ++i) {
    std::vector<XmlElement> next;
    for (const XmlElement& parent : level)
      for (XmlElement& child : parent.Children(steps[i])) next.push_back(std::move(child));
    level = std::move(next);
  }
  return level;
}

std::optional<XmlElement> XmlFind(const XmlElement& element, std::string_view path) {
  std::vector<XmlElement> found = XmlFindAll(element, path);
  if (found.empty()) return std::nullopt;
  return std::move(found.front());
}

}  // namespace qm

#include "quillmark/automation/XmlQuery.h"

#include "automation/XmlStore.h"
#include "automation/XmlWriter.h"
#include "frame/FileErrors.h"
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
[[noreturn]] void RaiseNotXml(const detail::XmlReadResult& read, const std::string& what) {
  std::string description = what + read.Error;
  if (!read.Mismatch.empty()) description += ": " + read.Mismatch;
  throw XmlParseError(frame::DefaultSource("XML"), std::move(description), read.Line, read.Column, read.Offset,
                      read.OpenLine);
}

// The children of `element` (tagged `tag`, when it is not empty).
template <class Visit>
void ForChildren(const detail::XmlTree& tree, detail::XmlId element, std::string_view tag, Visit visit) {
  const std::uint32_t name = tag.empty() ? 0 : tree.FindName(tag);
  if (name == detail::XmlTree::kNoName) return;
  for (detail::XmlId child = tree.FirstChild(element); child; child = tree.NextSibling(child))
    if (tree.Kind(child) == detail::XmlKind::Element && (tag.empty() || tree.NameNumber(child) == name)) visit(child);
}

}  // namespace

struct XmlParseError::Impl {
  std::uint64_t line = 0;
  std::uint64_t column = 0;
  std::uint64_t offset = 0;
  std::uint64_t openLine = 0;
};

XmlParseError::XmlParseError(std::string source, std::string description, std::uint64_t line, std::uint64_t column,
                             std::uint64_t offset, std::uint64_t openLine)
    : Error(ERR_General, errc::parse_error, std::move(source), std::move(description)),
      impl_(std::make_unique<Impl>(Impl{line, column, offset, openLine})) {}

XmlParseError::XmlParseError(const XmlParseError& other)
    : Error(other), impl_(other.impl_ ? std::make_unique<Impl>(*other.impl_) : nullptr) {}

XmlParseError& XmlParseError::operator=(const XmlParseError& other) {
  if (this != &other) {
    Error::operator=(other);
    impl_ = other.impl_ ? std::make_unique<Impl>(*other.impl_) : nullptr;
  }
  return *this;
}

XmlParseError::XmlParseError(XmlParseError&& other) noexcept = default;
XmlParseError& XmlParseError::operator=(XmlParseError&& other) noexcept = default;
XmlParseError::~XmlParseError() = default;

std::uint64_t XmlParseError::Line() const noexcept { return impl_ ? impl_->line : 0; }
std::uint64_t XmlParseError::Column() const noexcept { return impl_ ? impl_->column : 0; }
std::uint64_t XmlParseError::Offset() const noexcept { return impl_ ? impl_->offset : 0; }
std::uint64_t XmlParseError::OpenLine() const noexcept { return impl_ ? impl_->openLine : 0; }

XmlElement::XmlElement(std::string_view tag) {
  auto store = std::make_shared<detail::XmlStore>();
  const detail::XmlId element = store->tree.Append(detail::kXmlDocument, detail::XmlKind::Element, tag);
  handle_ = std::make_shared<detail::XmlHandle>(std::move(store), element);
}

XmlElement::XmlElement(std::shared_ptr<detail::XmlHandle> handle) : handle_(std::move(handle)) {}

std::string XmlElement::Name() const { return std::string(handle_->Tree().Name(handle_->Node())); }

std::string XmlElement::Text() const { return detail::TextOf(handle_->Tree(), handle_->Node()); }

void XmlElement::SetText(std::string_view text) { detail::ReplaceText(handle_->Tree(), handle_->Node(), text); }

std::string XmlElement::Attribute(std::string_view name) const {
  const detail::XmlTree& tree = handle_->Tree();
  const detail::XmlAttrId attribute = tree.FindAttribute(handle_->Node(), name);
  return attribute ? std::string(tree.AttributeValue(attribute)) : std::string();
}

void XmlElement::SetAttribute(std::string_view name, std::string_view value) {
  handle_->Tree().SetAttribute(handle_->Node(), name, value);
}

std::string XmlElement::ChildText(std::string_view tag, std::string_view fallback) const {
  std::string text = detail::ChildTextOf(handle_->Tree(), handle_->Node(), tag);
  return text.empty() ? std::string(fallback) : text;
}

std::size_t XmlElement::ChildCount(std::string_view tag) const {
  std::size_t count = 0;
  ForChildren(handle_->Tree(), handle_->Node(), tag, [&](detail::XmlId) { ++count; });
  return count;
}

std::vector<XmlElement> XmlElement::Children(std::string_view tag) const {
  std::vector<XmlElement> children;
  ForChildren(handle_->Tree(), handle_->Node(), tag, [&](detail::XmlId child) {
    children.push_back(detail::XmlElementAccess::Make(handle_->Store(), child));
  });
  return children;
}

XmlElement XmlElement::AddChild(std::string_view tag, std::string_view text) {
  return detail::XmlElementAccess::Make(handle_->Store(),
                                        detail::AppendChildElement(*handle_->Store(), handle_->Node(), tag, text));
}

std::string XmlElement::Render() const {
  std::string text;
  detail::WriteXml(handle_->Tree(), handle_->Node(), text);
  return text;
}

void XmlElement::Save(const std::filesystem::path& file) const {
  QM_FRAME_TRY {
    // Written as the text is made, in pieces, with a declaration naming UTF-8.
    std::string why;
    bool writeFailed = false;
    if (!detail::SaveTree(handle_->Tree(), handle_->Node(), file.string(), "utf-8", why, writeFailed)) {
      std::filesystem::path folder;
      if (frame::FolderIsMissing(file, folder)) frame::RaisePathNotFound(folder, frame::DefaultSource("XML"));
      // The reason names the file; the typed layer quotes it.
      const std::size_t at = why.find(file.string());
      if (at != std::string::npos) why.replace(at, file.string().size(), frame::Quoted(file.string()));
      RaiseWithDetail(ERR_PathFileAccess, why);
    }
  }
  QM_FRAME_CATCH("XmlElement", "Public Sub Save", file.string());
}

XmlElement LoadXml(const std::filesystem::path& file) {
  detail::XmlFileRead read;
  try {
    QM_FRAME_TRY { read = detail::ReadXmlFile(file); }
    QM_FRAME_CATCH("XML", "LoadXml", file.string());
  } catch (...) {
    frame::RethrowForInput(file);
  }
  if (read.Empty)
    throw Error(ERR_General, errc::parse_error, frame::DefaultSource("XML"),
                frame::Quoted(file.string()) + " is empty");
  if (!read.Read.Root) RaiseNotXml(read.Read, frame::Quoted(file.string()) + " is not well-formed XML: ");
  return detail::XmlElementAccess::Make(std::move(read.Store), read.Read.Root);
}

XmlElement ParseXml(std::string_view text) {
  // Parsed straight from the caller's text, in pieces, into a tree of its own.
  detail::XmlFileRead read = detail::ReadXmlText(text);
  if (!read.Read.Root) RaiseNotXml(read.Read, {});
  return detail::XmlElementAccess::Make(std::move(read.Store), read.Read.Root);
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

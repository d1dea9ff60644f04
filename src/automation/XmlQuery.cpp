#include "quillmark/automation/XmlQuery.h"

#include <fstream>
#include <iterator>
#include <span>

#include "quillmark/automation/XmlNode.h"
#include "quillmark/frame/Error.h"
#include "quillmark/frame/ErrorNumbers.h"
#include "quillmark/frame/Frame.h"
#include "quillmark/frame/QMGLobal.h"

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

}  // namespace

XMLPtr LoadXml(const std::filesystem::path& file) {
  XML document;
  if (document.LoadFile(file.string())) return document.GetNextTag();
  // LoadFile answers only false: the parser, run again, says why.
  std::string why = "the file is empty";
  std::ifstream in(file, std::ios::binary);
  const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (!bytes.empty()) {
    XmlNode parser;
    why = parser.LoadXmlBytes(std::span<const std::uint8_t>(bytes)) ? "the file changed while it was read"
                                                                     : parser.LastErrorText();
  }
  throw Error(ERR_General, errc::parse_error, frame::DefaultSource("XML"),
              file.string() + " is empty or is not well-formed XML: " + why);
}

XMLPtr ParseXml(const std::string& text) {
  XML document;
  try {
    document.LoadFromString(text, "XmlRoot");
  } catch (const Error& e) {
    // The published load raises its check's number (11000); here it is the
    // parse error it is, with the parser's words and the trail.
    if (e.Number() != ERR_ASSERTION) throw;
    throw Error(ERR_General, errc::parse_error, e.Source(), e.Description());
  }
  return document.GetNextTag();
}

std::vector<XMLPtr> XmlChildren(const XML& element, const std::string& tag) {
  std::vector<XMLPtr> children;
  for (XMLPtr child = element.GetNextTag(tag); child; child = element.GetNextTag(tag, child->NextPosition()))
    children.push_back(child);
  return children;
}

std::vector<XMLPtr> XmlFindAll(const XML& element, std::string_view path) {
  const std::vector<std::string> steps = Steps(path);
  if (steps.empty()) return {};
  std::vector<XMLPtr> level = XmlChildren(element, steps.front());
  for (std::size_t i = 1; i < steps.size() && !level.empty(); ++i) {
    std::vector<XMLPtr> next;
    for (const XMLPtr& parent : level)
      for (XMLPtr& child : XmlChildren(*parent, steps[i])) next.push_back(std::move(child));
    level = std::move(next);
  }
  return level;
}

XMLPtr XmlFind(const XML& element, std::string_view path) {
  std::vector<XMLPtr> found = XmlFindAll(element, path);
  return found.empty() ? nullptr : std::move(found.front());
}

}  // namespace qm

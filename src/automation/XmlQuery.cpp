#include "quillmark/automation/XmlQuery.h"

#include <fstream>
#include <iterator>

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

// Why a file that XML.LoadFile refused is not XML: it is read and parsed
// again for the reader's message (a refusal is the rare case, so the common
// one pays nothing for it).
std::string WhyNotXml(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (bytes.empty()) return file.string() + " is empty";
  XmlNode probe;
  probe.LoadXmlBytes(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
  return file.string() + " is not well-formed XML: " + probe.LastErrorText();
}

XMLPtr LoadXml(const std::filesystem::path& file) {
  XML document;
  if (!document.LoadFile(file.string())) QMGLobal::Assert(false, WhyNotXml(file));
  return document.GetNextTag();
}

XMLPtr ParseXml(const std::string& text) {
  XML document;
  document.LoadFromString(text, "XmlRoot");
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

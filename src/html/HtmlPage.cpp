#include "quillmark/html/HtmlPage.h"

#include "DocumentFiles.h"
#include "frame/FileErrors.h"
#include "frame/PrivateState.h"
#include "quillmark/errors/Error.h"
#include "quillmark/errors/ErrorNumbers.h"
#include "quillmark/frame/Frame.h"
#include "quillmark/values/Text.h"

namespace qm {
namespace {

// The entity that stands for `c` in text and quoted attributes, or null.
const char* EntityOf(char32_t c) {
  switch (c) {
    case '&': return "&amp;";
    case '<': return "&lt;";
    case '>': return "&gt;";
    case '"': return "&quot;";
    case '\'': return "&#39;";
    default: return nullptr;
  }
}

// `text` as the page writes it in `charset`. It is decoded first, strictly, so
// that no byte sequence can become a '<' after escaping: a run of bytes that is
// no valid UTF-8 becomes U+FFFD in a UTF-8 page and '?' in a Latin-1 one. Then
// it is escaped (with `escape`), its line ends become LF, and it is encoded:
// UTF-8, or Latin-1 bytes with characters above U+00FF as numeric references.
std::string PageText(std::string_view text, HtmlCharset charset, bool escape) {
  const bool latin1 = charset == HtmlCharset::Latin1;
  const std::u32string points = DecodeUtf8Text(text, latin1 ? InvalidUtf8::Question : InvalidUtf8::Replace);
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < points.size(); ++i) {
    char32_t c = points[i];
    if (c == '\r') {
      c = '\n';
      if (i + 1 < points.size() && points[i + 1] == '\n') ++i;
    }
    if (const char* entity = escape ? EntityOf(c) : nullptr) out += entity;
    else if (c < 0x80 || (latin1 && c <= 0xFF)) out += static_cast<char>(c);
    else if (latin1) out += "&#" + std::to_string(static_cast<std::uint32_t>(c)) + ";";
    else AppendCodePoint(out, c);
  }
  return out;
}

}  // namespace

std::string EscapeHtml(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    if (const char* entity = EntityOf(static_cast<unsigned char>(c))) out += entity;
    else out += c;
  }
  return out;
}

struct HtmlPage::Impl {
  std::string title{};  // in the page's character set, as body
  HtmlCharset charset{};
  std::string body{};
  std::vector<std::filesystem::path> images{};
};

HtmlPage::Impl& HtmlPage::State() { return frame::WritableState(impl_); }

const HtmlPage::Impl& HtmlPage::State() const { return frame::ReadableState(impl_); }

HtmlPage::HtmlPage(std::string_view title, HtmlCharset charset)
    : impl_(std::make_unique<Impl>(Impl{PageText(title, charset, true), charset, {}, {}})) {}

HtmlPage::HtmlPage(const HtmlPage& other) : impl_(frame::CopiedState(other.impl_)) {}
HtmlPage& HtmlPage::operator=(const HtmlPage& other) {
  if (this != &other) impl_ = frame::CopiedState(other.impl_);
  return *this;
}
HtmlPage::HtmlPage(HtmlPage&&) noexcept = default;
HtmlPage& HtmlPage::operator=(HtmlPage&&) noexcept = default;
HtmlPage::~HtmlPage() = default;

HtmlPage& HtmlPage::Heading(int level, std::string_view text) {
  if (level < 1 || level > 6)
    RaiseFrom(ERR_InvalidProcedureCall, frame::DefaultSource("HtmlPage"),
              DescribeError(ERR_InvalidProcedureCall, "a heading's level is 1 to 6"));
  const std::string tag = "h" + std::to_string(level);
  State().body += "<" + tag + ">" + PageText(text, State().charset, true) + "</" + tag + ">\n";
  return *this;
}

HtmlPage& HtmlPage::Paragraph(std::string_view text) {
  State().body += "<p>" + PageText(text, State().charset, true) + "</p>\n";
  return *this;
}

HtmlPage& HtmlPage::Table(const std::vector<std::vector<std::string>>& rows, bool headerRow) {
  State().body += "<table>\n";
  for (std::size_t r = 0; r < rows.size(); ++r) {
    const char* cell = headerRow && r == 0 ? "th" : "td";
    State().body += "<tr>";
    for (const auto& text : rows[r])
      State().body += std::string("<") + cell + ">" + PageText(text, State().charset, true) + "</" + cell + ">";
    State().body += "</tr>\n";
  }
  State().body += "</table>\n";
  return *this;
}

HtmlPage& HtmlPage::Image(const std::filesystem::path& file, std::string_view alt) {
  State().body += "<img src=\"" + PageText(file.filename().string(), State().charset, true) + "\" alt=\"" +
                  PageText(alt, State().charset, true) + "\">\n";
  State().images.push_back(file);
  return *this;
}

HtmlPage& HtmlPage::Html(std::string_view markup) {
  State().body += PageText(markup, State().charset, false);
  return *this;
}

std::string HtmlPage::Text() const {
  const char* charset = State().charset == HtmlCharset::Utf8 ? "utf-8" : "iso-8859-1";
  return "<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"" + std::string(charset) + "\">\n<title>" + State().title +
         "</title>\n</head>\n<body>\n" + State().body + "</body>\n</html>\n";
}

void HtmlPage::Save(const std::filesystem::path& file) const {
  QM_FRAME_TRY {
    std::vector<std::string> pictures;
    for (const auto& image : State().images) pictures.push_back(image.string());
    try {
      html::CopyPictures(pictures, file.string());
      html::WriteDocument(file.string(), Text(), "");
    } catch (...) {
      frame::RethrowForTarget(file);
    }
  }
  QM_FRAME_CATCH("HtmlPage", "Public Sub Save", file.string());
}

}  // namespace qm

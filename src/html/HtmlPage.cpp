#include "quillmark/html/HtmlPage.h"

#include "DocumentFiles.h"
#include "frame/FileErrors.h"
#include "quillmark/errors/Error.h"
#include "quillmark/errors/ErrorNumbers.h"
#include "quillmark/frame/Frame.h"

namespace qm {
namespace {

// The code point of the UTF-8 sequence at `text[i]`, advancing `i`; a byte
// that starts no valid sequence stands for itself (as Latin-1 reads it).
char32_t NextCodePoint(std::string_view text, std::size_t& i) {
  const auto lead = static_cast<unsigned char>(text[i]);
  const int length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 0;
  if (length <= 1 || i + static_cast<std::size_t>(length) > text.size()) {
    ++i;
    return lead;
  }
  char32_t point = lead & (0x7F >> length);
  for (int k = 1; k < length; ++k) {
    const auto next = static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]);
    if ((next & 0xC0) != 0x80) {
      ++i;
      return lead;
    }
    point = (point << 6) | (next & 0x3F);
  }
  i += static_cast<std::size_t>(length);
  return point;
}

}  // namespace

std::string EscapeHtml(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += c;
    }
  }
  return out;
}

HtmlPage::HtmlPage(std::string_view title, HtmlCharset charset) : title_(EscapeHtml(title)), charset_(charset) {}

HtmlPage& HtmlPage::Heading(int level, std::string_view text) {
  if (level < 1 || level > 6)
    RaiseFrom(ERR_InvalidProcedureCall, frame::DefaultSource("HtmlPage"),
              DescribeError(ERR_InvalidProcedureCall, "a heading's level is 1 to 6"));
  const std::string tag = "h" + std::to_string(level);
  body_ += "<" + tag + ">" + EscapeHtml(text) + "</" + tag + ">\n";
  return *this;
}

HtmlPage& HtmlPage::Paragraph(std::string_view text) {
  body_ += "<p>" + EscapeHtml(text) + "</p>\n";
  return *this;
}

HtmlPage& HtmlPage::Table(const std::vector<std::vector<std::string>>& rows, bool headerRow) {
  body_ += "<table>\n";
  for (std::size_t r = 0; r < rows.size(); ++r) {
    const char* cell = headerRow && r == 0 ? "th" : "td";
    body_ += "<tr>";
    for (const auto& text : rows[r]) body_ += std::string("<") + cell + ">" + EscapeHtml(text) + "</" + cell + ">";
    body_ += "</tr>\n";
  }
  body_ += "</table>\n";
  return *this;
}

HtmlPage& HtmlPage::Image(const std::filesystem::path& file, std::string_view alt) {
  body_ += "<img src=\"" + EscapeHtml(file.filename().string()) + "\" alt=\"" + EscapeHtml(alt) + "\">\n";
  images_.push_back(file);
  return *this;
}

HtmlPage& HtmlPage::Html(std::string_view markup) {
  body_ += markup;
  return *this;
}

std::string HtmlPage::Encoded(std::string_view text) const {
  if (charset_ == HtmlCharset::Utf8) return std::string(text);
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const char32_t point = NextCodePoint(text, i);
    if (point <= 0xFF) out += static_cast<char>(point);
    else out += "&#" + std::to_string(static_cast<std::uint32_t>(point)) + ";";
  }
  return out;
}

std::string HtmlPage::Text() const {
  const char* charset = charset_ == HtmlCharset::Utf8 ? "utf-8" : "iso-8859-1";
  return Encoded("<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"" + std::string(charset) + "\">\n<title>" + title_ +
                 "</title>\n</head>\n<body>\n" + body_ + "</body>\n</html>");
}

void HtmlPage::Save(const std::filesystem::path& file) const {
  QM_FRAME_TRY {
    std::vector<std::string> pictures;
    for (const auto& image : images_) pictures.push_back(image.string());
    try {
      html::CopyPictures(pictures, file.string());
      html::WriteDocument(file.string(), Text());
    } catch (...) {
      frame::RethrowForTarget(file);
    }
  }
  QM_FRAME_CATCH("HtmlPage", "Public Sub Save", file.string());
}

}  // namespace qm

// HtmlPage on arbitrary bytes, in both character sets: whatever the text, the
// page holds exactly the elements the calls made. Every '<' and '>' belongs to
// a tag the page wrote, in the order the calls wrote them, every '&' starts an
// entity, an image's tag has its two quoted attributes only, no line ends in
// CR, and a UTF-8 page is valid UTF-8 (checked with utf8proc, not the
// library's own decoder). Markup given to Html() is the input without '<',
// '>' and '&': decoding it must not make any. The input is the heading's level,
// then eight texts, each a length byte and its bytes, then the markup.

#include <utf8proc.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "quillmark/html/HtmlPage.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

bool ValidUtf8(std::string_view text) {
  const auto* bytes = reinterpret_cast<const utf8proc_uint8_t*>(text.data());
  for (std::size_t at = 0; at < text.size();) {
    utf8proc_int32_t c = 0;
    const utf8proc_ssize_t n = utf8proc_iterate(bytes + at, static_cast<utf8proc_ssize_t>(text.size() - at), &c);
    if (n <= 0) return false;
    at += static_cast<std::size_t>(n);
  }
  return true;
}

// The names of the page's tags in order; aborts on a '>' outside a tag.
std::vector<std::string> Tags(std::string_view page) {
  std::vector<std::string> tags;
  for (std::size_t at = 0; at < page.size();) {
    const std::size_t open = page.find('<', at);
    Check(page.substr(at, open - at).find('>') == std::string_view::npos);
    if (open == std::string_view::npos) break;
    const std::size_t close = page.find('>', open);
    Check(close != std::string_view::npos);
    const std::string_view tag = page.substr(open + 1, close - open - 1);
    Check(tag.find('<') == std::string_view::npos);
    if (tag.starts_with("img ")) Check(tag.starts_with("img src=\"") && std::count(tag.begin(), tag.end(), '"') == 4);
    tags.emplace_back(tag.substr(0, tag.find(' ')));
    at = close + 1;
  }
  return tags;
}

void CheckEntities(std::string_view page) {
  for (std::size_t at = page.find('&'); at != std::string_view::npos; at = page.find('&', at + 1)) {
    const std::string_view rest = page.substr(at);
    bool known = false;
    for (const std::string_view entity : {"&amp;", "&lt;", "&gt;", "&quot;", "&#39;"})
      known = known || rest.starts_with(entity);
    if (!known) {  // a numeric reference of a Latin-1 page: &#digits;
      std::size_t digits = 2;
      while (digits < rest.size() && rest[digits] >= '0' && rest[digits] <= '9') ++digits;
      Check(rest.starts_with("&#") && digits > 2 && digits < rest.size() && rest[digits] == ';');
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  const auto take = [&input](std::size_t n) {
    const std::string_view piece = input.substr(0, n);
    input.remove_prefix(piece.size());
    return std::string(piece);
  };
  const int level = input.empty() ? 1 : 1 + static_cast<unsigned char>(take(1)[0]) % 6;
  std::vector<std::string> texts;
  for (int k = 0; k < 8; ++k) texts.push_back(input.empty() ? "" : take(static_cast<unsigned char>(take(1)[0])));
  std::string markup(input);
  std::erase_if(markup, [](char c) { return c == '<' || c == '>' || c == '&'; });

  for (const qm::HtmlCharset charset : {qm::HtmlCharset::Utf8, qm::HtmlCharset::Latin1}) {
    qm::HtmlPage page(texts[0], charset);
    page.Heading(level, texts[1]).Paragraph(texts[2]).Table({{texts[3], texts[4]}, {texts[5]}});
    page.Image(texts[6], texts[7]).Html(markup);
    const std::string text = page.Text();
    const std::string h = "h" + std::to_string(level);
    const std::vector<std::string> expected = {"!DOCTYPE", "html", "head",   "meta", "title", "/title", "/head",
                                               "body",     h,      "/" + h,  "p",    "/p",    "table",  "tr",
                                               "th",       "/th",  "th",     "/th",  "/tr",   "tr",     "td",
                                               "/td",      "/tr",  "/table", "img",  "/body", "/html"};
    Check(Tags(text) == expected);
    CheckEntities(text);
    Check(text.find('\r') == std::string::npos && text.ends_with("</html>\n"));
    if (charset == qm::HtmlCharset::Utf8) Check(ValidUtf8(text));
  }
  return 0;
}

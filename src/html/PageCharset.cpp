#include "html/PageCharset.h"

#include <algorithm>

#include "quillmark/values/Text.h"

namespace qm::mdlHTML2MHT {
namespace {

constexpr std::string_view kMeta = "<meta";
constexpr std::size_t kMaxTag = 4096;  // a longer <meta> tag is not read
constexpr std::size_t kMaxLabel = 40;

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f'; }

bool EqualIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return Lower(x) == Lower(y); });
}

// A label goes into the part header between quotes: only the characters of
// charset names are taken.
std::string CleanLabel(std::string_view label) {
  while (!label.empty() && IsSpace(label.front())) label.remove_prefix(1);
  while (!label.empty() && IsSpace(label.back())) label.remove_suffix(1);
  if (label.empty() || label.size() > kMaxLabel) return {};
  for (const char c : label) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                    c == '_' || c == '.' || c == ':' || c == '+' || c == '(' || c == ')';
    if (!ok) return {};
  }
  return std::string(label);
}

// The value after "charset=" in a content type such as "text/html; charset=utf-8".
std::string CharsetOfContentType(std::string_view content) {
  constexpr std::string_view kCharset = "charset";
  for (std::size_t at = 0; at + kCharset.size() <= content.size(); ++at) {
    if (!EqualIgnoringCase(content.substr(at, kCharset.size()), kCharset)) continue;
    std::size_t i = at + kCharset.size();
    while (i < content.size() && IsSpace(content[i])) ++i;
    if (i >= content.size() || content[i] != '=') continue;
    ++i;
    while (i < content.size() && IsSpace(content[i])) ++i;
    if (i < content.size() && (content[i] == '"' || content[i] == '\'')) {
      const char quote = content[i++];
      const std::size_t end = content.find(quote, i);
      if (end == std::string_view::npos) return {};
      return CleanLabel(content.substr(i, end - i));
    }
    std::size_t end = i;
    while (end < content.size() && content[end] != ';' && !IsSpace(content[end])) ++end;
    return CleanLabel(content.substr(i, end - i));
  }
  return {};
}

}  // namespace

std::string PageCharset::DeclaredBy(std::string_view tag) {
  std::string_view charset, httpEquiv, content;
  bool haveCharset = false, haveEquiv = false, haveContent = false;
  std::size_t i = 0;
  while (i < tag.size()) {
    while (i < tag.size() && (IsSpace(tag[i]) || tag[i] == '/')) ++i;
    const std::size_t nameStart = i;
    while (i < tag.size() && !IsSpace(tag[i]) && tag[i] != '=' && tag[i] != '/') ++i;
    const std::string_view name = tag.substr(nameStart, i - nameStart);
    if (name.empty()) {
      if (i < tag.size()) ++i;  // a stray "="
      continue;
    }
    std::string_view value;
    std::size_t j = i;
    while (j < tag.size() && IsSpace(tag[j])) ++j;
    if (j < tag.size() && tag[j] == '=') {
      ++j;
      while (j < tag.size() && IsSpace(tag[j])) ++j;
      if (j < tag.size() && (tag[j] == '"' || tag[j] == '\'')) {
        const char quote = tag[j++];
        const std::size_t end = std::min(tag.find(quote, j), tag.size());
        value = tag.substr(j, end - j);
        i = end < tag.size() ? end + 1 : end;
      } else {
        std::size_t end = j;
        while (end < tag.size() && !IsSpace(tag[end])) ++end;
        value = tag.substr(j, end - j);
        i = end;
      }
    }
    // The first of each attribute counts.
    if (EqualIgnoringCase(name, "charset") && !haveCharset) {
      charset = value;
      haveCharset = true;
    } else if (EqualIgnoringCase(name, "http-equiv") && !haveEquiv) {
      httpEquiv = value;
      haveEquiv = true;
    } else if (EqualIgnoringCase(name, "content") && !haveContent) {
      content = value;
      haveContent = true;
    }
  }
  if (haveCharset) return CleanLabel(charset);
  if (haveEquiv && haveContent && EqualIgnoringCase(httpEquiv, "content-type")) return CharsetOfContentType(content);
  return {};
}

void PageCharset::Feed(std::string_view bytes) {
  for (const char c : bytes) {
    if (!declared_.empty()) break;
    FeedMeta(c);
  }
  if (valid_) FeedUtf8(bytes);
}

void PageCharset::FeedMeta(char c) {
  if (inTag_) {
    if (c == '>') {
      if (!tagTooLong_) declared_ = DeclaredBy(tag_);
      inTag_ = false;
      tag_.clear();
    } else if (tag_.size() < kMaxTag) {
      tag_ += c;
    } else {
      tagTooLong_ = true;
    }
    return;
  }
  if (matched_ == kMeta.size()) {
    matched_ = 0;
    // "<meta" must end the tag's name: "<metadata" is another element.
    if (IsSpace(c) || c == '/') {
      inTag_ = true;
      tagTooLong_ = false;
      tag_.assign(1, c);
      return;
    }
    if (c == '>') return;  // <meta> declares nothing
  }
  if (Lower(c) == kMeta[matched_]) ++matched_;
  else matched_ = c == '<' ? 1 : 0;
}

void PageCharset::FeedUtf8(std::string_view bytes) {
  std::size_t at = 0;
  if (!carry_.empty()) {
    // A character is at most 4 bytes: the carry and the first bytes of this piece.
    const std::string joined = carry_ + std::string(bytes.substr(0, 4 - carry_.size()));
    const Utf8Char c = DecodeUtf8(joined, 0);
    if (c.cut) {  // still cut short: the piece was shorter than the rest of the character
      carry_ = joined;
      return;
    }
    valid_ = c.valid;
    if (!valid_) return;
    at = c.length - carry_.size();
    carry_.clear();
  }
  while (at < bytes.size()) {
    if (static_cast<unsigned char>(bytes[at]) < 0x80) {
      ++at;
      continue;
    }
    ascii_ = false;
    const Utf8Char c = DecodeUtf8(bytes, at);
    if (c.cut) {
      carry_ = bytes.substr(at);
      return;
    }
    valid_ = c.valid;
    if (!valid_) return;
    at += c.length;
  }
}

std::string PageCharset::Label() const {
  if (!declared_.empty()) return declared_;
  if (valid_ && carry_.empty() && !ascii_) return "utf-8";
  return "iso-8859-1";
}

}  // namespace qm::mdlHTML2MHT

#pragma once
// The simple records' grammar over a QMStream's lines: headers, counts and
// property lines. QMStream's simple records and the typed records both read
// and write through it, so the format is decided in one place.

#include <charconv>
#include <cstdint>
#include <string>
#include <string_view>

#include "persistence/QMStreamStack.h"
#include "persistence/RecordText.h"
#include "quillmark/persistence/QMStream.h"
#include "quillmark/values/Conversions.h"

namespace qm::detail {

inline constexpr std::string_view kObjectMarker = "%Object ";
inline constexpr std::string_view kCollectionMarker = "%Collection ";
inline constexpr std::string_view kPropertyMarker = "%Property ";

/// A header's name and version; the name is a view into the line.
struct HeaderView {
  std::string_view Name;
  std::int32_t Version = 0;
};

/// "%Object My Thing @ 2" -> {"My Thing", 2}: the rest of the trimmed line is
/// split at the first "@"; the version is read locale-independently and
/// rounded. Without "@" the whole rest is the name and the version is 0.
inline HeaderView ParseHeader(std::string_view line, std::size_t markerLength) {
  const std::string_view rest = After(TrimView(line), markerLength);
  const auto at = rest.find('@');
  if (at == std::string_view::npos) return {rest, 0};
  const std::string_view version = TrimView(rest.substr(at + 1));
  std::int32_t number = 0;
  const auto [end, ec] = std::from_chars(version.data(), version.data() + version.size(), number);
  if (ec != std::errc() || end != version.data() + version.size() || version.empty())
    number = CLng(Variant(Val(rest.substr(at + 1))));
  return {TrimView(rest.substr(0, at)), number};
}

/// The blanks before a line's text.
inline std::size_t Indentation(std::string_view line) {
  const auto first = line.find_first_not_of(' ');
  return first == std::string_view::npos ? line.size() : first;
}

/// The line access the record readers and writers share.
class RecordLines {
 public:
  explicit RecordLines(QMStream& stream) : s_(stream) {}

  QMStream& Stream() { return s_; }
  /// Puts the indentation back (after a writer failed half-way).
  void SetIndentWidth(std::int32_t width) { s_.Own().indentWidth_ = width; }

  /// The next line without consuming it ("" at the end).
  std::string_view Peek() { return s_.PeekView(); }
  /// The next line (62 at the end).
  std::string_view Read() { return s_.ReadLineView(); }

  /// Reads the next property: its name (the first blank-separated word after
  /// the marker) into `name` and its trimmed value line, valid until the next
  /// line is read. False, with nothing consumed, at the end or at a line that
  /// is no property.
  bool NextProperty(std::string& name, std::string_view& value) {
    if (s_.AtEndOfStream()) return false;
    const std::string_view line = s_.ReadLineView();
    if (!LTrimView(line).starts_with(kPropertyMarker)) {
      s_.StackRetreat();
      return false;
    }
    const std::string_view rest = After(TrimView(line), kPropertyMarker.size());
    name.assign(rest.substr(0, rest.find(' ')));
    value = TrimView(s_.ReadLineView());
    return true;
  }

  /// A stored child count: a number by the general conversion (13 or 6 when it is none).
  std::int32_t ReadCount() {
    const std::string_view text = TrimView(s_.ReadLineView());
    std::int32_t count = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), count);
    if (ec == std::errc() && end == text.data() + text.size() && !text.empty()) return count;
    return CLng(Variant(text));
  }

  /// Writes "marker name" and, when asked, " @version", at the indentation.
  void WriteHeader(std::string_view marker, std::string_view name, std::int32_t version, bool withVersion) {
    std::string line(name);
    if (withVersion) {
      line += " @";
      char digits[16];
      line.append(digits, std::to_chars(digits, digits + sizeof digits, version).ptr);
    }
    s_.WriteLine(marker, line);
  }

  /// Writes a child count at the indentation.
  void WriteCount(std::int32_t count) {
    char digits[16];
    s_.WriteLine({}, std::string_view(digits, std::to_chars(digits, digits + sizeof digits, count).ptr - digits));
  }

  /// Writes a property line and its value one level deeper.
  void WriteProperty(std::string_view name, std::string_view value) {
    s_.WriteLine(kPropertyMarker, name);
    s_.Indent();
    s_.WriteLine({}, value);
    s_.UnIndent();
  }

 private:
  QMStream& s_;
};

}  // namespace qm::detail

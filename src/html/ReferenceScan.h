#pragma once
// The reference scan of the MHT converter: which files a page refers to.

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace qm::mdlHTML2MHT {

/// An ordered list of distinct names, compared exactly (case-sensitive).
class ReferenceList {
 public:
  /// Appends `name` unless it is already there; true when appended.
  bool Add(const std::string& name);
  bool Contains(const std::string& name) const { return seen_.count(name) != 0; }
  const std::vector<std::string>& Items() const { return items_; }

 private:
  std::vector<std::string> items_;
  std::unordered_set<std::string> seen_;
};

/// True when `list` holds `name` (exact, case-sensitive comparison).
bool ExistsInCollection(const ReferenceList& list, const std::string& name);

/// Where an attribute's value lies in a line (0-based offsets).
struct AttributeValue {
  bool Found = false;          // the keyword occurs
  std::size_t KeywordEnd = 0;  // just after the keyword
  std::size_t Begin = 0;       // the value's first character (after blanks and an opening quote)
  std::size_t Length = 0;
  bool Terminated = false;  // a ">", a quote or (unquoted) a blank ended it, not the line's end
};

/// The first value of the attribute `keyword` (compared without regard to
/// ASCII case) at or after `at`; the line itself is left as it is.
AttributeValue FindValue(std::string_view line, std::size_t at, std::string_view keyword);

/// Finds the value of the attribute `Keyword` (such as "SRC=") in `Line` at
/// or after the 1-based position `Start`. Upper-cases the line (from `Start`
/// to where the scan stopped) and the keyword; `Value` receives the value,
/// empty when there is none. Returns the position just after the keyword
/// plus the value's length, or `Start` when the keyword is not found.
std::int32_t FindRes(std::int32_t Start, std::string& Line, const std::string& Keyword, std::string& Value);

/// Adds to `found` the references of one line, keyword by keyword
/// ("src=", "background=", "href="), in order of discovery, each spelt as
/// the line writes it.
void ScanLine(std::string_view line, ReferenceList& found);

/// The distinct references of a file (as written), read line by line (lines end at CR LF,
/// LF or CR). 53 when the file is missing, 70 when it may not be read, 75
/// when it is no regular file, 57 when reading fails.
ReferenceList GetReferences(const std::string& Filename);

}  // namespace qm::mdlHTML2MHT

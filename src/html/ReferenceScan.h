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

/// Finds the value of the attribute `Keyword` (such as "SRC=") in `Line` at
/// or after the 1-based position `Start`. Upper-cases the line (from `Start`
/// to where the scan stopped) and the keyword; `Value` receives the value,
/// empty when there is none. Returns the position just after the keyword
/// plus the value's length, or `Start` when the keyword is not found.
std::int32_t FindRes(std::int32_t Start, std::string& Line, const std::string& Keyword, std::string& Value);

/// Adds to `found` the references of one line, keyword by keyword
/// ("src=", "background=", "href="), in order of discovery.
void ScanLine(std::string& line, ReferenceList& found);

/// The distinct references of a file, read line by line (lines end at CR LF,
/// LF or CR). 53 when the file is missing, 70 when it cannot be read.
ReferenceList GetReferences(const std::string& Filename);

}  // namespace qm::mdlHTML2MHT

#pragma once
// The temporary file that carries the table to the spreadsheet import: the
// members of a temporary file the export uses. The file exists (empty) from
// creation on and is deleted when the object goes.

#include <cstdint>
#include <string>

namespace qm {

class IntermediateFile {
 public:
  IntermediateFile();
  ~IntermediateFile();
  IntermediateFile(const IntermediateFile&) = delete;
  IntermediateFile& operator=(const IntermediateFile&) = delete;

  /// Replaces the file by a new empty one whose name ends in the suffix.
  void SetSuffix(const std::string& SuffixIncludingDot);
  /// Reserves a free number of the numbered-file table for the file.
  std::int32_t AssignFileNo();
  const std::string& Filename() const { return filename_; }

 private:
  void Create(const std::string& suffix);
  void Delete();
  std::string filename_;
  std::int32_t fileNo_ = 0;
};

}  // namespace qm

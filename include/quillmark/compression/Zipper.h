#pragma once
// qm::Zipper: writes a list of files into a zip archive in one call.
//
//   qm::Zipper zipper;
//   zipper.AddFile("report.html");
//   zipper.AddFile("pics/chart.png");
//   zipper.CompressRaiseErr("report.zip");
//
// Names are stored as given: relative paths keep their folders, a leading "/"
// is dropped. Entries are deflated at the default level (6). An archive that
// already exists is updated: entries of the same name are replaced, others
// are kept. Names that do not exist are skipped; when none exists the result
// is ZE_Nothing_To_Do_ERR and no archive is written. For more than 1024
// files, or to learn which files were left out and why, see ZipFiles.h.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "quillmark/Export.h"
#include "quillmark/values/Object.h"

namespace qm {

/// Outcomes of Zipper::Compress, as the zip engine reports them.
enum ZipErrors : std::int32_t {
  ZE_OK = 0,
  ZE_Unexpected_EOF_ERR = 2,
  ZE_Zip_Structure_ERR = 3,
  ZE_Out_of_memory_ERR = 4,
  ZE_Internal_Logic_ERR = 5,
  ZE_Entry_Too_Large_ERR = 6,
  ZE_Comment_Invalid_ERR = 7,
  ZE_Zip_Test_Failed_ERR = 8,
  ZE_Aborted = 9,
  ZE_Temp_File_ERR = 10,
  ZE_Read_ERR = 11,
  ZE_Nothing_To_Do_ERR = 12,
  ZE_Empty_Zip_ERR = 13,
  ZE_Write_ERR = 14,
  ZE_Create_ERR = 15,
  ZE_Params_ERR = 16,
  ZE_Open_ERR = 18,
};

/// Collects a list of files and writes them into a zip archive in one call.
class QUILLMARK_EXPORT Zipper : public virtual Object {
 public:
  /// The most names the list holds; further AddFile calls are ignored.
  static constexpr std::size_t kMaxFilenames = 1024;

  Zipper();
  ~Zipper() override;
  Zipper(const Zipper&) = delete;
  Zipper& operator=(const Zipper&) = delete;

  /// Empties the file-name list.
  void ClearFilenames();
  /// Appends Filename while the list holds fewer than 1024 names. The file
  /// need not exist yet.
  void AddFile(const std::string& Filename);
  /// Compress, raising -2147221404 + result with LookupErr's message when the
  /// result is not ZE_OK (12 raises -2147221392 "Nothing to do - check files exist").
  void CompressRaiseErr(const std::string& OutputFilename);
  /// Writes every listed file into OutputFilename. The list is kept, so a
  /// second call writes the same files again.
  ZipErrors Compress(const std::string& OutputFilename);
  /// The message for a result; the empty string for values not in ZipErrors.
  std::string LookupErr(ZipErrors errnum);

  std::string ClassName() const override { return "Zipper"; }

 private:
  std::int32_t SetCallbacks();
  template <class Function>
  static Function FnPtr(Function lp);

  // The object's state, defined in the library's sources.
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace qm

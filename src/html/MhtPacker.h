#pragma once
// The MHT packer behind qm::PackMht and mdlHTML2MHT::ConvertHTMLToMHT: the
// page, the pages it links to and the files they refer to, written as one
// MIME web archive (see quillmark/html/HTML2MHT.h for the format).

#include <filesystem>
#include <memory>
#include <string>

#include "quillmark/runtime/Progress.h"

namespace qm::mdlHTML2MHT {

/// What one packing job is given.
struct MhtJob {
  /// The absolute folder that relative names resolve against; empty for the
  /// current folder.
  std::filesystem::path Folder;
  /// The page's name in that folder, as the archive's first part names it.
  std::string Page;
  /// The message's subject.
  std::string Subject;
  /// When the page itself is missing, replace the archive by the message
  /// header already written (the published converter's way) instead of
  /// leaving it as it was.
  bool HeaderForMissingPage = false;
};

class MhtConversion;

/// One page packed into an archive: made before the job is looked at, so a
/// problem with the archive is found first, then run.
class MhtPacker {
 public:
  /// Prepares the archive `archive` (a path of this system), which is
  /// replaced in one step when the job ends; a failure leaves it as it was.
  /// 76 when its folder is missing, 70 when it may not be written.
  explicit MhtPacker(const std::string& archive);
  ~MhtPacker();
  MhtPacker(const MhtPacker&) = delete;
  MhtPacker& operator=(const MhtPacker&) = delete;

  /// Packs `job`'s page, telling `progress` the parts written of the parts
  /// found; 53 when the page is missing. Runs once.
  void Run(const MhtJob& job, const Progress& progress);

 private:
  std::unique_ptr<MhtConversion> conversion_;
};

/// The library's file name, " V" and its version.
std::string AppName();

}  // namespace qm::mdlHTML2MHT

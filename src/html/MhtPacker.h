#pragma once
// The MHT packer behind qm::PackMht and mdlHTML2MHT::ConvertHTMLToMHT: the
// page, the pages it links to and the files they refer to, written as one
// MIME web archive (see quillmark/html/HTML2MHT.h for the format).

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

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
  /// The message's date: given, the header says it in RFC 5322 form (UTC)
  /// and a subject beyond printable ASCII goes as RFC 2047 encoded-words;
  /// without, the published converter's fixed date and raw subject.
  std::optional<std::chrono::system_clock::time_point> Date;
  /// Packs only files inside Folder (a reference that leads out, by "..",
  /// an absolute path or a symbolic link, is left as a link, unread, and
  /// told in LeftOut, as written).
  bool Confine = false;
  std::vector<std::string>* LeftOut = nullptr;
};

/// `time` as an RFC 5322 date in UTC: "Tue, 08 Dec 2026 09:00:00 +0000".
std::string MailDate(std::chrono::system_clock::time_point time);

/// A Subject header's value: `text` itself when it is printable ASCII (and
/// holds no "=?"), else RFC 2047 encoded-words (UTF-8, base64) of at most 75
/// characters each, one a line; the lines after the first start with a blank
/// (folded).
std::vector<std::string> EncodedSubject(std::string_view text);

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

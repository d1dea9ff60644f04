#pragma once
// The zip engine the Zipper drives: two entry points, ZpInit and ZpArchive,
// reporting by the Zip library's result codes (ZipErrors). It writes with
// libzip and never raises on its own; only an exception from a registered
// callback passes through.
//
// Behaviour with its default options:
// - names are stored as given (with "/" separators): relative paths keep their
//   folders, leading "/" and "./" are dropped; a folder becomes a folder entry;
// - entries are deflated at level 6;
// - an existing archive is updated (same-name entries replaced), or, with
//   ZipMode::Create, replaced by one of the new entries only;
// - names that do not exist are reported through the print callback and
//   skipped; when none exists the result is 12 and no archive is written;
// - the archive itself is never added to itself; pipes and devices are skipped.

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "compression/ZipTypes.h"
#include "quillmark/compression/ZipFiles.h"

namespace qm::compression {

/// A name the engine left out or stopped at, and why, in words.
struct ZipNotice {
  std::string Name;
  std::string Reason;
};

class ZipLibrary {
 public:
  /// The deflate level of every entry (Info-ZIP's default, -6).
  static constexpr std::uint32_t kDeflateLevel = 6;

  /// Registers the callbacks used by the following ZpArchive calls. Returns 1.
  std::int32_t ZpInit(const ZipUserFunctions& functions);
  /// Writes the first `count` names of `names` into the archive `zipFileName`,
  /// updating an archive that is there.
  std::int32_t ZpArchive(std::int32_t count, std::string_view zipFileName, const ZipNameList& names);
  /// Writes every name of `names`, however many, into `zipFileName` in one
  /// pass: the archive is written once, its entries streamed out in order.
  /// Create leaves out the entries of an archive that is there (a file there
  /// that is no archive is still refused, and left alone).
  std::int32_t ZpArchiveAll(std::string_view zipFileName, std::span<const std::string_view> names, ZipMode mode);
  /// The names the last ZpArchive left out (missing, special files, the
  /// archive itself), in order, each with the reason.
  const std::vector<ZipNotice>& Skipped() const { return skipped_; }
  /// What stopped the last ZpArchive, naming the file concerned; an empty
  /// name and reason after success.
  const ZipNotice& Failure() const { return failure_; }
  /// True when the last ZpArchive failed only after its archive had replaced
  /// the old one (its folder could not be synced): the entries are in it.
  bool InPlace() const { return inPlace_; }
  /// The bytes of the files the last call found to archive (folders count 0).
  std::uint64_t Bytes() const { return bytes_; }

  /// Told, while each following ZpArchive writes its archive, the part
  /// written so far (0 to 1); an empty function is never called. An
  /// exception it throws cannot pass through libzip: it cancels the archive
  /// (ZE_Aborted, an existing archive stays as it was) and ends the calls.
  void OnWriting(std::function<void(double)> fraction) { writing_ = std::move(fraction); }
  /// The entry names of the following ZpArchive's names, one for each, in
  /// place of the names themselves; empty: the names as given.
  void StoreAs(std::vector<std::string> entryNames) { storeAs_ = std::move(entryNames); }

 private:
  std::int32_t Write(const std::string& archivePath, std::span<const std::string_view> names, ZipMode mode);
  std::int32_t Fail(std::int32_t result, std::string name, std::string reason);
  void Reset();  // forgets what the last call left

  ZipUserFunctions functions_{};
  std::vector<ZipNotice> skipped_;
  ZipNotice failure_;
  std::function<void(double)> writing_;
  std::vector<std::string> storeAs_;
  bool writingFailed_ = false;
  bool inPlace_ = false;
  std::uint64_t bytes_ = 0;
};

}  // namespace qm::compression

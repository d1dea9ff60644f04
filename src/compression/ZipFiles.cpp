#include "quillmark/compression/ZipFiles.h"

#include <algorithm>

#include "compression/ZipLibrary.h"
#include "compression/ZipTypes.h"
#include "frame/FileErrors.h"
#include "frame/ProgressRelay.h"
#include "quillmark/frame/ErrorNumbers.h"
#include "quillmark/frame/Frame.h"

namespace qm {
namespace {

// The bytes of the files of the rounds before each round, and of all at the
// end: {0, round 1, rounds 1 and 2, ...}. What cannot be looked at counts 0.
std::vector<std::uint64_t> RoundSizes(std::span<const std::filesystem::path> files) {
  std::vector<std::uint64_t> sizes{0};
  std::uint64_t total = 0;
  for (std::size_t i = 0; i < files.size(); ++i) {
    std::error_code ec;
    const auto size = std::filesystem::is_regular_file(files[i], ec) ? std::filesystem::file_size(files[i], ec) : 0;
    if (!ec) total += size;
    if ((i + 1) % compression::kZipNameSlots == 0 || i + 1 == files.size()) sizes.push_back(total);
  }
  return sizes;
}

}  // namespace

std::string ZipReport::Message() const {
  std::string text;
  for (const auto& skipped : Skipped) text += skipped.File.string() + ": " + skipped.Reason + ", not archived\n";
  if (Result == ZE_Nothing_To_Do_ERR) {
    text += "none of the files was found: no archive written\n";
  } else if (Result != ZE_OK) {
    text += (FailedFile.empty() ? Problem : FailedFile.string() + ": " + Problem) + '\n';
    if (NotTried > 0) text += std::to_string(NotTried) + " further files were not tried\n";
  }
  if (!text.empty()) text.pop_back();
  return text;
}

ZipReport ZipFiles(const std::filesystem::path& archive, std::span<const std::filesystem::path> files) {
  return ZipFiles(archive, files, Progress());
}

namespace {

ZipReport Archive(const std::filesystem::path& archive, std::span<const std::filesystem::path> files,
                  const Progress& progress) {
  QM_FRAME_TRY {
    compression::ZipLibrary engine;
    compression::ZipUserFunctions functions;
    functions.Print = &compression::ZDLLPrnt;
    functions.Comment = &compression::ZDLLComm;
    functions.Password = &compression::ZDLLPass;
    functions.Service = &compression::ZDLLServ;
    engine.ZpInit(functions);

    // With progress wanted, the sizes of the files before each round.
    std::vector<std::uint64_t> bytesBefore{0};
    if (progress) bytesBefore = RoundSizes(files);

    ZipReport report;
    std::vector<std::string> round;
    for (std::size_t first = 0; first < files.size(); first += compression::kZipNameSlots) {
      const std::size_t count = std::min(compression::kZipNameSlots, files.size() - first);
      if (progress) {
        // The bytes of the rounds before, and the written part of this one's.
        const std::uint64_t before = bytesBefore[first / compression::kZipNameSlots];
        const std::uint64_t share = bytesBefore[first / compression::kZipNameSlots + 1] - before;
        engine.OnWriting([&, before, share](double fraction) {
          const double part = std::clamp(fraction, 0.0, 1.0) * static_cast<double>(share);
          progress(before + static_cast<std::uint64_t>(part), bytesBefore.back());
        });
      }
      round.clear();
      for (std::size_t i = 0; i < count; ++i) round.push_back(files[first + i].string());
      compression::ZipNameList names;
      std::copy(round.begin(), round.end(), names.Names.begin());

      const auto result =
          static_cast<ZipErrors>(engine.ZpArchive(static_cast<std::int32_t>(count), archive.string(), names));
      for (const auto& notice : engine.Skipped()) report.Skipped.push_back({notice.Name, notice.Reason});
      if (result == ZE_OK) {
        report.Archived += count - engine.Skipped().size();
      } else if (result != ZE_Nothing_To_Do_ERR) {  // a round of missing names only writes nothing
        report.Result = result;
        report.FailedFile = engine.Failure().Name;
        report.Problem = engine.Failure().Reason;
        report.NotTried = files.size() - first - count;
        return report;
      }
    }
    if (report.Archived == 0) report.Result = ZE_Nothing_To_Do_ERR;
    return report;
  }
  QM_FRAME_CATCH("ZipFiles", "Public Function ZipFiles", archive.string());
}

}  // namespace

ZipReport ZipFiles(const std::filesystem::path& archive, std::span<const std::filesystem::path> files,
                   const Progress& progress) {
  frame::ProgressRelay relay(progress);
  ZipReport report;
  try {
    report = Archive(archive, files, relay.Callback());
  } catch (...) {
    relay.RethrowCallerException();
    throw;
  }
  // libzip cannot pass the exception on: it cancelled the archive instead.
  relay.RethrowCallerException();
  // An archive that cannot be created for want of its folder is the error
  // every typed job gives for it.
  std::filesystem::path folder;
  if (report.Result == ZE_Create_ERR && frame::FolderIsMissing(archive, folder))
    throw Error(ERR_PathNotFound, errc::not_found, frame::DefaultSource("ZipFiles"),
                DescribeError(ERR_PathNotFound, folder.string()));
  return report;
}

}  // namespace qm

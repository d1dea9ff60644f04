#include "quillmark/compression/ZipFiles.h"

#include <algorithm>

#include "compression/ZipLibrary.h"
#include "compression/ZipTypes.h"
#include "quillmark/frame/Frame.h"

namespace qm {

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

ZipReport ZipFiles(const std::filesystem::path& archive, std::span<const std::filesystem::path> files,
                   const Progress& progress) {
  QM_FRAME_TRY {
    compression::ZipLibrary engine;
    compression::ZipUserFunctions functions;
    functions.Print = &compression::ZDLLPrnt;
    functions.Comment = &compression::ZDLLComm;
    functions.Password = &compression::ZDLLPass;
    functions.Service = &compression::ZDLLServ;
    engine.ZpInit(functions);

    ZipReport report;
    std::vector<std::string> round;
    for (std::size_t first = 0; first < files.size(); first += compression::kZipNameSlots) {
      const std::size_t count = std::min(compression::kZipNameSlots, files.size() - first);
      round.clear();
      for (std::size_t i = 0; i < count; ++i) round.push_back(files[first + i].string());
      if (progress) {
        // A round's share of the job is its share of the files.
        const double total = static_cast<double>(files.size());
        engine.SetProgress([&progress, first, count, total](double fraction) {
          progress((static_cast<double>(first) + fraction * static_cast<double>(count)) / total);
        });
      }
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

}  // namespace qm

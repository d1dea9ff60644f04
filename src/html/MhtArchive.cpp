#include "quillmark/html/MhtArchive.h"

#include <sys/stat.h>

#include <cerrno>

#include "frame/FileErrors.h"
#include "html/MhtPacker.h"
#include "io/System.h"
#include "quillmark/errors/Error.h"
#include "quillmark/errors/ErrorNumbers.h"
#include "runtime/ProgressRelay.h"

namespace qm {

MhtResult PackMht(const std::filesystem::path& page, const std::filesystem::path& archive, const MhtOptions& options) {
  namespace fs = std::filesystem;
  runtime::ProgressRelay relay(options.OnProgress);
  MhtResult result;
  try {
    mdlHTML2MHT::MhtPacker packer(archive.string());
    mdlHTML2MHT::MhtJob job;
    const fs::path folder = page.parent_path();
    if (!folder.empty()) {
      // A folder that cannot be looked at is a file error naming the page.
      struct stat info {};
      const bool found = io::sys::Stat(folder.c_str(), &info) == 0;
      if (!found && errno != ENOENT && errno != ENOTDIR)
        Raise(ERR_PathFileAccess, ErrcOfErrno(errno), DescribeError(ERR_PathFileAccess, frame::Quoted(page.string())));
      if (!found || !S_ISDIR(info.st_mode)) frame::RaisePathNotFound(folder);
      job.Folder = fs::absolute(folder);
    }
    job.Page = page.filename().string();
    result.Subject = options.Subject.empty() ? "Report generated from " + mdlHTML2MHT::AppName() : options.Subject;
    job.Subject = result.Subject;
    job.Date = options.Date.value_or(std::chrono::system_clock::now());
    job.Confine = options.Confine;
    job.LeftOut = &result.LeftOut;
    try {
      packer.Run(job, relay.Callback());
    } catch (const Error&) {
      relay.RethrowCallerException();
      // The page's errors name it as the packer found it (its full path).
      frame::RethrowNaming(fs::absolute(page).string());
    }
  } catch (...) {
    relay.RethrowCallerException();
    frame::RethrowForTarget(archive);
  }
  return result;
}

std::string PackMht(const std::filesystem::path& page, const std::filesystem::path& archive, std::string subject,
                    const Progress& progress) {
  return PackMht(page, archive, MhtOptions{std::move(subject), progress, false, std::nullopt}).Subject;
}

}  // namespace qm

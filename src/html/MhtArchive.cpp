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

std::string PackMht(const std::filesystem::path& page, const std::filesystem::path& archive, std::string subject,
                    const Progress& progress) {
  namespace fs = std::filesystem;
  runtime::ProgressRelay relay(progress);
  try {
    mdlHTML2MHT::MhtPacker packer(archive.string());
    mdlHTML2MHT::MhtJob job;
    const fs::path folder = page.parent_path();
    if (!folder.empty()) {
      // A folder that cannot be looked at is a file error naming the page.
      struct stat info {};
      const bool found = io::sys::Stat(folder.c_str(), &info) == 0;
      if (!found && errno != ENOENT && errno != ENOTDIR)
        Raise(ERR_PathFileAccess, ErrcOfErrno(errno), DescribeError(ERR_PathFileAccess, page.string()));
      if (!found || !S_ISDIR(info.st_mode)) RaiseWithDetail(ERR_PathNotFound, folder.string());
      job.Folder = fs::absolute(folder);
    }
    job.Page = page.filename().string();
    if (subject.empty()) subject = "Report generated from " + mdlHTML2MHT::AppName();
    job.Subject = subject;
    packer.Run(job, relay.Callback());
  } catch (...) {
    relay.RethrowCallerException();
    frame::RethrowForTarget(archive);
  }
  return subject;
}

}  // namespace qm

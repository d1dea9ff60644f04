#include "quillmark/html/MhtArchive.h"

#include <sys/stat.h>

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
      struct stat info {};
      if (io::sys::Stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
        RaiseWithDetail(ERR_PathNotFound, folder.string());
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

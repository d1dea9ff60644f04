// The published MHT converter: the caller's names taken the Windows way, the
// hourglass while it runs and its call frame, around the packer.

#include "quillmark/html/HTML2MHT.h"

#include <sys/stat.h>

#include <cerrno>
#include <filesystem>

#include "html/MhtPacker.h"
#include "io/System.h"
#include "quillmark/errors/ErrorNumbers.h"
#include "quillmark/frame/Frame.h"
#include "quillmark/platform/Desktop.h"
#include "runtime/WindowsPath.h"

namespace qm::mdlHTML2MHT {
namespace {

namespace fs = std::filesystem;

// Shows the hourglass for its lifetime and then puts the previous pointer back.
class HourglassPointer {
 public:
  HourglassPointer() : previous_(platform::Current().GetMousePointer()) {
    platform::Current().SetMousePointer(platform::MousePointer::Hourglass);
  }
  ~HourglassPointer() {
    try {
      platform::Current().SetMousePointer(previous_);
    } catch (...) {  // restoring the pointer never turns into a failure
    }
  }
  HourglassPointer(const HourglassPointer&) = delete;
  HourglassPointer& operator=(const HourglassPointer&) = delete;

 private:
  platform::MousePointer previous_;
};

}  // namespace

std::string GetAppName() {
  QM_FRAME_TRY { return AppName(); }
  QM_FRAME_CATCH("HTML2MHT", "Private Function GetAppName");
}

void ConvertHTMLToMHT(const std::string& HTMLFilename, const std::string& MHTFilename, std::string& Subject) {
  ConvertHTMLToMHT(HTMLFilename, MHTFilename, Subject, Progress());
}

void ConvertHTMLToMHT(const std::string& HTMLFilename, const std::string& MHTFilename, std::string& Subject,
                      const Progress& progress) {
  QM_FRAME_TRY {
    HourglassPointer hourglass;
    MhtPacker packer(detail::NativePath(MHTFilename));
    MhtJob job;
    const std::string folder = detail::FolderPart(HTMLFilename);
    if (!folder.empty()) {
      // The page's folder plays the part of the current folder.
      auto resolved = detail::WindowsPathResolver().Resolve(folder);
      // One that cannot be looked at (not a missing one) is a file error naming the page.
      struct stat info {};
      const bool found = resolved && io::sys::Stat(resolved->c_str(), &info) == 0;
      if (resolved && !found && errno != ENOENT && errno != ENOTDIR)
        Raise(ERR_PathFileAccess, ErrcOfErrno(errno), DescribeError(ERR_PathFileAccess, HTMLFilename));
      if (!found || !S_ISDIR(info.st_mode)) Raise(ERR_PathNotFound);
      job.Folder = fs::absolute(*resolved);
    }
    job.Page = detail::FileNamePart(HTMLFilename);
    if (Subject.empty()) Subject = "Report generated from " + GetAppName();
    job.Subject = Subject;
    job.HeaderForMissingPage = true;
    packer.Run(job, progress);
  }
  QM_FRAME_CATCH("HTML2MHT", "Public Sub ConvertHTMLToMHT", HTMLFilename, MHTFilename, Subject);
}

}  // namespace qm::mdlHTML2MHT

#include "quillmark/html/MhtArchive.h"

#include "frame/FileErrors.h"
#include "quillmark/html/HTML2MHT.h"
#include "runtime/ProgressRelay.h"

namespace qm {

std::string PackMht(const std::filesystem::path& page, const std::filesystem::path& archive, std::string subject,
                    const Progress& progress) {
  runtime::ProgressRelay relay(progress);
  try {
    mdlHTML2MHT::ConvertHTMLToMHT(page.string(), archive.string(), subject, relay.Callback());
  } catch (...) {
    relay.RethrowCallerException();
    frame::RethrowForTarget(archive);
  }
  return subject;
}

}  // namespace qm

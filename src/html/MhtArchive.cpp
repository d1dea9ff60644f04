#include "quillmark/html/MhtArchive.h"

#include "html/MhtConversion.h"

namespace qm {

std::string PackMht(const std::filesystem::path& page, const std::filesystem::path& archive, std::string subject,
                    const Progress& progress) {
  mdlHTML2MHT::ConvertReporting(page.string(), archive.string(), subject, progress);
  return subject;
}

}  // namespace qm

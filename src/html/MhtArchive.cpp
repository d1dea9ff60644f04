#include "quillmark/html/MhtArchive.h"

#include "quillmark/html/HTML2MHT.h"

namespace qm {

std::string PackMht(const std::filesystem::path& page, const std::filesystem::path& archive, std::string subject,
                    const Progress& progress) {
  mdlHTML2MHT::ConvertHTMLToMHT(page.string(), archive.string(), subject, progress);
  return subject;
}

}  // namespace qm

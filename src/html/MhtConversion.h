#pragma once
// ConvertHTMLToMHT with a progress callback, for the typed layer: the same
// steps, call-frame element and archive.

#include <functional>
#include <string>

namespace qm::mdlHTML2MHT {

/// ConvertHTMLToMHT, telling `progress` the share of the archive's parts
/// (the page, its linked pages, its files) written so far.
void ConvertReporting(const std::string& HTMLFilename, const std::string& MHTFilename, std::string& Subject,
                      const std::function<void(double)>& progress);

}  // namespace qm::mdlHTML2MHT

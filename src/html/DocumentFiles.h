#pragma once
// File work shared by HTMLDoc and Typographer: the preview's scratch folder,
// copying a document's pictures and writing it.

#include <string>
#include <string_view>
#include <vector>

namespace qm::html {

/// `folder` + the platform separator + `name`.
std::string JoinPath(std::string_view folder, std::string_view name);

/// qm::TempFolder + "TYPO" + a number from 0 to 999, created (a failure, such as
/// the folder existing already, is ignored).
std::string MakePreviewFolder();
/// Deletes a folder with everything in it; failures are ignored.
void RemoveFolder(const std::string& folder) noexcept;

/// Copies each picture, in order, into the folder of `documentFile` under its
/// own file name, overwriting. 53 for a missing picture; pictures copied
/// before a failure stay copied.
void CopyPictures(const std::vector<std::string>& pictures, const std::string& documentFile);

/// Replaces `path` in one step with `text` and `end` (the published
/// documents end with CR LF).
void WriteDocument(const std::string& path, std::string_view text, std::string_view end = "\r\n");

}  // namespace qm::html

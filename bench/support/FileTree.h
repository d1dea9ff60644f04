#pragma once
// The trees the file-search rows walk: folders of 1,000 empty files each
// (hard links to one file of the folder), ten folders to a parent (dir0/sub0
// ... dir9/sub9 for 100 folders), half of whose names end in .txt, .TXT or
// .Txt.

#include <string>

namespace qm::bench {

/// Makes the tree of `folders` x 1,000 files under `root` (created as
/// needed): 100 folders make the 100,000 files of the find rows.
void MakeFileTree(const std::string& root, int folders = 100);

}  // namespace qm::bench

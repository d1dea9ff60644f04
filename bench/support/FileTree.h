#pragma once
// The tree the file-search rows walk: 10 x 10 folders of 1,000 empty files
// each (100,000), half of whose names end in .txt, .TXT or .Txt.

#include <string>

namespace qm::bench {

/// Makes the tree under `root` (created as needed).
void MakeFileTree(const std::string& root);

}  // namespace qm::bench

#pragma once
// Checks of written files by tools this project did not write.

#include <cstdlib>
#include <string>

namespace qm::test {

/// True when `xmllint --noout` accepts the file.
inline bool XmlLintAccepts(const std::string& path) {
  return std::system(("xmllint --noout '" + path + "' 2>/dev/null").c_str()) == 0;
}

}  // namespace qm::test

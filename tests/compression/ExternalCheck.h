#pragma once
// Checks of the library's output by tools written elsewhere: Python's zipfile
// and zlib modules (through check_archive.py) and Debian's unzip.

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "support/TestEnvironment.h"

namespace qm::test {

inline std::string Quote(const std::string& text) { return "'" + text + "'"; }

// Debian's interpreter when present: it starts far faster than a version shim.
inline std::string CheckArchiveCommand() {
  const std::string python = std::filesystem::exists("/usr/bin/python3") ? "/usr/bin/python3" : "python3";
  return python + " " + Quote((SourceDir() / "tests/compression/check_archive.py").string());
}

/// Python's zipfile lists exactly `names`, in order, each with the bytes of the
/// file of that name under `base` (or of PATH, for names given as NAME=PATH).
inline bool PythonReadsBack(const std::string& archive, const std::filesystem::path& base,
                            const std::vector<std::string>& names) {
  std::string command = CheckArchiveCommand() + " zip " + Quote(archive) + " " + Quote(base.string());
  for (const auto& name : names) command += " " + Quote(name);
  return std::system(command.c_str()) == 0;
}

/// Python's zipfile lists the entries, one line each: the stored name's bytes
/// in hex, 1 or 0 for the UTF-8 flag, the content in hex.
inline std::string PythonListsEntries(const std::string& archive) {
  return Output(CheckArchiveCommand() + " entries " + Quote(archive));
}

/// Python's zlib inflates the container's stream to the original, whose length
/// the 4-byte little-endian field holds.
inline bool PythonConfirmsContainer(const std::string& file, const std::string& original) {
  const std::string command = CheckArchiveCommand() + " container " + Quote(file) + " " + Quote(original);
  return std::system(command.c_str()) == 0;
}

/// Debian's unzip tests every entry's CRC.
inline bool UnzipTestPasses(const std::string& archive) {
  return std::system(("unzip -tqq " + Quote(archive)).c_str()) == 0;
}

}  // namespace qm::test

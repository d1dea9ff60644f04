#pragma once
// Whole-file binary reads and writes for the compression operations, raising
// the run-time's file errors.

#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace qm::compression {

/// The bytes of a whole file. 53 when it does not exist, 75 when it cannot be
/// read, 6 when it is longer than 2,147,483,647 bytes.
struct FileBytes {
  std::unique_ptr<std::uint8_t[]> Buffer;
  std::size_t Size = 0;

  std::span<std::uint8_t> Bytes() { return {Buffer.get(), Size}; }
};
FileBytes ReadWholeFile(const std::string& path);

/// Creates (or truncates) `path` and writes the pieces in order. 76 when the
/// folder does not exist, 75 when the file cannot be opened, 61 when the disk
/// is full, 57 for other write failures.
void WriteWholeFile(const std::string& path, std::initializer_list<std::span<const std::uint8_t>> pieces);

}  // namespace qm::compression

#pragma once
// The numbered-file table: files opened, printed to and closed by number, as
// the run-time's `Open ... As #n` does. One table per process.

#include <cstdint>
#include <string>
#include <string_view>

#include "quillmark/runtime/TextStream.h"

namespace qm::files {

enum class OpenMode { Input, Output, Append, Binary };

/// The lowest file number (1 to 255) not in use; 67 (Too many files) when all are.
std::int32_t FreeFile();
/// Opens `path` under `number`: 52 for a bad number, 55 when the number is in use.
void Open(std::int32_t number, const std::string& path, OpenMode mode);
/// Writes text and CR LF to an open file.
void PrintLine(std::int32_t number, std::string_view text);
/// Writes bytes unchanged.
void Put(std::int32_t number, std::string_view bytes);
/// Reads one line of a file opened for input.
std::string LineInput(std::int32_t number);
bool Eof(std::int32_t number);
void Close(std::int32_t number);
/// Closes every open file.
void Reset();
bool IsOpen(std::int32_t number);

}  // namespace qm::files

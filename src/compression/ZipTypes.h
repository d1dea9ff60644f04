#pragma once
// The records handed to the zip engine and the four callbacks the Zipper
// registers with it. Each callback ignores its arguments and returns 0
// ("carry on").

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace qm::compression {

/// Slots in the name list given to ZpArchive.
inline constexpr std::size_t kZipNameSlots = 1024;

using ZipPrintFunction = std::int32_t (*)(std::string_view Text, std::int32_t Length);
using ZipCommentFunction = std::int16_t (*)(std::string& Comment);
using ZipPasswordFunction = std::int16_t (*)(std::string& Password, std::int32_t Size, std::string_view Prompt,
                                             std::string_view Filename);
using ZipServiceFunction = std::int32_t (*)(std::string_view Filename, std::int32_t Size);

/// The callback table given to ZpInit: print, comment, password, service.
struct ZipUserFunctions {
  ZipPrintFunction Print = nullptr;
  ZipCommentFunction Comment = nullptr;
  ZipPasswordFunction Password = nullptr;
  ZipServiceFunction Service = nullptr;
};

/// The name list given to ZpArchive: the first `count` slots hold the names in
/// order, the rest are empty. The views refer to the caller's strings.
struct ZipNameList {
  std::array<std::string_view, kZipNameSlots> Names{};
};

/// Progress and warning lines ("  adding: x", "zip warning: ...").
std::int32_t ZDLLPrnt(std::string_view Text, std::int32_t Length);
/// Asked for an archive comment (never, with the default options).
std::int16_t ZDLLComm(std::string& Comment);
/// Asked for a password (never, with the default options).
std::int16_t ZDLLPass(std::string& Password, std::int32_t Size, std::string_view Prompt, std::string_view Filename);
/// Told about each file before it is added; a non-zero result aborts.
std::int32_t ZDLLServ(std::string_view Filename, std::int32_t Size);

}  // namespace qm::compression

// quillmark compress IN OUT / quillmark decompress IN OUT: the compressed-file
// container (a 4-byte original length, then the zlib stream).

#include <charconv>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string_view>

#include "Commands.h"
#include "ProgressLine.h"
#include "Trouble.h"
#include "quillmark/compression/Deflate.h"
#include "quillmark/errors/ErrorNumbers.h"

namespace qm::cli {
namespace {

using Args = std::vector<std::string>;

// zlib's result for the file, in words.
std::string ZlibWords(std::int32_t result, bool compressing, const Args& args) {
  const std::string& in = args[0];
  const std::string& out = args[1];
  std::string words;
  switch (result) {
    case -2: words = compressing ? "zlib refused the compression level" : in + " is damaged"; break;
    case -3: words = in + " is not a compressed file of this kind, or it is damaged"; break;
    case -4: words = "out of memory while working on " + in; break;
    case -5:
      words = compressing ? in + " did not fit the work buffer"
                          : in + " holds more data than its length field says, or the field is damaged";
      break;
    default: words = "zlib failed on " + in; break;
  }
  if (!compressing) words += "; " + out + " holds only what could be decompressed";
  const char* name = result == -2   ? "stream error"
                     : result == -3 ? "data error"
                     : result == -4 ? "memory error"
                     : result == -5 ? "buffer error"
                                    : "error";
  return words + " (zlib result " + std::to_string(result) + ": " + name + ")";
}

// The zlib result CompressFile and DecompressFile raise as 9999 "Compression
// failed: zlib result <code> (<zlib's words>)"; nothing for any other error.
std::optional<std::int32_t> ZlibResult(const Error& e) {
  constexpr std::string_view kLead = "Compression failed: zlib result ";
  const std::string& text = e.Description();
  if (e.Number() != ERR_General || !text.starts_with(kLead)) return std::nullopt;
  std::int32_t result = 0;
  const char* first = text.data() + kLead.size();
  const auto [end, ec] = std::from_chars(first, text.data() + text.size(), result);
  if (ec != std::errc() || end == first) return std::nullopt;
  return result;
}

int Run(const Invocation& call, bool compressing) {
  const Args& args = call.Operands();
  const std::string& in = args[0];
  std::error_code ignored;
  const auto inSize = std::filesystem::file_size(in, ignored);  // before OUT, which may be IN, is written
  try {
    ProgressLine progress(std::cerr, ProgressWanted(call.Chatty()),
                          compressing ? "quillmark compress" : "quillmark decompress", ProgressLine::Unit::Bytes);
    if (compressing) CompressFile(in, args[1], qm::DeflateLevel::Default, progress.Callback());
    else DecompressFile(in, args[1], progress.Callback());
  } catch (const Error& e) {
    if (const auto result = ZlibResult(e)) throw Trouble(ZlibWords(*result, compressing, args));
    std::error_code ec;
    const bool exists = std::filesystem::is_regular_file(in, ec);
    const std::string coded = Coded(e);
    if (e.Number() == 9 && exists && inSize == 0)
      throw Trouble(in + " is empty: there is nothing to " + (compressing ? "compress" : "decompress") + coded);
    if (e.Number() == 9 && exists && !compressing)
      throw Trouble(in + " is too short or its length field is negative: it is not a compressed file" + coded);
    if (e.Number() == 6 && exists) throw Trouble(in + " is larger than 2 GiB, the most the container holds" + coded);
    throw Trouble(Explain(e, {in}, args[1]));
  }
  std::cout << in << " (" << inSize << " bytes) -> " << args[1] << " (" << std::filesystem::file_size(args[1], ignored)
            << " bytes)\n";
  return 0;
}

}  // namespace

extern const Command kCompress{
    .Name = "compress",
    .Operands = "IN OUT",
    .Summary = "Compress the file IN with zlib into the compressed-file container OUT.",
    .MinOperands = 2,
    .MaxOperands = 2,
    .Options = {},
    .Details =
        "OUT holds the length of IN (4 bytes, little-endian, so at most 2 GiB) and then\n"
        "the zlib stream. OUT is replaced as a whole and may be IN itself. The sizes of\n"
        "both files are printed.\n\n"
        "Examples:\n"
        "  quillmark compress report.html report.cmp\n",
    .Run = [](const Invocation& call) { return Run(call, true); },
    .ShowsProgress = true,
};

extern const Command kDecompress{
    .Name = "decompress",
    .Operands = "IN OUT",
    .Summary = "Restore the file OUT from IN, a file written by 'quillmark compress'.",
    .MinOperands = 2,
    .MaxOperands = 2,
    .Options = {},
    .Details =
        "A damaged IN fails with zlib's result; OUT then holds what could be restored.\n\n"
        "Examples:\n"
        "  quillmark decompress report.cmp report.html\n",
    .Run = [](const Invocation& call) { return Run(call, false); },
    .ShowsProgress = true,
};

}  // namespace qm::cli

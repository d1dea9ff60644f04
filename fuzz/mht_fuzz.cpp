// The MHT converter's readers of page text on arbitrary bytes: FindRes from
// any start with any keyword, the per-line scan, the charset label of a page
// fed in pieces, and GetReferences on a file.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "html/PageCharset.h"
#include "html/ReferenceScan.h"
#include "quillmark/errors/Error.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace qm::mdlHTML2MHT;
  if (size == 0) return 0;
  const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
  static const char* keywords[] = {"src=", "background=", "href=", "", "=", "\"", "S"};
  try {
    std::string line = text, value;
    const std::int32_t start = static_cast<std::int32_t>(data[0] % 64) - 8;
    const std::int32_t end = FindRes(start, line, keywords[data[0] % 7], value);
    if (!value.empty() && end < start) __builtin_trap();
    if (line.size() != text.size()) __builtin_trap();

    ReferenceList found;
    ScanLine(text, found);
    for (const auto& r : found.Items())
      if (r.empty() || text.find(r) == std::string::npos) __builtin_trap();  // spelt as written

    // Any split into pieces gives the same label.
    PageCharset whole, pieces;
    whole.Feed(text);
    for (std::size_t at = 0, step = data[0] % 13 + 1; at < text.size(); at += step)
      pieces.Feed(std::string_view(text).substr(at, step));
    const std::string label = whole.Label();
    if (label != pieces.Label() || label.empty() || label.find('"') != std::string::npos) __builtin_trap();

    // Files are slow to make: one input in eight goes through GetReferences.
    if ((data[0] & 0x38) != 0) return 0;
    static const std::string path = "/tmp/qm-mht-fuzz-" + std::to_string(getpid()) + ".html";
    if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
      std::fwrite(text.data(), 1, text.size(), f);
      std::fclose(f);
      const ReferenceList references = GetReferences(path);
      for (const auto& r : references.Items())
        if (r.empty()) __builtin_trap();
    }
  } catch (const qm::Error&) {}
  return 0;
}

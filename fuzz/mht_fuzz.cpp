// The MHT converter's reference scan on arbitrary page text: FindRes from any
// start with any keyword, the per-line scan, and GetReferences on a file.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "html/ReferenceScan.h"
#include "quillmark/frame/Error.h"

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

    line = text;
    ReferenceList found;
    ScanLine(line, found);

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
  } catch (const qm::Error&) {
  }
  return 0;
}

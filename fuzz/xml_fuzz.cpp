// XML.LoadFromString on arbitrary bytes: either the assertion error or a
// document whose rendering loads again to the same text.

#include <cstdint>
#include <cstdlib>
#include <string>

#include "quillmark/automation/XML.h"
#include "quillmark/errors/Error.h"
#include "quillmark/errors/ErrorNumbers.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  qm::XML doc;
  try {
    doc.LoadFromString(text, "Fuzz");
  } catch (const qm::Error& e) {
    if (e.Number() != qm::ERR_ASSERTION) std::abort();
    return 0;
  }
  const std::string rendered = doc.GetNextTag()->Render();
  qm::XML again;
  again.LoadFromString(rendered, "Fuzz");  // must not raise
  if (again.GetNextTag()->Render() != rendered) std::abort();
  return 0;
}

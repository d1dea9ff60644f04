#include "utility/ADSI.h"

#include <unistd.h>

#include <array>

#include "quillmark/frame/Frame.h"

namespace qm::mdlADSI {
namespace {

// A NUL-terminated name from a fixed buffer; "" when the call failed.
template <class Call>
std::string NameFrom(Call call) {
  std::array<char, 256> buffer{};
  if (call(buffer.data(), buffer.size() - 1) != 0) return {};
  return std::string(buffer.data());
}

}  // namespace

std::string GetWindowsNTDomain() {
  QM_FRAME_TRY {
    std::string domain = NameFrom([](char* b, std::size_t n) { return ::getdomainname(b, n); });
    if (!domain.empty() && domain != "(none)") return domain;
    return NameFrom([](char* b, std::size_t n) { return ::gethostname(b, n); });
  }
  QM_FRAME_CATCH("ADSI", "Public Function GetWindowsNTDomain");
}

}  // namespace qm::mdlADSI

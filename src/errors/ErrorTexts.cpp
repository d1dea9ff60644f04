#include "errors/ErrorTexts.h"

// The bounds of the section qm_error_texts, which the linker defines when
// anything is placed in it; weak, so that they are null when nothing is.
extern "C" {
extern const qm::ErrorRow __start_qm_error_texts[] __attribute__((weak, visibility("hidden")));
extern const qm::ErrorRow __stop_qm_error_texts[] __attribute__((weak, visibility("hidden")));
}

namespace qm::errors {

std::span<const ErrorRow> RegisteredErrorTexts() {
  if (__start_qm_error_texts == nullptr || __stop_qm_error_texts == nullptr) return {};
  return {__start_qm_error_texts, __stop_qm_error_texts};
}

}  // namespace qm::errors

#pragma once
// The numbers `quillmark dialog` takes, checked before any window opens: by
// the command (CmdDialog.cpp) and again where the ui module reads them.

#include <cstdint>
#include <string>

#include "CommandLine.h"

namespace qm::cli {

/// The numbers of a dialog's options and operands.
struct Numbers {
  std::int32_t Seconds = 0;
  std::int16_t Tick = 1;
  std::int32_t Index = 1;
  double Low = 0, High = 100, Default = 0;
  std::int32_t Colour = -1;  // none given
};

/// The numbers of `call` for a dialog of `kind`; raises UsageError naming the
/// option or operand that is not a number in its range.
Numbers CheckedNumbers(const Invocation& call, const std::string& kind);

}  // namespace qm::cli

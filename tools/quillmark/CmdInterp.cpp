// quillmark interp --cubic|--linear PRECISION V...: resampled values, one a line.

#include <iostream>

#include "Commands.h"
#include "Trouble.h"
#include "quillmark/graphics/Resample.h"
#include "quillmark/values/Conversions.h"

namespace qm::cli {
namespace {

int Run(const Invocation& call) {
  const bool cubic = call.Has("cubic");
  if (cubic == call.Has("linear")) call.Wrong("give either --cubic or --linear");
  const auto& args = call.Operands();
  const auto p = static_cast<std::int16_t>(call.Whole(args[0], "PRECISION", -32768, 32767));
  std::vector<double> samples;
  for (std::size_t i = 1; i < args.size(); ++i) samples.push_back(call.Number(args[i], "every value V"));
  std::vector<double> values;
  try {
    values = cubic ? ResampleCubic(samples, p) : ResampleLinear(samples, p);
  } catch (const Error& e) {
    if (e.Number() == 9 && p < 0)
      throw Trouble("PRECISION " + args[0] + " is negative: it gives the points per interval (error " +
                    std::to_string(e.Number()) + ")");
    throw;
  }
  // CStr's form of a Double: 0.5, -2, 1E+20.
  for (const double v : values) std::cout << CStr(Variant(v)) << '\n';
  return 0;
}

constexpr Option kOptions[] = {
    {"cubic", 0, {}, "resample by natural cubic spline"},
    {"linear", 0, {}, "resample by straight lines between the values"},
};

}  // namespace

extern const Command kInterp{
    .Name = "interp",
    .Operands = "--cubic|--linear PRECISION V...",
    .Summary = "Resample the values V, PRECISION points per interval, and print one a line.",
    .MinOperands = 1,
    .MaxOperands = Command::kAny,
    .Options = kOptions,
    .Details =
        "PRECISION is a whole number from 0 to 32767 (a negative one fails); the values\n"
        "are numbers in the C locale's form (1.5, -2, 1E+20).\n\n"
        "Examples:\n"
        "  quillmark interp --cubic 4 0 1 0 -1 0\n"
        "  quillmark interp --linear 2 1 2 4\n",
    .Run = Run,
    .ShowsProgress = false,
};

}  // namespace qm::cli

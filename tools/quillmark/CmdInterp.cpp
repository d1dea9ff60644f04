// quillmark interp --cubic|--linear PRECISION V...: resampled values, one a line.

#include <iostream>

#include "Commands.h"
#include "Trouble.h"
#include "quillmark/graphics/Interpolate.h"
#include "quillmark/runtime/Conversions.h"

namespace qm::cli {

int RunInterp(const Args& args) {
  if (args.size() < 2 || (args[0] != "--cubic" && args[0] != "--linear")) {
    std::cerr << "usage: quillmark interp --cubic|--linear PRECISION V...\n";
    return 2;
  }
  double precision = 0;
  if (!TryParseNumber(args[1], precision) || precision != static_cast<std::int16_t>(precision)) {
    std::cerr << "quillmark interp: PRECISION must be a whole number from -32768 to 32767\n";
    return 2;
  }
  std::vector<Variant> samples;
  for (std::size_t i = 2; i < args.size(); ++i) {
    double value = 0;
    if (!TryParseNumber(args[i], value)) {
      std::cerr << "quillmark interp: '" << args[i] << "' is no number\n";
      return 2;
    }
    samples.emplace_back(value);
  }
  Variant input(VariantArray::FromVector(std::move(samples)));
  Interpolate interp;
  const auto p = static_cast<std::int16_t>(precision);
  Variant result;
  try {
    result = args[0] == "--cubic" ? interp.InterpCub(input, p) : interp.InterpLin(input, p);
  } catch (const Error& e) {
    if (e.Number() == 9 && p < 0)
      throw Trouble("PRECISION " + args[1] + " is negative: it gives the points per interval" + Coded(e));
    throw;
  }
  if (result.IsArray())
    for (const auto& v : result.Array().Data()) std::cout << CStr(v) << '\n';
  return 0;
}

}  // namespace qm::cli

#include "CommandLine.h"

#include <algorithm>
#include <cctype>
#include <cmath>

#include "quillmark/values/Conversions.h"

namespace qm::cli {
namespace {

constexpr Option kHelpOnly[] = {
    {"help", 'h', {}, "display this help and exit"},
};
constexpr Option kHelpAndQuiet[] = {
    {"quiet", 'q', {}, "do not show progress (shown on stderr only when it is a terminal)"},
    {"help", 'h', {}, "display this help and exit"},
};

// "-1", "-.5": a negative number, taken as an operand.
bool LooksNegative(std::string_view arg) {
  return arg.size() > 1 && arg[0] == '-' && (std::isdigit(static_cast<unsigned char>(arg[1])) || arg[1] == '.');
}

// "  -q, --quiet" or "      --quality=N": the left column of an option.
std::string Spelling(const Option& option) {
  std::string text = option.Short ? std::string("  -") + option.Short + ", " : std::string(6, ' ');
  text += "--";
  text += option.Long;
  if (!option.Value.empty()) {
    text += '=';
    text += option.Value;
  }
  return text;
}

}  // namespace

std::span<const Option> CommonOptions(const Command& command) {
  if (command.ShowsProgress) return kHelpAndQuiet;
  return kHelpOnly;
}

namespace {

// The command's own option, or a common one, that `match` accepts.
template <class Match>
const Option* Find(const Command& command, Match match) {
  for (const auto options : {command.Options, CommonOptions(command)}) {
    const auto it = std::find_if(options.begin(), options.end(), match);
    if (it != options.end()) return &*it;
  }
  return nullptr;
}

}  // namespace

Invocation::Invocation(const Command& command, std::span<const std::string> args) : command_(&command) {
  // Help wins over anything else on the line, as with the GNU tools.
  for (const auto& arg : args) {
    if (arg == "--") break;
    if (arg == "--help" || arg == "-h") help_ = true;
  }
  if (help_) return;
  Parse(args);
  if (operands_.size() < command.MinOperands) Wrong("missing argument: expected " + std::string(command.Operands));
  if (operands_.size() > command.MaxOperands) Wrong("unexpected argument '" + operands_[command.MaxOperands] + "'");
}

void Invocation::Parse(std::span<const std::string> args) {
  bool optionsOver = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (optionsOver || arg.size() < 2 || arg[0] != '-' || LooksNegative(arg)) {
      operands_.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsOver = true;
      continue;
    }
    if (arg[1] == '-') {
      const auto equals = arg.find('=');
      const std::string_view name = std::string_view(arg).substr(2, equals == std::string::npos ? equals : equals - 2);
      const Option* option = FindLong(name);
      if (!option) Wrong("unknown option '--" + std::string(name) + "'");
      if (option->Value.empty()) {
        if (equals != std::string::npos) Wrong("option '--" + std::string(name) + "' takes no value");
        given_.emplace_back(option->Long, std::string());
      } else if (equals != std::string::npos) {
        given_.emplace_back(option->Long, arg.substr(equals + 1));
      } else {
        if (i + 1 == args.size())
          Wrong("option '--" + std::string(name) + "' needs a value (" + std::string(option->Value) + ")");
        given_.emplace_back(option->Long, args[++i]);
      }
      continue;
    }
    // -x, -xy (switches grouped), -x VALUE or -xVALUE.
    for (std::size_t at = 1; at < arg.size(); ++at) {
      const Option* option = FindShort(arg[at]);
      if (!option) Wrong(std::string("unknown option '-") + arg[at] + "'");
      if (option->Value.empty()) {
        given_.emplace_back(option->Long, std::string());
        continue;
      }
      if (at + 1 < arg.size()) {
        given_.emplace_back(option->Long, arg.substr(at + 1));
      } else {
        if (i + 1 == args.size())
          Wrong(std::string("option '-") + arg[at] + "' needs a value (" + std::string(option->Value) + ")");
        given_.emplace_back(option->Long, args[++i]);
      }
      break;
    }
  }
}

const Option* Invocation::FindLong(std::string_view name) const {
  return Find(*command_, [&](const Option& o) { return o.Long == name; });
}

const Option* Invocation::FindShort(char name) const {
  return Find(*command_, [&](const Option& o) { return o.Short == name; });
}

std::string Invocation::Operand(std::size_t i, std::string_view fallback) const {
  return i < operands_.size() ? operands_[i] : std::string(fallback);
}

bool Invocation::Has(std::string_view option) const {
  return std::any_of(given_.begin(), given_.end(), [&](const auto& given) { return given.first == option; });
}

std::string Invocation::Value(std::string_view option, std::string_view fallback) const {
  // The last value given wins.
  const auto last =
      std::find_if(given_.rbegin(), given_.rend(), [&](const auto& given) { return given.first == option; });
  return last != given_.rend() ? last->second : std::string(fallback);
}

double Invocation::Number(std::string_view text, std::string_view what) const {
  double value = 0;
  if (!TryParseNumber(std::string(text), value) || !std::isfinite(value))
    Wrong(std::string(what) + " must be a number, not '" + std::string(text) + "'");
  return value;
}

std::int64_t Invocation::Whole(std::string_view text, std::string_view what, std::int64_t low,
                               std::int64_t high) const {
  double value = 0;
  if (!TryParseNumber(std::string(text), value) || value != std::floor(value) || value < static_cast<double>(low) ||
      value > static_cast<double>(high))
    Wrong(std::string(what) + " must be a whole number from " + std::to_string(low) + " to " + std::to_string(high) +
          ", not '" + std::string(text) + "'");
  return static_cast<std::int64_t>(value);
}

void Invocation::Wrong(const std::string& reason) const { throw UsageError(reason); }

std::string UsageLine(const Command& command) {
  std::string line = "Usage: quillmark " + std::string(command.Name) + " [OPTION]...";
  if (!command.Operands.empty()) line += " " + std::string(command.Operands);
  return line;
}

void PrintHelp(const Command& command, std::ostream& out) {
  out << UsageLine(command) << '\n' << command.Summary << "\n\nOptions:\n";
  std::size_t width = 0;
  const auto lists = {command.Options, CommonOptions(command)};
  for (const auto& list : lists)
    for (const auto& option : list) width = std::max(width, Spelling(option).size());
  for (const auto& list : lists)
    for (const auto& option : list) {
      const std::string left = Spelling(option);
      out << left << std::string(width + 2 - left.size(), ' ') << option.Help << '\n';
    }
  if (!command.Details.empty()) out << '\n' << command.Details;
  out << "\nExit status: 0 on success, 1 when the job fails (the message names the file and\n"
         "the library's error), 2 on wrong usage.\n";
}

void PrintUsageError(const Command& command, const UsageError& error, std::ostream& out) {
  out << "quillmark " << command.Name << ": " << error.what() << '\n'
      << UsageLine(command) << '\n'
      << "Try 'quillmark " << command.Name << " --help' for more information.\n";
}

}  // namespace qm::cli

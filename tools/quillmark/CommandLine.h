#pragma once
// The command line of the `quillmark` tool. Each command declares once what
// it takes (operands, options, help text); parsing, `--help` and the usage
// errors follow from that declaration, in the manner of the GNU tools:
//
//   --name, --name=VALUE, --name VALUE, -x, -x VALUE, -xy (switches grouped),
//   "--" ends the options, and an argument such as "-1" or "-.5" is a number,
//   not an option.

#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <ostream>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qm::cli {

/// One option of a command. With a `Value` name it takes a value
/// (`--quality=N`); without, it is a switch.
struct Option {
  std::string_view Long;
  char Short = 0;  ///< 0: no short form
  std::string_view Value;
  std::string_view Help;
};

class Invocation;

/// A command of the tool and its help.
struct Command {
  static constexpr std::size_t kAny = std::numeric_limits<std::size_t>::max();

  std::string_view Name;
  std::string_view Operands;  ///< as the usage line shows them: "OUT.zip FILE..."
  std::string_view Summary;   ///< what it does, one sentence
  std::size_t MinOperands = 0;
  std::size_t MaxOperands = 0;  ///< kAny: no limit
  std::span<const Option> Options;
  std::string_view Details;  ///< paragraphs after the options, with examples
  int (*Run)(const Invocation&) = nullptr;
  bool ShowsProgress = false;  ///< draws progress on a terminal; takes -q, --quiet
};

/// Wrong usage: main says the reason and the command's usage, and exits 2.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

/// A command's arguments, parsed and checked against its declaration.
class Invocation {
 public:
  /// Parses `args` (what follows the command's name). Raises UsageError for
  /// an unknown option, a missing or needless value, or too few or too many
  /// operands, unless help is asked for.
  Invocation(const Command& command, std::span<const std::string> args);

  bool HelpAsked() const { return help_; }
  /// The command this is an invocation of.
  const Command& Which() const { return *command_; }
  /// True unless --quiet was given.
  bool Chatty() const { return !Has("quiet"); }

  const std::vector<std::string>& Operands() const { return operands_; }
  /// Operand `i`, or `fallback` when there are fewer.
  std::string Operand(std::size_t i, std::string_view fallback = {}) const;

  /// True when the option (by its long name) was given.
  bool Has(std::string_view option) const;
  /// The option's value (the last one given), or `fallback`.
  std::string Value(std::string_view option, std::string_view fallback = {}) const;

  /// `text` as a whole number from `low` to `high`; otherwise wrong usage
  /// saying that `what` must be one.
  std::int64_t Whole(std::string_view text, std::string_view what, std::int64_t low, std::int64_t high) const;
  /// `text` as a number; otherwise wrong usage naming `what`.
  double Number(std::string_view text, std::string_view what) const;

  /// Raises UsageError with `reason`.
  [[noreturn]] void Wrong(const std::string& reason) const;

 private:
  void Parse(std::span<const std::string> args);
  const Option* FindLong(std::string_view name) const;
  const Option* FindShort(char name) const;

  const Command* command_;
  std::vector<std::string> operands_;
  std::vector<std::pair<std::string_view, std::string>> given_;  // long name, value
  bool help_ = false;
};

/// The options every command takes besides its own.
std::span<const Option> CommonOptions(const Command& command);

/// The command's --help text: usage, summary, options, details, exit status.
void PrintHelp(const Command& command, std::ostream& out);
/// "Usage: quillmark NAME [OPTION]... OPERANDS".
std::string UsageLine(const Command& command);
/// The lines of a usage error: the reason, the usage, where help is.
void PrintUsageError(const Command& command, const UsageError& error, std::ostream& out);

}  // namespace qm::cli

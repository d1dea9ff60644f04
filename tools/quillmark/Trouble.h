#pragma once
// Failures of the tool's commands, said in words for the person at the shell.
// The library raises run-time numbers ("error 53: File not found") that do
// not say which file; the commands know their files and look at them.

#include <initializer_list>
#include <stdexcept>
#include <string>
#include <string_view>

#include "quillmark/errors/Error.h"

namespace qm::cli {

/// A command's failure, already in words; main prints it and exits 1.
class Trouble : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

/// What went wrong with which file: the first input that is missing, a
/// folder or unreadable, else an output whose folder is missing or not
/// writable, else the error's own description when it names one of the
/// files (as a failed write names the file written), else that description
/// with the first file named;
/// followed by the error's
/// number and text, e.g. "in.dat does not exist (error 53: File not found)".
std::string Explain(const Error& e, std::initializer_list<std::string_view> inputs, std::string_view output = {});

/// The library's number and text for a message: " (error 53: File not found)".
std::string Coded(const Error& e);

/// Why `input` cannot be read as a file ("x does not exist", "x is a folder,
/// not a file", "x cannot be read: ..."); empty when nothing is wrong with it.
std::string WhyNotReadable(std::string_view input);
/// Why `output` cannot be written (a folder, its folder missing or not
/// writable); empty when nothing is wrong with it.
std::string WhyNotWritable(std::string_view output);

/// Runs `work`; an Error it raises leaves as a Trouble saying what went wrong.
template <class Work>
decltype(auto) WithFiles(std::initializer_list<std::string_view> inputs, std::string_view output, Work&& work) {
  try {
    return work();
  } catch (const Error& e) {
    throw Trouble(Explain(e, inputs, output));
  }
}

}  // namespace qm::cli

#include "Trouble.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace qm::cli {

namespace fs = std::filesystem;

std::string WhyNotReadable(std::string_view input) {
  const fs::path path(input);
  std::error_code ec;
  const auto status = fs::status(path, ec);
  if (!fs::exists(status)) return std::string(input) + " does not exist";
  if (fs::is_directory(status)) return std::string(input) + " is a folder, not a file";
  if (::access(path.c_str(), R_OK) != 0) return std::string(input) + " cannot be read: " + std::strerror(errno);
  return {};
}

std::string WhyNotWritable(std::string_view output) {
  const fs::path path(output);
  const fs::path folder = path.has_parent_path() ? path.parent_path() : fs::path(".");
  const std::string cannot = "cannot write " + std::string(output) + ": ";
  std::error_code ec;
  if (fs::is_directory(path, ec)) return cannot + "it is a folder";
  const auto status = fs::status(folder, ec);
  if (!fs::exists(status)) return cannot + "the folder " + folder.string() + " does not exist";
  if (!fs::is_directory(status)) return cannot + folder.string() + " is not a folder";
  if (::access(folder.c_str(), W_OK) != 0) return cannot + "no permission to write in " + folder.string();
  return {};
}

namespace {

// Whether the library's description names `file` ("Device I/O error: out.z",
// "... error: out.z: the workbook ...", "File not found: 'in.xml'"), as the
// library's file errors do.
bool Names(const Error& e, std::string_view file) {
  if (file.empty()) return false;
  const std::string& words = e.Description();
  if (words.find("'" + std::string(file) + "'") != std::string::npos) return true;
  const std::string named = ": " + std::string(file);
  for (auto at = words.find(named); at != std::string::npos; at = words.find(named, at + 1)) {
    const std::size_t end = at + named.size();
    if (end == words.size() || std::string_view(" :(").find(words[end]) != std::string_view::npos) return true;
  }
  return false;
}

}  // namespace

std::string Coded(const Error& e) { return " (error " + std::to_string(e.Number()) + ": " + e.Description() + ")"; }

std::string Explain(const Error& e, std::initializer_list<std::string_view> inputs, std::string_view output) {
  std::string words;
  for (const auto input : inputs) {
    words = WhyNotReadable(input);
    if (!words.empty()) break;
  }
  if (words.empty() && !output.empty()) {
    words = WhyNotWritable(output);
    if (words.empty() && e.Number() == 61) words = "cannot write " + std::string(output) + ": the disk is full";
  }
  if (words.empty()) {
    // A failure the library said of a file (a failed write names the file
    // written) is told in its words.
    bool named = Names(e, output);
    for (const auto input : inputs) named = named || Names(e, input);
    if (named) return e.Description() + " (error " + std::to_string(e.Number()) + ")";
    const std::string_view file = inputs.size() > 0 ? *inputs.begin() : output;
    return std::string(file) + ": " + e.Description() + " (error " + std::to_string(e.Number()) + ")";
  }
  return words + Coded(e);
}

}  // namespace qm::cli

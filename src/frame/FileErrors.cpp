#include "frame/FileErrors.h"

#include "quillmark/errors/Error.h"
#include "quillmark/errors/ErrorNumbers.h"

namespace qm::frame {
namespace fs = std::filesystem;

void RaiseErrno(std::int32_t number, int error) {
  Raise(number, ErrcOfErrno(error), std::string(StandardErrorText(number)));
}

bool FolderIsMissing(const fs::path& target, fs::path& folder) {
  std::error_code ec;
  fs::path parent = fs::absolute(target, ec).parent_path();
  if (ec || parent.empty()) return false;
  const auto status = fs::status(parent, ec);
  if (fs::is_directory(status)) return false;
  // Only "not there" counts: a folder that cannot be searched is a matter of
  // permission, which the caught error already says.
  if (ec && ec != std::errc::no_such_file_or_directory && ec != std::errc::not_a_directory) return false;
  folder = std::move(parent);
  return true;
}

std::string WriteFailureDetail(const fs::path& target, const std::exception& failure) {
  if (dynamic_cast<const FolderNotSynced*>(&failure) == nullptr) return target.string();
  return target.string() + " (the new file is in place, but its folder could not be synced)";
}

namespace {

// Whether `named` (from a filesystem_error) is `target`, or the file a link
// at `target` leads to.
bool IsTarget(const fs::path& named, const fs::path& target) {
  if (named.empty() || named == target) return true;
  std::error_code ec;
  return fs::weakly_canonical(named, ec) == fs::weakly_canonical(target, ec);
}

}  // namespace

void RethrowForTarget(const fs::path& target) {
  fs::path folder;
  if (!FolderIsMissing(target, folder)) {
    try {
      throw;
    } catch (const fs::filesystem_error& e) {
      // The file beside the target could not be made or put in place.
      const errc cause = ErrcOfErrno(e.code().value());
      const std::int32_t number = cause == errc::permission_denied ? ERR_PermissionDenied
                                  : cause == errc::no_space        ? ERR_DiskFull
                                                                   : ERR_PathFileAccess;
      Raise(number, cause,
            DescribeError(number, WriteFailureDetail(IsTarget(e.path1(), target) ? target : e.path1(), e)));
    }
  }
  std::string source;
  try {
    throw;
  } catch (const Error& e) {
    source = e.Source();
  } catch (...) {}
  RaisePathNotFound(folder, std::move(source));
}

void RaisePathNotFound(const fs::path& folder, std::string source) {
  throw Error(ERR_PathNotFound, errc::not_found, std::move(source),
              DescribeError(ERR_PathNotFound, Quoted(folder.string())));
}

void RethrowForInput(const fs::path& input) {
  fs::path folder;
  try {
    throw;
  } catch (const Error& e) {
    if (e.Number() == ERR_PathNotFound && FolderIsMissing(input, folder)) RaisePathNotFound(folder, e.Source());
  } catch (...) {}
  RethrowNaming(input.string());
}

std::string Quoted(std::string_view subject) { return "'" + std::string(subject) + "'"; }

void RethrowNaming(std::string_view subject, std::string_view label) {
  try {
    throw;
  } catch (const Error& e) {
    const std::string& said = e.Description();
    const std::string quoted = Quoted(subject);
    if (subject.empty() || said.find(quoted) != std::string::npos) throw;
    std::string named;
    const std::string bare = ": " + std::string(subject);
    if (said.ends_with(bare)) named = said.substr(0, said.size() - subject.size()) + quoted;
    else named = said + ": " + (label.empty() ? std::string() : std::string(label) + " ") + quoted;
    throw Error(e.Number(), e.Errc(), e.Source(), std::move(named));
  }
}

}  // namespace qm::frame

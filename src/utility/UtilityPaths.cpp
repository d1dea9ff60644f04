// Utility: paths, files and folders.

#include <dlfcn.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <vector>

#include "io/System.h"
#include "quillmark/frame/Frame.h"
#include "quillmark/frame/LibMain.h"
#include "quillmark/html/HTML2MHT.h"
#include "quillmark/platform/Desktop.h"
#include "quillmark/utility/Utility.h"
#include "quillmark/values/Conversions.h"
#include "quillmark/values/Dispatch.h"
#include "runtime/WindowsPath.h"
#include "utility/TempNames.h"

namespace qm {
namespace {

namespace fs = std::filesystem;

// The folder buffers of the platform calls hold 144 characters.
constexpr std::size_t kFolderBuffer = 144;
// The relative-path buffer holds 260 characters, its terminating NUL included.
constexpr std::size_t kRelativeBuffer = 260;

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

std::vector<std::string> SplitPath(std::string_view path) {
  std::vector<std::string> parts;
  std::string current;
  for (const char c : path) {
    if (IsSeparator(c)) {
      if (!current.empty()) parts.push_back(std::move(current));
      current.clear();
    } else {
      current += c;
    }
  }
  if (!current.empty()) parts.push_back(std::move(current));
  return parts;
}

// Removes "." and resolves ".." lexically; false when ".." climbs above the root.
bool Normalize(std::vector<std::string>& parts, std::size_t rootParts) {
  std::vector<std::string> out;
  for (auto& part : parts) {
    if (part == ".") continue;
    if (part == "..") {
      if (out.size() <= rootParts) return false;
      out.pop_back();
      continue;
    }
    out.push_back(std::move(part));
  }
  parts = std::move(out);
  return true;
}

std::string HomeFolder() {
  if (const char* home = std::getenv("HOME"); home && *home) return home;
  if (const passwd* entry = ::getpwuid(::getuid()); entry && entry->pw_dir) return entry->pw_dir;
  return "/";
}

std::string Capped(std::string text, std::size_t limit) {
  if (text.size() > limit) text.resize(limit);
  return text;
}

std::int64_t WindowHandle(const Variant& form) { return static_cast<std::int64_t>(CDbl(GetProperty(form, "hwnd"))); }

std::string Join(const std::vector<std::string>& chars, std::size_t from, std::size_t to) {
  std::string out;
  for (std::size_t k = from; k < to; ++k) out += chars[k];
  return out;
}

}  // namespace

std::string Utility::TempFolder() { return qm::TempFolder(); }

std::string Utility::GetWinDir() const {
  QM_FRAME_TRY { return Capped("/usr", kFolderBuffer); }
  QM_FRAME_CATCH("Utility", "Public Function GetWinDir");
}

std::string Utility::GetSysDir() const {
  QM_FRAME_TRY {
    // The folder that holds the C library, as the system folder holds the
    // system's own libraries.
    Dl_info info{};
    if (!::dladdr(reinterpret_cast<void*>(&::getpid), &info) || !info.dli_fname) return {};
    return Capped(fs::path(info.dli_fname).parent_path().string(), kFolderBuffer);
  }
  QM_FRAME_CATCH("Utility", "Public Function GetSysDir");
}

std::string Utility::GetMyDocumentsDir() const {
  QM_FRAME_TRY {
    const std::string home = HomeFolder();
    const char* config = std::getenv("XDG_CONFIG_HOME");
    const std::string dirs = (config && *config ? std::string(config) : home + "/.config") + "/user-dirs.dirs";
    std::string bytes;
    if (io::sys::ReadWhole(dirs.c_str(), bytes) != 0) bytes.clear();
    std::istringstream in(bytes);
    std::string line;
    while (std::getline(in, line)) {
      const std::string_view key = "XDG_DOCUMENTS_DIR=";
      const std::string text = Trim(line);
      if (text.rfind(key, 0) != 0) continue;
      std::string value = text.substr(key.size());
      if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
      if (value.rfind("$HOME", 0) == 0) value = home + value.substr(5);
      return value;
    }
    return home + "/Documents";
  }
  QM_FRAME_CATCH("Utility", "Public Function GetMyDocumentsDir");
}

std::string Utility::Get811Name(const std::string& Filename) const {
  QM_FRAME_TRY {
    struct stat info {};
    if (Filename.empty() || io::sys::Lstat(Filename.c_str(), &info) != 0) return {};
    return Filename;
  }
  QM_FRAME_CATCH("Utility", "Public Function Get811Name", Filename);
}

std::string Utility::GetShortName(const std::string& LongFilename) const {
  QM_FRAME_TRY { return Get811Name(LongFilename); }
  QM_FRAME_CATCH("Utility", "Public Function GetShortName", LongFilename);
}

// Departs from the call frame: any failure ends it with ShortName and "/".
std::string Utility::GetLongFilename(const std::string& ShortName) const {
  try {
    const auto path = detail::WindowsPathResolver().Resolve(ShortName);
    return path ? path->string() : std::string();
  } catch (...) {
    return ShortName + "/";
  }
}

Variant Utility::FilenameToURL(const std::string& Filename) const {
  QM_FRAME_TRY {
    const std::string path = ReplaceAll(ReplaceAll(Filename, " ", "%20"), "\\", "/");
    // An absolute Linux path brings its own leading slash.
    return Variant(path.starts_with('/') ? "file://" + path : "file:///" + path);
  }
  QM_FRAME_CATCH("Utility", "Public Function FilenameToURL", Filename);
}

Variant Utility::FilenameToMHTURL(const std::string& Filename) const {
  QM_FRAME_TRY { return Variant("mhtml:file://" + ReplaceAll(Filename, " ", "%20")); }
  QM_FRAME_CATCH("Utility", "Public Function FilenameToMHTURL", Filename);
}

void Utility::ConvertHTMLToMHT(const std::string& Filename) const {
  QM_FRAME_TRY {
    // The folder part and the name without its last extension, joined again
    // with the separator the name uses.
    const auto slash = Filename.find_last_of("/\\");
    const std::string folder = slash == std::string::npos ? std::string() : Filename.substr(0, slash);
    const std::string name = slash == std::string::npos ? Filename : Filename.substr(slash + 1);
    const auto dot = name.rfind('.');
    const std::string base = dot == std::string::npos ? name : name.substr(0, dot);
    std::string output = base + ".mht";
    if (slash != std::string::npos) output = (slash == 0 ? std::string() : folder) + Filename[slash] + output;
    std::string subject;  // empty: the converter writes its default description
    mdlHTML2MHT::ConvertHTMLToMHT(Filename, output, subject);
  }
  QM_FRAME_CATCH("Utility", "Public Sub ConvertHTMLToMHT", Filename);
}

std::string Utility::GetRelativePath(const std::string& RootPath, const std::string& Path) const {
  QM_FRAME_TRY {
    if (RootPath.empty() || Path.empty()) return {};
    std::vector<std::string> from = SplitPath(RootPath), to = SplitPath(Path);
    // Both paths must start at the same root: "/", the same drive, or both relative.
    const bool fromAbsolute = IsSeparator(RootPath.front()), toAbsolute = IsSeparator(Path.front());
    if (fromAbsolute != toAbsolute) return {};
    const bool fromDrive = !from.empty() && detail::IsDrive(from.front()),
               toDrive = !to.empty() && detail::IsDrive(to.front());
    if (fromDrive != toDrive) return {};
    if (fromDrive && !EqualsIgnoringCase(from.front(), to.front())) return {};
    const std::size_t root = fromDrive ? 1 : 0;
    if (!Normalize(from, root) || !Normalize(to, root)) return {};
    std::size_t common = 0;
    while (common < from.size() && common < to.size() && from[common] == to[common]) ++common;
    if (common == 0 && !fromAbsolute && !fromDrive) return {};  // relative paths with nothing in common
    std::string result;
    for (std::size_t k = common; k < from.size(); ++k) result += result.empty() ? ".." : "/..";
    if (result.empty()) result = ".";
    for (std::size_t k = common; k < to.size(); ++k) result += "/" + to[k];
    if (result.size() >= kRelativeBuffer) return {};
    return result;
  }
  QM_FRAME_CATCH("Utility", "Public Function GetRelativePath", RootPath, Path);
}

std::string Utility::GetCompactPath(const std::string& PathToCompact, std::int32_t DeviceContext,
                                    std::int32_t WidthInPixels) const {
  QM_FRAME_TRY {
    try {
      platform::Desktop& desktop = platform::Current();
      auto fits = [&](const std::string& text) { return desktop.TextWidth(DeviceContext, text) <= WidthInPixels; };
      if (fits(PathToCompact)) return PathToCompact;
      const auto chars = Characters(PathToCompact);
      std::size_t slash = chars.size();
      for (std::size_t k = chars.size(); k-- > 0;) {
        if (chars[k].size() == 1 && IsSeparator(chars[k][0])) {
          slash = k;
          break;
        }
      }
      // Keep the file name whole and as much of the folder's beginning as fits.
      if (slash < chars.size()) {
        const std::string tail = "..." + Join(chars, slash, chars.size());
        for (std::size_t keep = slash; keep-- > 0;) {
          const std::string candidate = Join(chars, 0, keep + 1) + tail;
          if (fits(candidate)) return candidate;
        }
        if (fits(tail)) return tail;
      }
      // Not even the file name fits: shorten it from its end.
      const std::size_t nameStart = slash < chars.size() ? slash + 1 : 0;
      for (std::size_t keep = chars.size() - nameStart; keep-- > 0;) {
        const std::string candidate = Join(chars, nameStart, nameStart + keep) + "...";
        if (fits(candidate)) return candidate;
      }
      return "...";
    } catch (const Error&) {
      return PathToCompact;  // the platform could not measure: the input unchanged
    }
  }
  QM_FRAME_CATCH("Utility", "Public Function GetCompactPath", PathToCompact, DeviceContext, WidthInPixels);
}

std::string Utility::GetTempFilename(const std::optional<std::string>& Suffix) const {
  QM_FRAME_TRY {
    const std::string suffix = Suffix.value_or(".tmp");
    const std::string folder = TempFolder();
    for (std::uint64_t n = 1;; ++n) {
      std::string candidate = utility::TempCandidate(folder, n, suffix);
      struct stat info {};
      if (io::sys::Lstat(candidate.c_str(), &info) != 0) return candidate;
    }
  }
  QM_FRAME_CATCH("Utility", "Public Function GetTempFilename", Suffix);
}

void Utility::SetAlwaysOnTop(const Variant& Form, bool OnTop) const {
  QM_FRAME_TRY { platform::Current().SetTopMost(WindowHandle(Form), OnTop); }
  QM_FRAME_CATCH("Utility", "Public Sub SetAlwaysOnTop", Form, OnTop);
}

void Utility::SetFocusWindow(const Variant& Form) const {
  QM_FRAME_TRY { platform::Current().BringToTop(WindowHandle(Form)); }
  QM_FRAME_CATCH("Utility", "Public Sub SetFocusWindow", Form);
}

}  // namespace qm

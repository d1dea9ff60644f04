#include "html/ReferenceScan.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <limits>

#include "io/System.h"
#include "quillmark/errors/ErrorNumbers.h"
#include "quillmark/frame/Frame.h"

namespace qm::mdlHTML2MHT {
namespace {

constexpr const char* kKeywords[] = {"src=", "background=", "href="};

char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// A file descriptor closed on every path out.
class FileHandle {
 public:
  explicit FileHandle(int fd) : fd_(fd) {}
  ~FileHandle() {
    if (fd_ >= 0) io::sys::Close(fd_);
  }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  int Get() const { return fd_; }

 private:
  int fd_;
};

}  // namespace

bool ReferenceList::Add(const std::string& name) {
  if (!seen_.insert(name).second) return false;
  items_.push_back(name);
  return true;
}

bool ExistsInCollection(const ReferenceList& list, const std::string& name) {
  QM_FRAME_TRY { return list.Contains(name); }
  QM_FRAME_CATCH("HTML2MHT", "Private Function ExistsInCollection", list, name);
}

AttributeValue FindValue(std::string_view line, std::size_t at, std::string_view keyword) {
  AttributeValue result;
  const std::size_t length = line.size();
  if (keyword.empty() || at >= length || length - at < keyword.size()) return result;
  std::size_t found = std::string_view::npos;
  for (std::size_t i = at; i + keyword.size() <= length; ++i) {
    std::size_t k = 0;
    while (k < keyword.size() && Upper(line[i + k]) == Upper(keyword[k])) ++k;
    if (k == keyword.size()) {
      found = i;
      break;
    }
  }
  if (found == std::string_view::npos) return result;

  result.Found = true;
  result.KeywordEnd = found + keyword.size();
  std::size_t i = result.KeywordEnd;
  bool quoted = false;
  while (i < length && line[i] == ' ') ++i;  // blanks before the value
  if (i < length && (line[i] == '"' || line[i] == '\'')) {
    quoted = true;
    ++i;
  }
  result.Begin = i;
  // The first character of an unquoted value always belongs to it.
  if (!quoted && i < length) ++i;
  for (; i < length; ++i) {
    const char c = line[i];
    if (c == '>' || c == '"' || c == '\'' || (c == ' ' && !quoted)) {
      result.Terminated = true;
      break;
    }
  }
  result.Length = i - result.Begin;
  return result;
}

std::int32_t NextPosition(const AttributeValue& value) {
  const std::size_t next = value.KeywordEnd + 1 + value.Length;  // 1-based
  if (next > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) Raise(ERR_Overflow);
  return static_cast<std::int32_t>(next);
}

std::int32_t FindRes(std::int32_t Start, std::string& Line, const std::string& Keyword, std::string& Value) {
  QM_FRAME_TRY {
    Value.clear();
    const std::size_t at = Start < 1 ? 0 : static_cast<std::size_t>(Start) - 1;
    const AttributeValue found = FindValue(Line, at, Keyword);
    // The line is upper-cased from the start to where the scan stopped.
    const std::size_t stop = !found.Found ? Line.size() : found.Begin + found.Length + (found.Terminated ? 1 : 0);
    for (std::size_t i = at; i < stop && i < Line.size(); ++i) Line[i] = Upper(Line[i]);
    if (!found.Found || found.Length == 0) return found.Found ? NextPosition(found) : Start;
    Value = Line.substr(found.Begin, found.Length);
    return NextPosition(found);
  }
  QM_FRAME_CATCH("HTML2MHT", "Private Function FindRes", Start, Line, Keyword, Value);
}

void ScanLine(std::string_view line, ReferenceList& found) {
  for (const char* keyword : kKeywords) {
    std::int64_t position = 1;
    while (position <= static_cast<std::int64_t>(line.size())) {
      const AttributeValue value = FindValue(line, static_cast<std::size_t>(position) - 1, keyword);
      if (!value.Found || value.Length == 0) break;
      found.Add(std::string(line.substr(value.Begin, value.Length)));
      position = NextPosition(value) + std::int64_t{1};
    }
  }
}

ReferenceList GetReferences(const std::string& Filename) {
  QM_FRAME_TRY {
    // Non-blocking, so that a pipe named as a page cannot stall the scan: only
    // regular files are read.
    // Its errors name the page.
    const auto fail = [&](std::int32_t number, int error) {
      Raise(number, ErrcOfErrno(error), DescribeError(number, Filename));
    };
    FileHandle file(io::sys::Open(Filename.c_str(), O_RDONLY | O_NONBLOCK));
    if (file.Get() < 0) fail(errno == ENOENT || errno == ENOTDIR ? ERR_FileNotFound : ERR_PermissionDenied, errno);
    struct stat status {};
    if (io::sys::Fstat(file.Get(), &status) != 0) fail(ERR_PathFileAccess, errno);
    if (!S_ISREG(status.st_mode)) RaiseWithDetail(ERR_PathFileAccess, Filename);

    ReferenceList found;
    std::string line;
    bool afterCR = false;  // a LF right after a CR ends nothing
    char buffer[65536];
    for (;;) {
      const ssize_t got = io::sys::Read(file.Get(), buffer, sizeof buffer);
      if (got < 0) fail(ERR_DeviceIO, errno);
      if (got == 0) break;
      const char* p = buffer;
      const char* const end = buffer + got;
      while (p < end) {
        if (afterCR && *p == '\n') ++p;
        afterCR = false;
        const char* stop = p;
        while (stop < end && *stop != '\r' && *stop != '\n') ++stop;
        line.append(p, stop);
        if (stop == end) break;
        afterCR = *stop == '\r';
        ScanLine(line, found);
        line.clear();
        p = stop + 1;
      }
    }
    if (!line.empty()) ScanLine(line, found);
    return found;
  }
  QM_FRAME_CATCH("HTML2MHT", "Private Function GetReferences", Filename);
}

}  // namespace qm::mdlHTML2MHT

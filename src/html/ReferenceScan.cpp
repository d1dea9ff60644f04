#include "html/ReferenceScan.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <limits>

#include "quillmark/frame/ErrorNumbers.h"
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
    if (fd_ >= 0) ::close(fd_);
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

std::int32_t FindRes(std::int32_t Start, std::string& Line, const std::string& Keyword, std::string& Value) {
  QM_FRAME_TRY {
    Value.clear();
    std::string keyword(Keyword);
    for (char& c : keyword) c = Upper(c);
    const std::size_t length = Line.size();
    std::size_t at = Start < 1 ? 0 : static_cast<std::size_t>(Start) - 1;
    if (keyword.empty() || at >= length) return Start;

    // Upper-case while searching, so that a line is folded once however many
    // values are taken from it.
    std::size_t found = std::string::npos;
    for (std::size_t i = at; i < length; ++i) {
      Line[i] = Upper(Line[i]);
      if (Line[i] != keyword[0] || length - i < keyword.size()) continue;
      std::size_t k = 1;
      while (k < keyword.size() && Upper(Line[i + k]) == keyword[k]) ++k;
      if (k == keyword.size()) {
        found = i;
        break;
      }
    }
    if (found == std::string::npos) return Start;

    std::size_t i = found;
    const std::size_t afterKeyword = found + keyword.size();
    for (; i < afterKeyword; ++i) Line[i] = Upper(Line[i]);

    bool started = false, quoted = false;
    for (; i < length; ++i) {
      const char c = Line[i] = Upper(Line[i]);
      if (!started) {
        if (c == ' ') continue;
        started = true;
        if (c == '"' || c == '\'') {
          quoted = true;
          continue;
        }
        Value += c;
        continue;
      }
      if (c == '>' || c == '"' || c == '\'') break;
      if (c == ' ' && !quoted) break;
      Value += c;
    }
    const std::size_t end = afterKeyword + 1 + Value.size();  // 1-based
    if (end > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) Raise(ERR_Overflow);
    return static_cast<std::int32_t>(end);
  }
  QM_FRAME_CATCH("HTML2MHT", "Private Function FindRes", Start, Line, Keyword, Value);
}

void ScanLine(std::string& line, ReferenceList& found) {
  std::string value;
  for (const char* keyword : kKeywords) {
    std::int64_t position = 1;
    while (position <= static_cast<std::int64_t>(line.size())) {
      position = FindRes(static_cast<std::int32_t>(position), line, keyword, value);
      if (value.empty()) break;
      found.Add(value);
      ++position;
    }
  }
}

ReferenceList GetReferences(const std::string& Filename) {
  QM_FRAME_TRY {
    FileHandle file(::open(Filename.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.Get() < 0) Raise(errno == ENOENT || errno == ENOTDIR ? ERR_FileNotFound : ERR_PermissionDenied);

    ReferenceList found;
    std::string line;
    bool afterCR = false;  // a LF right after a CR ends nothing
    char buffer[65536];
    for (;;) {
      const ssize_t got = ::read(file.Get(), buffer, sizeof buffer);
      if (got < 0) {
        if (errno == EINTR) continue;
        Raise(ERR_DeviceIO);
      }
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

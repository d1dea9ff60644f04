// The MHT converter. One `Conversion` object holds what a conversion needs
// (the output file, the boundary, the found pages and files, the path
// resolver), so conversions share no state and the process's current folder
// is never changed: relative references resolve against the page's folder.

#include "quillmark/html/HTML2MHT.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <vector>

#include "html/MhtOutput.h"
#include "html/QuotedPrintable.h"
#include "html/ReferenceScan.h"
#include "html/WindowsPath.h"
#include "quillmark/frame/ErrorNumbers.h"
#include "quillmark/frame/Frame.h"
#include "quillmark/frame/LibMain.h"
#include "quillmark/html/MIMECoding.h"
#include "quillmark/platform/Desktop.h"
#include "quillmark/runtime/Conversions.h"

namespace qm::mdlHTML2MHT {
namespace {

namespace fs = std::filesystem;
using html::FileNamePart;
using html::NativePath;

constexpr std::string_view kLibraryFile = "Lib";
constexpr std::size_t kTextWindow = 2048;  // characters of a page read at a time
constexpr std::size_t kBlock = 57;         // bytes per base64 line of 76 characters

// A file descriptor closed on every path out.
class InputFile {
 public:
  explicit InputFile(const fs::path& path) : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {}
  ~InputFile() {
    if (fd_ >= 0) ::close(fd_);
  }
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;
  bool IsOpen() const { return fd_ >= 0; }
  /// Fills `buffer` as far as the file allows; the count read (short only at the end).
  std::size_t ReadFull(char* buffer, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
      const ssize_t got = ::read(fd_, buffer + done, size - done);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) Raise(ERR_DeviceIO);
      if (got == 0) break;
      done += static_cast<std::size_t>(got);
    }
    return done;
  }

 private:
  int fd_;
};

// Shows the hourglass for its lifetime and then puts the previous pointer back.
class HourglassPointer {
 public:
  HourglassPointer() : previous_(platform::Current().GetMousePointer()) {
    platform::Current().SetMousePointer(platform::MousePointer::Hourglass);
  }
  ~HourglassPointer() {
    try {
      platform::Current().SetMousePointer(previous_);
    } catch (...) {  // restoring the pointer never turns into a failure
    }
  }
  HourglassPointer(const HourglassPointer&) = delete;
  HourglassPointer& operator=(const HourglassPointer&) = delete;

 private:
  platform::MousePointer previous_;
};

std::int32_t ceil(double value) {
  QM_FRAME_TRY { return static_cast<std::int32_t>(std::ceil(value)); }
  QM_FRAME_CATCH("HTML2MHT", "Private Function ceil", value);
}

std::string GetFileExtension(const std::string& Filename) {
  QM_FRAME_TRY {
    const auto dot = Filename.rfind('.');
    return UCase(dot == std::string::npos ? Filename : Filename.substr(dot + 1));
  }
  QM_FRAME_CATCH("HTML2MHT", "Private Function GetFileExtension", Filename);
}

bool IsPageExtension(const std::string& extension) {
  return extension == "HTM" || extension == "HTML" || extension == "ASP" || extension == "PHP";
}

class Conversion {
 public:
  explicit Conversion(const std::string& mhtFilename)
      : boundary_(GetBoundary(Now())), output_(NativePath(mhtFilename)) {}

  /// Relative references resolve against `folder` from now on.
  void UseFolder(fs::path folder) { resolver_ = html::WindowsPathResolver(std::move(folder)); }

  void Run(const std::string& pageName, const std::string& subject) {
    GenerateHeader(subject);
    BuildReferences(pageName);
    OutputTextFile(pageName);
    for (const auto& page : pages_.Items())
      if (FileExists(page)) OutputTextFile(page);
    for (const auto& file : files_.Items())
      if (FileExists(file)) OutputBinaryFile(file);
    GenerateBoundary(true);
    output_.Close();
  }

 private:
  static std::string GetBoundary(Date conversionTime) {
    QM_FRAME_TRY { return "----=_QMLib_" + FormatGeneral(conversionTime.Serial); }
    QM_FRAME_CATCH("HTML2MHT", "Private Function GetBoundary");
  }

  void OutputLine(std::string_view text) {
    QM_FRAME_TRY { output_.Line(text); }
    QM_FRAME_CATCH("HTML2MHT", "Private Sub OutputLine", text);
  }

  bool FileExists(const std::string& Filename) {
    QM_FRAME_TRY { return resolver_.FileExists(Filename); }
    QM_FRAME_CATCH("HTML2MHT", "Private Function FileExists", Filename);
  }

  fs::path Locate(const std::string& name) {
    auto path = resolver_.Resolve(name);
    return path ? *path : resolver_.Unresolved(name);
  }

  void GenerateHeader(const std::string& Subject) {
    QM_FRAME_TRY {
      OutputLine("From: <Saved by " + GetAppName() + ">");
      OutputLine("Subject: " + Subject);
      OutputLine("Date: 1 January 2000 12:00:00");
      OutputLine("MIME-Version: 1.0");
      OutputLine("Content-Type: multipart/related;");
      OutputLine("\tboundary=\"" + boundary_ + "\";");
      OutputLine("\ttype=\"text/html\"");
      OutputLine("");
      OutputLine("This is a multi-part message in MIME format.");
    }
    QM_FRAME_CATCH("HTML2MHT", "Private Sub GenerateHeader", Subject);
  }

  void GenerateBoundary(bool Closing) {
    QM_FRAME_TRY {
      OutputLine("");
      OutputLine("--" + boundary_ + (Closing ? "--" : ""));
    }
    QM_FRAME_CATCH("HTML2MHT", "Private Sub GenerateBoundary", Closing);
  }

  void GenerateFileHeader(const std::string& Filename, bool TextPart) {
    QM_FRAME_TRY {
      GenerateBoundary(false);
      if (TextPart) {
        OutputLine("Content-Type: text/html;");
        OutputLine("\tcharset=\"iso-8859-1\"");
        OutputLine("Content-Transfer-Encoding: quoted-printable");
      } else {
        const std::string extension = GetFileExtension(Filename);
        const char* type = "Content-Type: application/octet-stream;";
        const char* encoding = "Content-Transfer-Encoding: base64";
        if (extension == "GIF") type = "Content-Type: image/gif;";
        else if (extension == "PNG") type = "Content-Type: image/png;";
        else if (extension == "JPG" || extension == "JPEG") type = "Content-Type: image/jpeg;";
        else if (extension == "BMP") type = "Content-Type: image/bmp;";
        else if (extension == "MP3") type = "Content-type: audio/mp3;";
        else if (extension == "ZIP") type = "Content-type: application/zip;";
        else encoding = "content-Transfer-Encoding: base64";
        OutputLine(type);
        OutputLine(encoding);
      }
      std::string location = Filename;
      std::replace(location.begin(), location.end(), '\\', '/');
      std::string escaped(kLocationBase);
      for (const char c : location) escaped += c == ' ' ? std::string_view("%20") : std::string_view(&c, 1);
      OutputLine("Content-Location: " + escaped);
      OutputLine("");
    }
    QM_FRAME_CATCH("HTML2MHT", "Private Sub GenerateFileHeader", Filename, TextPart);
  }

  void BuildReferences(const std::string& Filename) {
    QM_FRAME_TRY {
      const ReferenceList found = GetReferences(Locate(Filename).string());
      for (const auto& reference : found.Items()) {
        if (IsPageExtension(GetFileExtension(reference))) {
          if (ExistsInCollection(pages_, reference)) continue;
          pages_.Add(reference);
          const std::string linked = FileNamePart(reference);
          // A linked page that cannot be read is skipped like a missing one.
          if (FileExists(linked) && ::access(Locate(linked).c_str(), R_OK) == 0) BuildReferences(linked);
        } else if (!ExistsInCollection(files_, reference)) {
          files_.Add(reference);
        }
      }
    }
    QM_FRAME_CATCH("HTML2MHT", "Private Sub BuildReferences", Filename);
  }

  void OutputTextFile(const std::string& Filename) {
    QM_FRAME_TRY {
      if (!FileExists(Filename)) return;
      // Any failure inside a text part ends the part quietly.
      try {
        InputFile file(Locate(Filename));
        if (!file.IsOpen()) return;
        GenerateFileHeader(Filename, true);
        // A line ends at CR (a LF right after it is consumed too); a line
        // longer than the window is written one window at a time.
        std::vector<char> buffer(kTextWindow * 32);
        std::size_t begin = 0, end = 0;
        bool atEnd = false;
        for (;;) {
          if (end - begin <= kTextWindow && !atEnd) {
            std::memmove(buffer.data(), buffer.data() + begin, end - begin);
            end -= begin;
            begin = 0;
            const std::size_t got = file.ReadFull(buffer.data() + end, buffer.size() - end);
            atEnd = got < buffer.size() - end;
            end += got;
          }
          if (begin == end) break;
          const std::size_t window = std::min(kTextWindow, end - begin);
          const char* start = buffer.data() + begin;
          const auto* cr = static_cast<const char*>(std::memchr(start, '\r', window));
          std::string_view line(start, cr ? static_cast<std::size_t>(cr - start) : window);
          begin += line.size();
          if (cr) {
            ++begin;
            if (begin < end && buffer[begin] == '\n') ++begin;
          }
          OutputLine(ReplaceCtrlChars(line));
        }
      } catch (...) {
      }
    }
    QM_FRAME_CATCH("HTML2MHT", "Private Sub OutputTextFile", Filename);
  }

  void OutputBinaryFile(const std::string& Filename) {
    QM_FRAME_TRY {
      if (!FileExists(Filename)) return;
      InputFile file(Locate(Filename));
      if (!file.IsOpen()) return;
      GenerateFileHeader(Filename, false);
      constexpr std::size_t kLine = 78;  // 76 characters and CR LF
      std::vector<char> buffer(kBlock * 16384);
      for (;;) {
        const std::size_t got = file.ReadFull(buffer.data(), buffer.size());
        const auto* in = reinterpret_cast<const std::uint8_t*>(buffer.data());
        const std::size_t lines = (got + kBlock - 1) / kBlock;
        char* out = output_.Reserve(lines * kLine);
        char* o = out;
        for (std::size_t done = 0; done < got; done += kBlock) {
          const std::size_t r = std::min(kBlock, got - done);
          std::size_t written = mdlMIMECoding::EncodeTo({in + done, r}, o);
          const std::size_t padded = 4 * static_cast<std::size_t>(ceil(static_cast<double>(r) / 3));
          while (written < padded) o[written++] = '=';
          o[written] = '\r';
          o[written + 1] = '\n';
          o += written + 2;
        }
        output_.Commit(static_cast<std::size_t>(o - out));
        if (got < buffer.size()) break;
      }
    }
    QM_FRAME_CATCH("HTML2MHT", "Private Sub OutputBinaryFile", Filename);
  }

  std::string boundary_;
  MhtOutput output_;
  html::WindowsPathResolver resolver_;
  ReferenceList pages_;
  ReferenceList files_;
};

}  // namespace

std::string GetAppName() {
  QM_FRAME_TRY { return std::string(kLibraryFile) + " V" + std::string(kLibraryVersion); }
  QM_FRAME_CATCH("HTML2MHT", "Private Function GetAppName");
}

void ConvertHTMLToMHT(const std::string& HTMLFilename, const std::string& MHTFilename, std::string& Subject) {
  QM_FRAME_TRY {
    HourglassPointer hourglass;
    Conversion conversion(MHTFilename);
    const std::string folder = html::FolderPart(HTMLFilename);
    if (!folder.empty()) {
      // The page's folder plays the part of the current folder.
      auto resolved = html::WindowsPathResolver().Resolve(folder);
      std::error_code ec;
      if (!resolved || !fs::is_directory(*resolved, ec)) Raise(ERR_PathNotFound);
      conversion.UseFolder(fs::absolute(*resolved));
    }
    const std::string pageName = html::FileNamePart(HTMLFilename);
    if (Subject.empty()) Subject = "Report generated from " + GetAppName();
    conversion.Run(pageName, Subject);
  }
  QM_FRAME_CATCH("HTML2MHT", "Public Sub ConvertHTMLToMHT", HTMLFilename, MHTFilename, Subject);
}

}  // namespace qm::mdlHTML2MHT

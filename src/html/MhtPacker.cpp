// The MHT packer. One MhtPacker holds what a conversion needs (the output
// file, the boundary, the found pages and files, the path resolver), so
// conversions share no state and the process's current folder is never
// changed: relative references resolve against the page's folder. Its steps
// run in the call frames of the converter's procedures, which name where a
// failure happened.

#include "html/MhtPacker.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <ctime>
#include <optional>
#include <vector>

#include "html/MhtOutput.h"
#include "html/PageCharset.h"
#include "html/QuotedPrintable.h"
#include "html/ReferenceScan.h"
#include "io/System.h"
#include "quillmark/errors/ErrorNumbers.h"
#include "quillmark/frame/Frame.h"
#include "quillmark/frame/LibMain.h"
#include "quillmark/html/HTML2MHT.h"
#include "quillmark/html/MIMECoding.h"
#include "quillmark/values/Conversions.h"
#include "quillmark/values/Text.h"
#include "runtime/WindowsPath.h"

namespace qm::mdlHTML2MHT {
namespace {

namespace fs = std::filesystem;
using detail::FileNamePart;

constexpr std::string_view kLibraryFile = "Lib";
constexpr std::size_t kTextWindow = 2048;  // characters of a page read at a time
constexpr std::size_t kBlock = 57;         // bytes per base64 line of 76 characters

// A page or file being packed, closed on every path out. Only a regular
// file opens: a device, a pipe or a folder behind a reference is skipped like
// a missing file (and a pipe never blocks the conversion).
class InputFile {
 public:
  explicit InputFile(const fs::path& path) : fd_(io::sys::Open(path.c_str(), O_RDONLY | O_NONBLOCK)) {
    struct stat status {};
    if (fd_ >= 0 && (io::sys::Fstat(fd_, &status) != 0 || !S_ISREG(status.st_mode))) {
      io::sys::Close(fd_);
      fd_ = -1;
    }
  }
  ~InputFile() {
    if (fd_ >= 0) io::sys::Close(fd_);
  }
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;
  bool IsOpen() const { return fd_ >= 0; }
  /// Fills `buffer` as far as the file allows: the count read (short only at
  /// the end), or nullopt when reading failed.
  std::optional<std::size_t> ReadFull(char* buffer, std::size_t size) {
    const ssize_t got = io::sys::ReadFull(fd_, buffer, size);
    if (got < 0) return std::nullopt;
    return static_cast<std::size_t>(got);
  }
  bool Rewind() { return ::lseek(fd_, 0, SEEK_SET) == 0; }

 private:
  int fd_;
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

// The errors of a page that exists but cannot be read (to its end).
bool IsReadFailure(std::int32_t number) {
  return number == ERR_FileNotFound || number == ERR_DeviceIO || number == ERR_PermissionDenied ||
         number == ERR_PathFileAccess;
}

bool IsPageExtension(const std::string& extension) {
  return extension == "HTM" || extension == "HTML" || extension == "ASP" || extension == "PHP";
}

}  // namespace

// What one conversion holds; MhtPacker's engine.
class MhtConversion {
 public:
  explicit MhtConversion(const std::string& archive) : boundary_(GetBoundary(Now())), output_(archive) {}

  /// Relative references resolve against `folder` from now on.
  void UseFolder(fs::path folder) { resolver_ = detail::WindowsPathResolver(std::move(folder)); }

  void Run(const MhtJob& job, const Progress& progress) {
    const std::string& pageName = job.Page;
    if (job.Confine) {
      // The folder's real path; should that fail, its path as given still
      // confines (a reference must then lie under it as written).
      const fs::path folder = job.Folder.empty() ? fs::current_path() : job.Folder;
      std::error_code ec;
      root_ = fs::canonical(folder, ec);
      if (ec) root_ = fs::absolute(folder).lexically_normal();
      leftOut_ = job.LeftOut;
    }
    GenerateHeader(job.Subject, job.Date);
    try {
      BuildReferences(pageName);
    } catch (const Error& e) {
      // The published converter fails on a main page that does not exist
      // after the message header has been written: that header is the archive.
      if (job.HeaderForMissingPage && e.Number() == ERR_FileNotFound && !FileExists(pageName)) output_.Publish();
      throw;
    }
    // Progress in parts: the page, each linked page, each file.
    const std::uint64_t parts = 1 + pages_.Items().size() + files_.Items().size();
    std::uint64_t done = 0;
    const auto partDone = [&] {
      if (progress) progress(++done, parts);
    };
    OutputTextFile(pageName, true);
    partDone();
    for (const auto& page : pages_.Items()) {
      if (FileExists(page)) OutputTextFile(page);
      partDone();
    }
    for (const auto& file : files_.Items()) {
      if (FileExists(file)) OutputBinaryFile(file);
      partDone();
    }
    GenerateBoundary(true);
    output_.Publish();
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

  void GenerateHeader(const std::string& Subject, const std::optional<std::chrono::system_clock::time_point>& date) {
    QM_FRAME_TRY {
      OutputLine("From: <Saved by " + AppName() + ">");
      if (date) {
        const std::vector<std::string> lines = EncodedSubject(Subject);
        for (std::size_t i = 0; i < lines.size(); ++i) OutputLine((i == 0 ? "Subject: " : "") + lines[i]);
        OutputLine("Date: " + MailDate(*date));
      } else {
        OutputLine("Subject: " + Subject);
        OutputLine("Date: 1 January 2000 12:00:00");
      }
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

  // `Charset` is the label of a text part; a binary part has none.
  void GenerateFileHeader(const std::string& Filename, bool TextPart, const std::string& Charset = {}) {
    QM_FRAME_TRY {
      GenerateBoundary(false);
      if (TextPart) {
        OutputLine("Content-Type: text/html;");
        OutputLine("\tcharset=\"" + Charset + "\"");
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
    QM_FRAME_CATCH("HTML2MHT", "Private Sub GenerateFileHeader", Filename, TextPart, Charset);
  }

  // With a confined job, whether `reference` leads out of the page's folder
  // (told once to the job); such a reference is not packed.
  bool LeadsOut(const std::string& reference) {
    if (root_.empty()) return false;
    const auto resolved = resolver_.Resolve(reference);
    if (!resolved) return false;  // missing: left out in any case
    std::error_code ec;
    const fs::path real = fs::canonical(*resolved, ec);
    const fs::path inside = ec ? fs::path() : real.lexically_relative(root_);
    if (!inside.empty() && *inside.begin() != "..") return false;
    if (leftOut_ && refused_.Add(reference)) leftOut_->push_back(reference);
    return true;
  }

  void BuildReferences(const std::string& Filename) {
    QM_FRAME_TRY {
      const ReferenceList found = GetReferences(Locate(Filename).string());
      for (const auto& reference : found.Items()) {
        if (LeadsOut(reference)) continue;
        if (IsPageExtension(GetFileExtension(reference))) {
          if (ExistsInCollection(pages_, reference)) continue;
          pages_.Add(reference);
          const std::string linked = FileNamePart(reference);
          if (FileExists(linked)) {
            try {
              BuildReferences(linked);
            } catch (const Error& e) {
              // A linked page that cannot be read is skipped like a missing one.
              if (!IsReadFailure(e.Number())) throw;
            }
          }
        } else if (!ExistsInCollection(files_, reference)) {
          files_.Add(reference);
        }
      }
    }
    QM_FRAME_CATCH("HTML2MHT", "Private Sub BuildReferences", Filename);
  }

  // The charset label of an open page, read to its end; nullopt when reading failed.
  static std::optional<std::string> ReadCharset(InputFile& file, std::vector<char>& buffer) {
    PageCharset charset;
    for (;;) {
      const auto got = file.ReadFull(buffer.data(), buffer.size());
      if (!got) return std::nullopt;
      charset.Feed({buffer.data(), *got});
      if (*got < buffer.size()) break;
    }
    if (!file.Rewind()) return std::nullopt;
    return charset.Label();
  }

  // A linked page that cannot be read is skipped; the main page (`required`),
  // whose references were read already, fails the conversion with 57.
  void OutputTextFile(const std::string& Filename, bool required = false) {
    QM_FRAME_TRY {
      const auto unreadable = [&] {
        if (required) Raise(ERR_DeviceIO, ErrcOfErrno(errno), DescribeError(ERR_DeviceIO, Filename));
      };
      if (!FileExists(Filename)) return unreadable();
      InputFile file(Locate(Filename));
      if (!file.IsOpen()) return unreadable();
      std::vector<char> buffer(kTextWindow * 32);
      const auto charset = ReadCharset(file, buffer);
      if (!charset) return unreadable();
      const std::uint64_t partStart = output_.Mark();
      GenerateFileHeader(Filename, true, *charset);
      // A line ends at CR LF, at a lone CR and at a lone LF (a LF after a CR
      // is taken even from the next read); a line longer than the window is
      // written one window at a time.
      std::size_t begin = 0, end = 0;
      bool atEnd = false;
      for (;;) {
        if (end - begin <= kTextWindow && !atEnd) {
          std::memmove(buffer.data(), buffer.data() + begin, end - begin);
          end -= begin;
          begin = 0;
          const auto got = file.ReadFull(buffer.data() + end, buffer.size() - end);
          if (!got) {
            output_.Rollback(partStart);  // a page that cannot be read to its end gets no part
            return unreadable();
          }
          atEnd = *got < buffer.size() - end;
          end += *got;
        }
        if (begin == end) break;
        const std::size_t window = std::min(kTextWindow, end - begin);
        const char* start = buffer.data() + begin;
        std::size_t length = 0;
        while (length < window && start[length] != '\r' && start[length] != '\n') ++length;
        const std::string_view line(start, length);
        begin += length;
        if (length < window) {
          ++begin;
          if (start[length] == '\r' && begin < end && buffer[begin] == '\n') ++begin;
        }
        char* out = output_.Reserve(EncodedLineBound(line.size()) + 2);
        const std::size_t written = EncodeLine(line, out);
        out[written] = '\r';
        out[written + 1] = '\n';
        output_.Commit(written + 2);
      }
    }
    QM_FRAME_CATCH("HTML2MHT", "Private Sub OutputTextFile", Filename);
  }

  void OutputBinaryFile(const std::string& Filename) {
    QM_FRAME_TRY {
      if (!FileExists(Filename)) return;
      InputFile file(Locate(Filename));
      if (!file.IsOpen()) return;
      const std::uint64_t partStart = output_.Mark();
      GenerateFileHeader(Filename, false);
      constexpr std::size_t kLine = 78;  // 76 characters and CR LF
      for (;;) {
        // Read straight behind the room the encoded lines need, then encode
        // forwards: the text of a block never overtakes its unread bytes.
        constexpr std::size_t kRead = kBlock * 16384;
        constexpr std::size_t kLines = kRead / kBlock;
        char* out = output_.Reserve(kLines * kLine);
        char* in = out + kLines * kLine - kRead;
        const auto got = file.ReadFull(in, kRead);
        if (!got) {
          output_.Rollback(partStart);  // a file that cannot be read to its end gets no part
          return;
        }
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(in);
        char* o = out;
        for (std::size_t done = 0; done < *got; done += kBlock) {
          const std::size_t r = std::min(kBlock, *got - done);
          std::size_t written = mdlMIMECoding::EncodeTo({bytes + done, r}, o);
          const std::size_t padded = 4 * static_cast<std::size_t>(ceil(static_cast<double>(r) / 3));
          while (written < padded) o[written++] = '=';
          o[written] = '\r';
          o[written + 1] = '\n';
          o += written + 2;
        }
        output_.Commit(static_cast<std::size_t>(o - out));
        if (*got < kRead) break;
      }
    }
    QM_FRAME_CATCH("HTML2MHT", "Private Sub OutputBinaryFile", Filename);
  }

  std::string boundary_;
  MhtOutput output_;
  detail::WindowsPathResolver resolver_;
  ReferenceList pages_;
  ReferenceList files_;
  fs::path root_;  // a confined job's folder, its real path; empty otherwise
  std::vector<std::string>* leftOut_ = nullptr;
  ReferenceList refused_;
};

std::string AppName() { return std::string(kLibraryFile) + " V" + std::string(kLibraryVersion); }

MhtPacker::MhtPacker(const std::string& archive) : conversion_(std::make_unique<MhtConversion>(archive)) {}

MhtPacker::~MhtPacker() = default;

void MhtPacker::Run(const MhtJob& job, const Progress& progress) {
  if (!job.Folder.empty()) conversion_->UseFolder(job.Folder);
  conversion_->Run(job, progress);
}

std::string MailDate(std::chrono::system_clock::time_point time) {
  static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[64];
  std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d +0000", kDays[utc.tm_wday % 7], utc.tm_mday,
                kMonths[utc.tm_mon % 12], utc.tm_year + 1900, utc.tm_hour, utc.tm_min, utc.tm_sec);
  return text;
}

std::vector<std::string> EncodedSubject(std::string_view text) {
  const bool plain = std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c <= 0x7E; }) &&
                     text.find("=?") == std::string_view::npos;
  if (plain) return {std::string(text)};
  // 45 bytes make 60 base64 characters: with "=?UTF-8?B?" and "?=" a word
  // of 72. A word ends before a byte that continues a UTF-8 sequence, so no
  // character is split between two words.
  constexpr std::size_t kWordBytes = 45;
  std::vector<std::string> words;
  while (!text.empty()) {
    std::size_t size = DecodeUtf8(text, 0).length;  // at least one character a word
    for (std::size_t next; size < text.size() && (next = size + DecodeUtf8(text, size).length) <= kWordBytes;)
      size = next;
    std::string word = words.empty() ? "=?UTF-8?B?" : " =?UTF-8?B?";
    const std::size_t at = word.size();
    word.resize(at + 4 * ((size + 2) / 3));
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    std::size_t written = mdlMIMECoding::EncodeTo({bytes, size}, word.data() + at);
    while (at + written < word.size()) word[at + written++] = '=';
    words.push_back(word + "?=");
    text.remove_prefix(size);
  }
  return words;
}

}  // namespace qm::mdlHTML2MHT

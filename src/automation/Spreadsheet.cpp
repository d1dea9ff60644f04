#include "automation/Spreadsheet.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <new>
#include <sstream>
#include <vector>

#include "frame/FileErrors.h"
#include "io/System.h"
#include "quillmark/errors/Error.h"
#include "quillmark/errors/ErrorNumbers.h"
#include "quillmark/utility/Utility.h"
#include "quillmark/values/Conversions.h"
#include "quillmark/values/Text.h"

namespace qm::spreadsheet {
namespace {

constexpr std::size_t kMaxCellText = 32767;  // characters a worksheet cell holds

// A worksheet name from a file name: its stem, without the characters
// worksheet names may not hold, at most 31 characters.
std::string SheetName(const std::string& path) {
  std::string name = std::filesystem::path(path).stem().string();
  for (char& c : name)
    if (std::string_view("[]:*?/\\").find(c) != std::string_view::npos) c = '_';
  name = CharLeft(name, LXW_SHEETNAME_MAX);
  return name.empty() ? "Sheet1" : name;
}

bool IsDelimiter(char c, const TextImport& s) {
  return (s.Tab && c == '\t') || (s.Semicolon && c == ';') || (s.Comma && c == ',') || (s.Space && c == ' ') ||
         (s.Other && s.OtherChar != '\0' && c == s.OtherChar);
}

// Looks for a program on the PATH.
bool OnPath(const std::string& program) {
  const char* path = std::getenv("PATH");
  std::istringstream folders(path ? path : "");
  for (std::string folder; std::getline(folders, folder, ':');) {
    if (!folder.empty() && io::sys::Access((folder + "/" + program).c_str(), X_OK) == 0) return true;
  }
  return false;
}

// Starts a program detached (it outlives the caller and is never waited for).
bool StartDetached(std::vector<std::string> argv) {
  std::vector<char*> args;
  for (auto& a : argv) args.push_back(a.data());
  args.push_back(nullptr);
  const pid_t child = ::fork();
  if (child < 0) return false;
  if (child == 0) {
    ::setsid();
    if (::fork() == 0) {
      const int null = io::sys::Open("/dev/null", O_RDWR);
      if (null >= 0) {
        io::sys::Dup2(null, 0);
        io::sys::Dup2(null, 1);
        io::sys::Dup2(null, 2);
      }
      ::execvp(args[0], args.data());
    }
    ::_exit(0);
  }
  int status = 0;
  io::sys::WaitPid(child, &status, 0);
  return true;
}

// A workbook that libxlsxwriter could not write: the file error, naming the
// file, with the writer's words.
[[noreturn]] void RaiseWriteFailure(const std::string& file, lxw_error error) {
  const errc cause = error == LXW_ERROR_MEMORY_MALLOC_FAILED ? errc::out_of_memory
                     : error == LXW_ERROR_CREATING_XLSX_FILE || error == LXW_ERROR_CREATING_TMPFILE ? ErrcOfErrno(errno)
                                                                                                    : errc::io_error;
  Raise(ERR_PathFileAccess, cause,
        DescribeError(ERR_PathFileAccess, file + ": the workbook cannot be written: " + lxw_strerror(error)));
}

// The workbook's file could not be made beside the target or put in its
// place (`error`, an errno value): the file error, naming the file.
[[noreturn]] void RaiseFileFailure(const std::string& file, const std::filesystem::filesystem_error& failure) {
  Raise(ERR_PathFileAccess, ErrcOfErrno(failure.code().value()),
        DescribeError(ERR_PathFileAccess, frame::WriteFailureDetail(file, failure)));
}

// libxlsxwriter writes through stdio: each sheet's scratch file while it
// is filled, and the package (through its zip writer) while the workbook is
// closed. A child forked meanwhile that calls exit() flushes the C library's
// buffers of those files, copied from the parent, into the parent's files at
// their shared offsets. So around fork the scratch files of the sheets being
// filled are locked with their buffers flushed (the child's copies are then
// empty), and a fork waits until no workbook is being closed (the zip
// writer's file cannot be reached; the close is the short last step). One
// table per process, never destroyed.
struct StdioFiles {
  std::mutex Lock;
  std::condition_variable Changed;
  std::vector<std::FILE*> Filling;  // scratch files of sheets being filled
  int Closing = 0;                  // workbooks being closed now
};

StdioFiles& TheFiles() {
  alignas(StdioFiles) static unsigned char room[sizeof(StdioFiles)];
  static StdioFiles* const files = [] {
    StdioFiles* made = ::new (room) StdioFiles();
    ::pthread_atfork(
        [] {
          StdioFiles& f = TheFiles();
          std::unique_lock lock(f.Lock);
          f.Changed.wait(lock, [&] { return f.Closing == 0; });
          lock.release();  // held through the fork
          for (std::FILE* file : f.Filling) {
            ::flockfile(file);
            std::fflush(file);  // the file's lock is this thread's now: fflush takes it again
          }
        },
        [] {
          StdioFiles& f = TheFiles();
          for (std::FILE* file : f.Filling) ::funlockfile(file);
          f.Lock.unlock();
        },
        [] {
          // The files are the parent's: this process leaves them alone.
          StdioFiles& f = TheFiles();
          for (std::FILE* file : f.Filling) ::funlockfile(file);
          f.Filling.clear();
          f.Lock.unlock();
        });
    return made;
  }();
  return *files;
}

}  // namespace

std::string AsUtf8(std::string_view text) {
  std::string result;
  result.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const Utf8Char c = DecodeUtf8(text, i);
    // No byte of an invalid run starts a valid character: each is read as Latin-1.
    if (c.valid) result += text.substr(i, c.length);
    else result += FromLatin1(text.substr(i, c.length));
    i += c.length;
  }
  return result;
}

Sheet ImportText(const std::string& text, const TextImport& settings) {
  const char qualifier = settings.TextQualifier == 1 ? '"' : settings.TextQualifier == 2 ? '\'' : '\0';
  Sheet sheet;
  std::vector<std::string> row;
  std::string cell;
  std::int32_t line = 1;
  std::size_t i = 0;
  const std::size_t size = text.size();
  while (i < size) {
    // A cell that starts with the qualifier runs to the closing one, with
    // delimiters and line ends kept and a doubled qualifier standing for one;
    // without a closing one it runs to the end of the text.
    if (qualifier && text[i] == qualifier) {
      for (++i; i < size; ++i) {
        if (text[i] != qualifier) {
          cell += text[i];
        } else if (i + 1 < size && text[i + 1] == qualifier) {
          cell += qualifier;
          ++i;
        } else {
          ++i;
          break;
        }
      }
    }
    // What follows, up to a delimiter or a line end, belongs to the cell as
    // written ("ab"c reads as abc).
    while (i < size && text[i] != '\r' && text[i] != '\n' && !IsDelimiter(text[i], settings)) cell += text[i++];
    row.push_back(std::move(cell));
    cell.clear();
    if (i < size && IsDelimiter(text[i], settings)) {
      ++i;
      if (settings.ConsecutiveDelimiter)
        while (i < size && IsDelimiter(text[i], settings)) ++i;
      if (i < size) continue;
      row.emplace_back();  // a delimiter at the very end opens one more, empty cell
    }
    // The row ends with CR LF, LF, CR or the end of the text.
    if (i < size && text[i] == '\r') ++i;
    if (i < size && text[i] == '\n') ++i;
    if (line++ >= settings.StartRow) sheet.Rows.push_back(std::move(row));
    row.clear();
  }
  return sheet;
}

TextImport TabSeparatedImport() {
  TextImport settings;
  settings.Origin = 2;
  settings.StartRow = 1;
  settings.DataType = 1;
  settings.TextQualifier = 1;
  settings.ConsecutiveDelimiter = false;
  settings.Tab = true;
  settings.Semicolon = false;
  settings.Comma = false;
  settings.Space = false;
  settings.Other = false;
  return settings;
}

bool ReadsAsNumber(const std::string& text, double& value) {
  std::string_view s = text;
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  std::string_view digits = s;
  if (!digits.empty() && (digits.front() == '+' || digits.front() == '-')) digits.remove_prefix(1);
  // Digits with an optional decimal point, then an optional exponent.
  std::size_t i = 0, mantissa = 0;
  while (i < digits.size() && std::isdigit(static_cast<unsigned char>(digits[i]))) ++i, ++mantissa;
  if (i < digits.size() && digits[i] == '.') ++i;
  while (i < digits.size() && std::isdigit(static_cast<unsigned char>(digits[i]))) ++i, ++mantissa;
  if (mantissa == 0) return false;
  if (i < digits.size() && (digits[i] == 'e' || digits[i] == 'E')) {
    std::size_t j = i + 1;
    if (j < digits.size() && (digits[j] == '+' || digits[j] == '-')) ++j;
    const std::size_t exponentStart = j;
    while (j < digits.size() && std::isdigit(static_cast<unsigned char>(digits[j]))) ++j;
    if (j == exponentStart) return false;
    i = j;
  }
  if (i != digits.size()) return false;
  const auto result = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (result.ec != std::errc() || !std::isfinite(value)) return false;
  if (s.front() == '-') value = -value;
  return true;
}

BookWriter::BookWriter(std::string file) : file_(std::move(file)) {
  std::error_code ignored;
  const auto folder = std::filesystem::absolute(file_, ignored).parent_path();
  // A missing folder is the file error it is (the application was started);
  // one that cannot be looked at is a file error naming the workbook.
  struct stat folderInfo {};
  const bool found = io::sys::Stat(folder.c_str(), &folderInfo) == 0;
  if (!found && errno != ENOENT && errno != ENOTDIR)
    Raise(ERR_PathFileAccess, ErrcOfErrno(errno), DescribeError(ERR_PathFileAccess, file_));
  if (!found || !S_ISDIR(folderInfo.st_mode)) Raise(ERR_PathNotFound);
  tmpdir_ = Utility::TempFolder();
  lxw_workbook_options options{};
  options.constant_memory = LXW_TRUE;  // rows go out in order; strings stay in the sheet
  options.tmpdir = tmpdir_.data();
  // libxlsxwriter writes the named file itself: it gets the hidden file
  // beside the target, which is put in place once the workbook is complete.
  try {
    out_.emplace(file_, io::AtomicFile::Replace::Contents, io::AtomicFile::Temporary::Named);
  } catch (const std::filesystem::filesystem_error& e) {
    RaiseFileFailure(file_, e);
  }
  book_.reset(workbook_new_opt(out_->TemporaryPath().c_str(), &options));
  if (!book_)
    Raise(ERR_PathFileAccess, errc::io_error,
          DescribeError(ERR_PathFileAccess, file_ + ": the workbook cannot be created"));
}

BookWriter::~BookWriter() {
  if (book_) (void)CloseBook();
}

lxw_error BookWriter::CloseBook() {
  StdioFiles& files = TheFiles();
  {
    std::lock_guard lock(files.Lock);
    std::erase_if(files.Filling,
                  [&](std::FILE* file) { return std::find(scratch_.begin(), scratch_.end(), file) != scratch_.end(); });
    ++files.Closing;
  }
  const lxw_error error = workbook_close(book_.release());
  {
    std::lock_guard lock(files.Lock);
    --files.Closing;
  }
  files.Changed.notify_all();
  return error;
}

lxw_worksheet* BookWriter::AddSheet(const std::string& name) {
  lxw_worksheet* sheet = workbook_add_worksheet(book_.get(), name.c_str());
  if (!sheet) RaiseWriteFailure(file_, LXW_ERROR_MEMORY_MALLOC_FAILED);
  // libxlsxwriter opens the sheet's scratch file without close-on-exec; the
  // sheet holds it until the workbook is closed, so a program another thread
  // starts meanwhile would inherit it. The flag is set at once. (The files
  // it makes while closing the workbook live only for that call.)
  if (sheet->optimize_tmpfile) {
    ::fcntl(::fileno(sheet->optimize_tmpfile), F_SETFD, FD_CLOEXEC);
    StdioFiles& files = TheFiles();
    std::lock_guard lock(files.Lock);
    scratch_.reserve(scratch_.size() + 1);
    files.Filling.reserve(files.Filling.size() + 1);
    scratch_.push_back(sheet->optimize_tmpfile);
    files.Filling.push_back(sheet->optimize_tmpfile);
  }
  return sheet;
}

lxw_format* BookWriter::Format(const std::string& code, bool wrap) {
  if (code.empty() && !wrap) return nullptr;
  lxw_format*& format = formats_[{code, wrap}];
  if (!format) {
    format = workbook_add_format(book_.get());
    if (!format) RaiseWriteFailure(file_, LXW_ERROR_MEMORY_MALLOC_FAILED);
    if (!code.empty()) format_set_num_format(format, code.c_str());
    if (wrap) format_set_text_wrap(format);
  }
  return format;
}

void BookWriter::Check(lxw_error error) const {
  if (error != LXW_NO_ERROR) RaiseWriteFailure(file_, error);
}

void BookWriter::Close() {
  Check(CloseBook());
  try {
    out_->Commit();
  } catch (const std::filesystem::filesystem_error& e) {
    RaiseFileFailure(file_, e);
  }
}

void Workbook::SaveAs(const std::string& Filename, std::int32_t /*FileFormat*/, bool /*AddToMru*/) {
  // Every file is written as an Office Open XML workbook, whatever the format
  // asked for; the recently-used list has no counterpart here.
  if (sheet_.Rows.size() > LXW_ROW_MAX)
    Raise(ERR_General, errc::too_large, "The table has more rows than a worksheet holds (1048576)");
  for (const auto& row : sheet_.Rows) {
    if (row.size() > LXW_COL_MAX)
      Raise(ERR_General, errc::too_large, "The table has more columns than a worksheet holds (16384)");
    for (const auto& cell : row)
      if (CharLength(cell) > kMaxCellText)
        Raise(ERR_General, errc::too_large, "A cell holds more than 32767 characters");
  }
  BookWriter book(Filename);
  lxw_worksheet* sheet = book.AddSheet(SheetName(sheet_.Name));
  for (std::size_t r = 0; r < sheet_.Rows.size(); ++r) {
    const auto& row = sheet_.Rows[r];
    for (std::size_t c = 0; c < row.size(); ++c) {
      const std::string& text = row[c];
      if (text.empty()) continue;
      const auto rowIndex = static_cast<lxw_row_t>(r);
      const auto colIndex = static_cast<lxw_col_t>(c);
      double number = 0;
      if (ReadsAsNumber(text, number)) book.Check(worksheet_write_number(sheet, rowIndex, colIndex, number, nullptr));
      else if (EqualsIgnoringCase(text, "TRUE") || EqualsIgnoringCase(text, "FALSE"))
        book.Check(worksheet_write_boolean(sheet, rowIndex, colIndex, EqualsIgnoringCase(text, "TRUE"), nullptr));
      else book.Check(worksheet_write_string(sheet, rowIndex, colIndex, text.c_str(), nullptr));
    }
  }
  book.Close();
  if (visible_) OpenInSpreadsheetProgram(Filename);
}

void Workbooks::OpenText(const std::string& Filename, const TextImport& settings) {
  std::string bytes;
  if (io::sys::ReadWhole(Filename.c_str(), bytes) != 0) RaiseWithDetail(ERR_FileNotFound, Filename);
  Sheet sheet = ImportText(AsUtf8(bytes), settings);
  sheet.Name = Filename;
  open_.push_back(std::make_unique<Workbook>(std::move(sheet), visible_));
}

Workbook& Workbooks::Item(std::int32_t index) {
  if (index < 1 || index > Count()) Raise(ERR_SubscriptOutOfRange);
  return *open_[static_cast<std::size_t>(index - 1)];
}

std::unique_ptr<Application> Application::Create() { return std::make_unique<Application>(); }

bool OpenInSpreadsheetProgram(const std::string& path) {
  const char* x11 = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  if (!(x11 && *x11) && !(wayland && *wayland)) return false;
  for (const char* program : {"localc", "libreoffice", "soffice", "gnumeric"}) {
    if (!OnPath(program)) continue;
    if (OnPath("xdg-open")) return StartDetached({"xdg-open", path});
    if (std::string_view(program) == "libreoffice" || std::string_view(program) == "soffice")
      return StartDetached({program, "--calc", path});
    return StartDetached({program, path});
  }
  return false;
}

std::string TabSeparatedText(const Variant& table) {
  const VariantArray& cells = table.Array();
  const std::int32_t lastRow = cells.UBound(2);
  const std::int32_t lastColumn = cells.UBound(1);
  std::string text;
  for (std::int32_t r = 0; r <= lastRow; ++r) {
    for (std::int32_t c = 0; c <= lastColumn; ++c) {
      const Variant& cell = cells(c, r);
      if (!cell.IsNull()) text += CStr(cell);
      text += '\t';
    }
    text += "\r\n";
  }
  return text;
}

}  // namespace qm::spreadsheet

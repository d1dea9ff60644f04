#pragma once
// qm::TextStream: a line-oriented text stream over a file or over memory.
//
// Files are read and written in UTF-8 ("system code page" on Linux) or in
// UTF-16LE with a byte-order mark ("Unicode"). ReadLine strips CR LF, LF or a
// lone CR; WriteLine adds CR LF. Reading past the end raises 62.
//
// A file opened ForWriting is written as a whole: the text goes to a new file
// beside it, without a name while it is written, which Close (or the stream's
// release) puts in its place in one step, so the old file stays readable,
// complete, until then and a crash never leaves a part. A failed write makes
// Close raise and keeps the old file. A file opened ForAppending grows in
// place.
//
// A file stream opened before fork belongs, in the child, to the parent: its
// Close raises 75 there, and releasing it drops the parent's unwritten text
// and leaves the file alone.

#include <concepts>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "quillmark/Export.h"
#include "quillmark/values/Object.h"

namespace qm {

/// How a file is opened: to read, to write a new whole, or to add at the end.
enum class IOMode { ForReading = 1, ForWriting = 2, ForAppending = 8 };
/// The file's encoding: detected (SystemDefault), UTF-16LE (Unicode) or UTF-8 (ASCII).
enum class TextFormat { SystemDefault = -2, Unicode = -1, ASCII = 0 };

/// A text file or in-memory text read line by line or written, as the
/// scripting TextStream. Reading or writing a closed stream raises 52; reading a
/// stream opened for writing, or writing one opened for reading, raises 54.
class QUILLMARK_EXPORT TextStream : public virtual Object {
 public:
  /// Opens a file. 53 when a file to read is missing, 76 when its folder is
  /// missing, 70 when access is refused. For reading, SystemDefault detects a
  /// UTF-16LE byte-order mark; UTF-8 otherwise (a UTF-8 BOM is skipped).
  static std::shared_ptr<TextStream> Open(const std::string& path, IOMode mode, bool create = true,
                                          TextFormat format = TextFormat::ASCII);
  /// Open with the path as a std::filesystem::path (a template, so that a
  /// string literal still picks the std::string overload).
  template <std::same_as<std::filesystem::path> Path>
  static std::shared_ptr<TextStream> Open(const Path& path, IOMode mode, bool create = true,
                                          TextFormat format = TextFormat::ASCII) {
    return Open(path.string(), mode, create, format);
  }
  /// A stream reading the given text.
  static std::shared_ptr<TextStream> FromText(std::string text);
  /// An empty in-memory stream to write to; `Text()` gives what was written.
  static std::shared_ptr<TextStream> InMemory();

  /// Closes the stream as Close does, but never raises: a failure is dropped and
  /// the old file (for writing) stays.
  ~TextStream() override;
  ///@{
  /// Not copyable: a stream owns its file and its place in it.
  TextStream(const TextStream&) = delete;
  TextStream& operator=(const TextStream&) = delete;
  ///@}

  /// The next line without its end (CR LF, LF or CR); 62 (Input past end of
  /// file) at the end, 57 when the file cannot be read.
  std::string ReadLine();
  /// The next line as a view into the stream's buffer, valid until the next
  /// call on the stream; the fast path under ReadLine.
  std::string_view ReadLineView();
  /// The rest of the stream, line ends kept; empty at the end.
  std::string ReadAll();
  /// True when nothing is left to read.
  bool AtEndOfStream();
  /// Writes text as it is; 61 (Disk full) or 57 (Device I/O error) when the
  /// file cannot take it (raised here or at Close, as the writing is buffered).
  void Write(std::string_view text);
  /// Writes text and CR LF; errors as Write.
  void WriteLine(std::string_view text = {});
  /// Writes `lines` empty lines; 5 when `lines` is negative.
  void WriteBlankLines(std::int32_t lines);
  /// Flushes and closes: a file opened for writing takes its place in one step
  /// (61 or 57 when that fails, the old file then stays). Closing again does nothing.
  void Close();
  /// The bytes not yet delivered by the reads (buffered ones and the rest of
  /// the file as it stands): an upper bound of the lines still to come.
  std::uint64_t RemainingBytes() const;
  /// 1-based number of the line the next read starts.
  std::int32_t Line() const;
  /// The text of an in-memory stream (what was written, or what is left to read).
  const std::string& Text() const;

  std::string ClassName() const override { return "TextStream"; }

 private:
  // The record stream keeps the lines it reads where they lie.
  friend class QMStream;
  // From now on the stream reads into blocks and never writes into a block
  // again once a line in it was handed out while anyone else holds that
  // block: a line that ReadLineView returns stays valid, at its place, while
  // its block (Impl::block_) is held. A finished block that only the stream
  // still holds is reused. Files in either encoding and memory streams; a
  // file opened for writing is left as it is.
  void KeepReadText();
  TextStream();
  bool Fill();  // reads more into the read buffer; false at the end
  bool FillBlock();
  bool MoreToRead() const;
  const char* ReadData() const;
  std::size_t ReadSize() const;
  void Flush();
  void Publish();
  void CheckOpen() const;
  void CheckReadable() const;
  void CheckWritable() const;

  // Everything the stream holds, the machinery of the file underneath
  // included, lives behind this pointer.
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

/// A shared reference to a TextStream.
using TextStreamPtr = std::shared_ptr<TextStream>;

}  // namespace qm

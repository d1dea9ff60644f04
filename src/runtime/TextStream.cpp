#include "quillmark/runtime/TextStream.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "frame/FileErrors.h"
#include "io/Lane.h"
#include "io/System.h"
#include "quillmark/errors/Error.h"
#include "quillmark/errors/ErrorNumbers.h"
#include "quillmark/values/Text.h"
#include "runtime/TextStreamImpl.h"

namespace qm {
namespace {

constexpr std::size_t kChunk = 1 << 16;
// Text gathered before a file written as a whole takes it: each handover to
// the thread that writes it costs a wake-up, so fewer and larger ones. A
// little under 512 KiB, so that a buffer of short lines never outgrows the
// 512 KiB its string has by then (the next step would be 1 MiB).
constexpr std::size_t kWriteChunk = (std::size_t{1} << 19) - (std::size_t{1} << 12);
constexpr std::size_t kBlock = std::size_t{2} << 20;  // a kept read block: one huge page
// The first block of a file read ahead, read on the caller's thread: small,
// so that a stream opened and read a little holds little.
constexpr std::size_t kFirstBlock = std::size_t{256} << 10;

[[noreturn]] void RaiseNamed(std::int32_t number, int error, const std::string& path) {
  Raise(number, ErrcOfErrno(error), DescribeError(number, path));
}

// A file or folder that is not there raises 53 or 76; any other failure names
// the file.
[[noreturn]] void RaiseOpenError(int error, const std::string& path, bool reading) {
  switch (error) {
    case ENOENT: {
      const auto parent = std::filesystem::path(path).parent_path();
      struct stat folder {};
      const bool folderExists =
          parent.empty() || (io::sys::Stat(parent.c_str(), &folder) == 0 && S_ISDIR(folder.st_mode));
      frame::RaiseErrno(reading && folderExists ? ERR_FileNotFound : ERR_PathNotFound, error);
    }
    case ENOTDIR: frame::RaiseErrno(ERR_PathNotFound, error);
    case EACCES:
    case EPERM:
    case EROFS: RaiseNamed(ERR_PermissionDenied, error, path);
    case ENOSPC: RaiseNamed(ERR_DiskFull, error, path);
    case EMFILE:
    case ENFILE: RaiseNamed(ERR_TooManyFiles, error, path);
    default: RaiseNamed(ERR_PathFileAccess, error, path);
  }
}

// A read or write of an open file failed: 61 for a full disk, 57 otherwise,
// the description naming the file and the system's words for the cause
// ("Device I/O error: /tmp/out: Broken pipe").
[[noreturn]] void RaiseIoError(int error, const std::string& path) {
  const std::int32_t number = error == ENOSPC || error == EDQUOT ? ERR_DiskFull : ERR_DeviceIO;
  Raise(number, ErrcOfErrno(error), DescribeError(number, path + ": " + std::generic_category().message(error)));
}

// The file written as a whole could not be written or put in place: 61 or
// 57, naming it (and saying so when the new file is in place but its folder
// could not be synced).
[[noreturn]] void RaiseReplaceError(const std::filesystem::filesystem_error& failure, const std::string& path) {
  const int error = failure.code().value();
  const std::int32_t number = error == ENOSPC || error == EDQUOT ? ERR_DiskFull : ERR_DeviceIO;
  Raise(number, ErrcOfErrno(error), DescribeError(number, frame::WriteFailureDetail(path, failure)));
}

// Whether the first `n` bytes of a file could still begin a byte-order mark
// (FF FE or EF BB BF) that is not complete yet.
bool PartOfAMark(const unsigned char* head, std::size_t n) {
  if (n == 1) return head[0] == 0xFF || head[0] == 0xEF;
  return n == 2 && head[0] == 0xEF && head[1] == 0xBB;
}

void AppendUtf8(std::string& out, std::uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// Decodes UTF-16LE bytes; an incomplete unit or an unpaired high surrogate at
// the end stays in `bytes` for the next call.
void DecodeUtf16(std::string& bytes, std::string& out) {
  std::size_t i = 0;
  auto unit = [&bytes](std::size_t at) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at]) |
                                      (static_cast<unsigned char>(bytes[at + 1]) << 8));
  };
  while (i + 1 < bytes.size()) {
    std::uint32_t cp = unit(i);
    if (cp >= 0xD800 && cp < 0xDC00) {
      if (i + 3 >= bytes.size()) break;
      const std::uint32_t low = unit(i + 2);
      if (low >= 0xDC00 && low < 0xE000) {
        AppendUtf8(out, 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00));
        i += 4;
        continue;
      }
      cp = 0xFFFD;
    } else if (cp >= 0xDC00 && cp < 0xE000) {
      cp = 0xFFFD;
    }
    AppendUtf8(out, cp);
    i += 2;
  }
  bytes.erase(0, i);
}

std::string EncodeUtf16(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size() * 2);
  auto put = [&out](std::uint32_t u) {
    out += static_cast<char>(u & 0xFF);
    out += static_cast<char>(u >> 8);
  };
  // A run of bytes that is no valid UTF-8 is written as U+FFFD.
  for (std::size_t i = 0; i < utf8.size();) {
    const Utf8Char c = DecodeUtf8(utf8, i);
    i += c.length;
    std::uint32_t cp = c.point;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      put(0xD800 + (cp >> 10));
      put(0xDC00 + (cp & 0x3FF));
    } else {
      put(cp);
    }
  }
  return out;
}

// The first CR or LF in [p, end), or end: one pass over the line instead of
// one search for each of the two characters.
const char* FindLineBreak(const char* p, const char* end) {
#if defined(__SSE2__)
  const __m128i lf = _mm_set1_epi8('\n');
  const __m128i cr = _mm_set1_epi8('\r');
  for (; end - p >= 16; p += 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const int found = _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(bytes, lf), _mm_cmpeq_epi8(bytes, cr)));
    if (found) return p + __builtin_ctz(static_cast<unsigned>(found));
  }
#endif
  while (p < end && *p != '\n' && *p != '\r') ++p;
  return p;
}

// The next block read ahead takes over from `block`, with the unfinished line
// (from `pos` to `used`) put in the room before its text. An unfinished line
// longer than that room grows in a block of its own instead, twice its length
// when it moves, whose pages come as they are written. False at the end.
bool TakeReadAhead(io::BlockReader& reader, std::shared_ptr<const io::HugeBlock>& block, std::size_t& pos,
                   std::size_t& used) {
  io::BlockReader::Piece piece = reader.Next();
  if (!piece.Block) return false;
  const std::size_t tail = used - pos;
  const std::size_t room = reader.Headroom();
  if (tail <= room) {
    const std::size_t start = room - tail;
    if (tail) std::memcpy(piece.Block->Data() + start, block->Data() + pos, tail);
    block = std::move(piece.Block);
    pos = start;
    used = room + piece.Size;
    return true;
  }
  if (block->Size() - used < piece.Size) {
    std::shared_ptr<io::HugeBlock> grown;
    try {
      grown = std::make_shared<io::HugeBlock>(std::max(tail + piece.Size, 2 * tail), io::HugeBlock::Pages::AsWritten);
    } catch (...) {
      reader.PutBack(std::move(piece));  // read again by the next call
      throw;
    }
    std::memcpy(grown->Data(), block->Data() + pos, tail);
    block = std::move(grown);
    pos = 0;
    used = tail;
  }
  std::memcpy(block->Data() + used, piece.Block->Data() + room, piece.Size);
  used += piece.Size;
  return true;
}

}  // namespace

std::shared_ptr<TextStream> TextStream::Open(const std::string& path, IOMode mode, bool create, TextFormat format) {
  const bool reading = mode == IOMode::ForReading;
  struct stat target {};
  const bool exists = io::sys::Stat(path.c_str(), &target) == 0;
  if (!reading && !exists && !create) Raise(ERR_FileNotFound);
  if (exists && S_ISDIR(target.st_mode)) Raise(ERR_PathFileAccess);

  std::shared_ptr<TextStream> stream(new TextStream());
  Impl& s = *stream->impl_;
  s.path_ = path;
  s.mode_ = mode;
  const bool special = exists && !S_ISREG(target.st_mode);
  if (mode == IOMode::ForWriting && !special) {
    try {
      s.replacement_ = std::make_unique<io::AtomicFile>(path);
      s.unicode_ = format == TextFormat::Unicode;
      if (s.unicode_) s.replacement_->Write("\xFF\xFE");
    } catch (const std::filesystem::filesystem_error& e) {
      s.closed_ = true;
      RaiseOpenError(e.code().value(), path, false);
    }
    return stream;
  }
  // A device or pipe opened for writing is written in place: it cannot be replaced.
  const int flags = reading ? O_RDONLY : O_WRONLY | O_CREAT | (mode == IOMode::ForWriting ? O_TRUNC : O_APPEND);
  const int fd = io::sys::Open(path.c_str(), flags, 0666);
  if (fd < 0) {
    s.closed_ = true;
    RaiseOpenError(errno, path, reading);
  }
  s.file_.Reset(fd);
  if (reading) {
    // A file is read from where the text starts, after the byte-order mark.
    // A pipe or a terminal gives only as many bytes as it takes to tell the
    // mark (so it is not waited on for more), and what follows the mark is
    // the first text read.
    struct stat info {};
    s.seekable_ = io::sys::Fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    unsigned char head[3] = {0, 0, 0};
    std::size_t n = 0;
    ssize_t got = 0;
    if (s.seekable_) {
      got = io::sys::PReadFull(fd, head, sizeof head, 0);
      n = got > 0 ? static_cast<std::size_t>(got) : 0;
    } else {
      do {
        got = io::sys::Read(fd, head + n, sizeof head - n);
        if (got > 0) n += static_cast<std::size_t>(got);
      } while (got > 0 && PartOfAMark(head, n));
      s.eof_ = got == 0;
    }
    if (got < 0) {
      s.closed_ = true;
      RaiseIoError(errno, path);
    }
    std::size_t skip = 0;
    if (n >= 2 && head[0] == 0xFF && head[1] == 0xFE && format != TextFormat::ASCII) {
      s.unicode_ = true;
      skip = 2;
    } else if (format == TextFormat::Unicode) {
      s.unicode_ = true;
    } else if (n == 3 && head[0] == 0xEF && head[1] == 0xBB && head[2] == 0xBF) {
      skip = 3;
    }
    if (s.seekable_) {
      s.fileRead_ = skip;
      return stream;
    }
    s.fileRead_ = n;
    const char* text = reinterpret_cast<const char*>(head) + skip;
    if (s.unicode_) {
      s.pendingBytes_.assign(text, n - skip);
      DecodeUtf16(s.pendingBytes_, s.buffer_);
    } else {
      s.buffer_.assign(text, n - skip);
    }
  } else {
    s.unicode_ = format == TextFormat::Unicode;
    struct stat info {};
    if (s.unicode_ && io::sys::Fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size == 0)
      s.unwritten_ = "\xFF\xFE";  // goes out with the first text
  }
  return stream;
}

std::shared_ptr<TextStream> TextStream::FromText(std::string text) {
  std::shared_ptr<TextStream> stream(new TextStream());
  stream->impl_->memory_ = true;
  stream->impl_->eof_ = true;
  stream->impl_->buffer_ = std::move(text);
  return stream;
}

std::shared_ptr<TextStream> TextStream::InMemory() {
  std::shared_ptr<TextStream> stream(new TextStream());
  stream->impl_->memory_ = true;
  stream->impl_->eof_ = true;
  stream->impl_->mode_ = IOMode::ForWriting;
  return stream;
}

TextStream::TextStream() : impl_(std::make_unique<Impl>()) {}

std::int32_t TextStream::Line() const { return impl_->line_; }
const std::string& TextStream::Text() const { return impl_->buffer_; }

void TextStream::Impl::DropInherited() noexcept {
  closed_ = true;
  buffer_.clear();  // the parent's unwritten text stays unwritten
  unwritten_.clear();
  // The read-ahead and the writer are the parent's work: never waited for.
  readAhead_.reset();
  replacement_.reset();  // closes its descriptor only: the parent's file is neither published nor removed
  file_.Close();         // the child's copy of the descriptor
}

TextStream::~TextStream() {
  if (impl_->Inherited()) {
    impl_->DropInherited();
    return;
  }
  try {
    if (!impl_->closed_) {
      Flush();
      Publish();
    }
  } catch (...) {
    // Destructors must not throw; a failed final write is lost with the stream.
  }
}

// A file stream made before fork is the parent's: in the child, every use
// raises 75 (the first one lets it go), as its reads and writes would move
// the parent's file position or write the parent's pending text.
void TextStream::CheckOpen() const {
  if (impl_->Inherited()) {
    if (!impl_->closed_) impl_->DropInherited();
    io::RaiseInherited();
  }
  if (impl_->closed_) Raise(ERR_BadFileNameOrNumber);
}

void TextStream::CheckReadable() const {
  CheckOpen();
  if (!impl_->memory_ && impl_->mode_ != IOMode::ForReading) Raise(ERR_BadFileMode);
}

void TextStream::CheckWritable() const {
  CheckOpen();
  if (!impl_->memory_ && impl_->mode_ == IOMode::ForReading) Raise(ERR_BadFileMode);
}

const char* TextStream::ReadData() const { return impl_->block_ ? impl_->block_->Data() : impl_->buffer_.data(); }
std::size_t TextStream::ReadSize() const { return impl_->block_ ? impl_->blockUsed_ : impl_->buffer_.size(); }

bool TextStream::Fill() {
  if (impl_->block_) return FillBlock();
  if (impl_->eof_) return false;
  if (impl_->pos_ > 0) {
    impl_->buffer_.erase(0, impl_->pos_);
    impl_->pos_ = 0;
  }
  char chunk[kChunk];
  const std::size_t n = impl_->ReadFile(chunk, sizeof chunk);
  if (n == 0) return false;
  if (impl_->unicode_) {
    impl_->pendingBytes_.append(chunk, n);
    DecodeUtf16(impl_->pendingBytes_, impl_->buffer_);
  } else {
    impl_->buffer_.append(chunk, n);
  }
  return true;
}

std::size_t TextStream::Impl::ReadFile(char* into, std::size_t size) {
  const ssize_t n = seekable_ ? io::sys::PRead(file_.Get(), into, size, static_cast<off_t>(fileRead_))
                              : io::sys::Read(file_.Get(), into, size);
  if (n < 0) RaiseIoError(errno, path_);
  if (n == 0) eof_ = true;
  fileRead_ += static_cast<std::uint64_t>(n);
  return static_cast<std::size_t>(n);
}

bool TextStream::MoreToRead() const {
  const Impl& s = *impl_;
  return !s.eof_ || (s.block_ && s.memory_ && s.memoryRead_ < s.buffer_.size());
}

void TextStream::KeepReadText() {
  // In a child after fork the parent's stream is left as it is: its next read raises.
  if (impl_->block_ || impl_->Inherited() || (!impl_->memory_ && impl_->mode_ != IOMode::ForReading)) return;
  if (impl_->memory_) {
    impl_->memoryRead_ = impl_->pos_;
  } else {
    impl_->buffer_.erase(0, impl_->pos_);
  }
  // An empty block to start from; the first fill sizes the real one.
  impl_->block_ = std::make_shared<const io::HugeBlock>(0);
  impl_->blockUsed_ = 0;
  impl_->pos_ = 0;
  if (!impl_->memory_ && !impl_->buffer_.empty()) {
    // Text the stream had read ahead before: it becomes the first block.
    auto first = std::make_shared<const io::HugeBlock>(impl_->buffer_.size() + kChunk);
    std::memcpy(first->Data(), impl_->buffer_.data(), impl_->buffer_.size());
    impl_->blockUsed_ = impl_->buffer_.size();
    impl_->block_ = std::move(first);
    impl_->buffer_.clear();
  }
  // A file that a block does not hold is read ahead on the executor's
  // threads, within the process's read-ahead budget; the room left at the
  // start of each block takes the unfinished line.
  if (!impl_->memory_ && !impl_->unicode_ && !impl_->eof_ && impl_->file_) {
    struct stat info {};
    const auto at = static_cast<off_t>(impl_->fileRead_);
    if (io::sys::Fstat(impl_->file_.Get(), &info) == 0 && S_ISREG(info.st_mode) &&
        info.st_size - at > static_cast<off_t>(kBlock - kChunk))
      impl_->readAhead_ =
          std::make_unique<io::BlockReader>(impl_->file_.Get(), impl_->fileRead_, kBlock, kChunk, kFirstBlock);
  }
}

// Appends what the source gives next to the block being read. When the block
// is full, a new one takes over, starting with the unfinished line (the only
// text ever copied): the lines handed out stay where they are.
bool TextStream::FillBlock() {
  if (!MoreToRead()) return false;
  if (impl_->readAhead_) {
    if (TakeReadAhead(*impl_->readAhead_, impl_->block_, impl_->pos_, impl_->blockUsed_)) return true;
    impl_->eof_ = true;
    impl_->readAhead_.reset();
    return false;
  }
  std::string decoded;  // UTF-16 text, decoded before it goes to the block
  const char* from = nullptr;
  std::size_t n = 0;
  char chunk[kChunk];
  if (impl_->memory_) {
    from = impl_->buffer_.data() + impl_->memoryRead_;
    n = std::min(impl_->buffer_.size() - impl_->memoryRead_, kBlock);
    impl_->memoryRead_ += n;
  } else {
    const std::size_t room = impl_->block_->Size() - impl_->blockUsed_;
    const bool direct = !impl_->unicode_ && room >= kChunk / 4;
    char* into = direct ? impl_->block_->Data() + impl_->blockUsed_ : chunk;
    n = impl_->ReadFile(into, direct ? std::min(room, kChunk) : kChunk);
    if (n == 0) return false;
    if (direct) {
      impl_->blockUsed_ += n;
      return true;
    }
    from = chunk;
    if (impl_->unicode_) {
      impl_->pendingBytes_.append(chunk, n);
      DecodeUtf16(impl_->pendingBytes_, decoded);
      from = decoded.data();
      n = decoded.size();
    }
  }
  if (impl_->block_->Size() - impl_->blockUsed_ < n) {
    const std::size_t tail = impl_->blockUsed_ - impl_->pos_;
    // Sized for what is still to come, so that a small file takes a small
    // block; never less than the unfinished line and this piece.
    std::uint64_t coming = n;
    if (impl_->file_ && !impl_->eof_) {
      struct stat info {};
      const auto at = static_cast<off_t>(impl_->fileRead_);
      if (io::sys::Fstat(impl_->file_.Get(), &info) == 0 && info.st_size > at)
        coming += static_cast<std::uint64_t>(info.st_size - at) + kChunk;
    }
    std::size_t size = static_cast<std::size_t>(std::min<std::uint64_t>(coming, kBlock));
    size = std::max({size, tail + n, 2 * tail});
    // A finished block that nobody but the stream holds any more (its lines
    // were let go) is filled anew instead of a fresh one.
    std::shared_ptr<const io::HugeBlock> next;
    if (impl_->spare_ && impl_->spare_.use_count() == 1 && impl_->spare_->Size() >= size) {
      next = std::move(impl_->spare_);
    } else {
      next = std::make_shared<const io::HugeBlock>(size);
    }
    if (tail) std::memcpy(next->Data(), impl_->block_->Data() + impl_->pos_, tail);
    impl_->spare_ = std::move(impl_->block_);
    impl_->block_ = std::move(next);
    impl_->blockUsed_ = tail;
    impl_->pos_ = 0;
  }
  if (n) std::memcpy(impl_->block_->Data() + impl_->blockUsed_, from, n);
  impl_->blockUsed_ += n;
  return n > 0 || MoreToRead();
}

std::uint64_t TextStream::RemainingBytes() const {
  std::uint64_t left = ReadSize() - impl_->pos_ + impl_->pendingBytes_.size();
  if (impl_->block_ && impl_->memory_) left += impl_->buffer_.size() - impl_->memoryRead_;
  if (impl_->file_ && !impl_->eof_ && !impl_->closed_) {
    struct stat info {};
    const auto at = static_cast<off_t>(impl_->readAhead_ ? impl_->readAhead_->Offset() : impl_->fileRead_);
    if (io::sys::Fstat(impl_->file_.Get(), &info) == 0 && info.st_size > at)
      left += static_cast<std::uint64_t>(info.st_size - at);
  }
  return left;
}

std::string TextStream::ReadLine() { return std::string(ReadLineView()); }

std::string_view TextStream::ReadLineView() {
  CheckReadable();
  std::size_t scanFrom = impl_->pos_;
  for (;;) {
    const char* base = ReadData();
    const std::size_t size = ReadSize();
    const char* lineEnd = FindLineBreak(base + scanFrom, base + size);
    // A CR as the last byte read may be the first half of CR LF: read on.
    if (lineEnd != base + size && !(*lineEnd == '\r' && lineEnd + 1 == base + size && MoreToRead())) {
      const std::string_view line(base + impl_->pos_, static_cast<std::size_t>(lineEnd - (base + impl_->pos_)));
      std::size_t next = static_cast<std::size_t>(lineEnd - base) + 1;
      if (*lineEnd == '\r' && next < size && base[next] == '\n') ++next;
      impl_->pos_ = next;
      ++impl_->line_;
      return line;
    }
    const std::size_t scanned = size - impl_->pos_;
    if (!Fill()) {
      if (impl_->pos_ >= ReadSize()) Raise(ERR_InputPastEndOfFile);
      std::string_view line(ReadData() + impl_->pos_, ReadSize() - impl_->pos_);
      if (line.back() == '\r') line.remove_suffix(1);  // a lone CR ends the last line
      impl_->pos_ = ReadSize();
      ++impl_->line_;
      return line;
    }
    scanFrom = impl_->pos_ + (scanned > 0 ? scanned - 1 : 0);
  }
}

std::string TextStream::ReadAll() {
  CheckReadable();
  while (Fill()) {}
  std::string rest(ReadData() + impl_->pos_, ReadSize() - impl_->pos_);
  impl_->pos_ = ReadSize();
  return rest;
}

bool TextStream::AtEndOfStream() {
  CheckReadable();
  return impl_->pos_ >= ReadSize() && !Fill();
}

// A file written as a whole takes each full buffer on a thread of its own
// while the stream goes on (its failures come back at a later flush or at
// Close); the last, short one (and a small file's only one) directly.
void TextStream::Flush() {
  if (impl_->memory_ || (impl_->buffer_.empty() && impl_->unwritten_.empty()) || impl_->mode_ == IOMode::ForReading)
    return;
  if (impl_->replacement_) {
    try {
      if (impl_->buffer_.size() >= kWriteChunk) {
        std::string full = impl_->unicode_ ? EncodeUtf16(impl_->buffer_) : std::move(impl_->buffer_);
        std::string spare = impl_->replacement_->WriteBehind(std::move(full));
        impl_->buffer_ = std::move(spare);
      } else if (impl_->unicode_) {
        impl_->replacement_->Write(EncodeUtf16(impl_->buffer_));
      } else {
        impl_->replacement_->Write(impl_->buffer_);
      }
    } catch (const std::filesystem::filesystem_error& e) {
      RaiseReplaceError(e, impl_->path_);
    }
  } else if (impl_->file_) {
    // Straight to the file, nothing kept in a buffer of the C library's. A
    // write that fails keeps what it did not write, for the next try.
    std::string& out = impl_->unwritten_;
    if (impl_->unicode_) {
      out += EncodeUtf16(impl_->buffer_);
    } else if (out.empty()) {
      out.swap(impl_->buffer_);  // no copy; each string keeps its room
    } else {
      out += impl_->buffer_;
    }
    impl_->buffer_.clear();
    std::size_t done = 0;
    while (done < out.size()) {
      const ssize_t wrote = io::sys::Write(impl_->file_.Get(), out.data() + done, out.size() - done);
      if (wrote <= 0) {
        const int error = wrote < 0 ? errno : EIO;
        out.erase(0, done);
        RaiseIoError(error, impl_->path_);
      }
      done += static_cast<std::size_t>(wrote);
    }
    out.clear();
  }
  impl_->buffer_.clear();
}

// Puts a file written as a whole in its place.
void TextStream::Publish() {
  if (!impl_->replacement_) return;
  const auto file = std::move(impl_->replacement_);
  try {
    file->Commit();
  } catch (const std::filesystem::filesystem_error& e) {
    RaiseReplaceError(e, impl_->path_);
  }
}

void TextStream::Write(std::string_view text) {
  CheckWritable();
  impl_->buffer_ += text;
  if (impl_->buffer_.size() >= (impl_->replacement_ ? kWriteChunk : kChunk)) Flush();
}

void TextStream::WriteLine(std::string_view text) {
  CheckWritable();
  impl_->buffer_ += text;
  impl_->buffer_ += "\r\n";
  ++impl_->line_;
  if (impl_->buffer_.size() >= (impl_->replacement_ ? kWriteChunk : kChunk)) Flush();
}

void TextStream::WriteBlankLines(std::int32_t lines) {
  CheckWritable();
  if (lines < 0) Raise(ERR_InvalidProcedureCall);
  for (std::int32_t i = 0; i < lines; ++i) WriteLine();
}

void TextStream::Close() {
  if (impl_->closed_) return;
  if (impl_->Inherited()) {
    impl_->DropInherited();
    io::RaiseInherited();
  }
  impl_->closed_ = true;
  try {
    Flush();
    Publish();
  } catch (...) {
    impl_->replacement_.reset();
    impl_->readAhead_.reset();
    impl_->file_.Close();
    throw;
  }
  impl_->readAhead_.reset();  // its reads under way use the file
  if (impl_->file_.Close() != 0 && impl_->mode_ != IOMode::ForReading) RaiseIoError(errno, impl_->path_);
}

}  // namespace qm

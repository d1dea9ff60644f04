#include "quillmark/runtime/TextStream.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "quillmark/frame/Error.h"
#include "quillmark/frame/ErrorNumbers.h"
#include "runtime/AtomicFile.h"
#include "runtime/BlockReader.h"
#include "runtime/HugeBlock.h"

namespace qm {
namespace {

constexpr std::size_t kChunk = 1 << 16;
// Text gathered before a file written as a whole takes it: each handover to
// the thread that writes it costs a wake-up, so fewer and larger ones. A
// little under 512 KiB, so that a buffer of short lines never outgrows the
// 512 KiB its string has by then (the next step would be 1 MiB).
constexpr std::size_t kWriteChunk = (std::size_t{1} << 19) - (std::size_t{1} << 12);
constexpr std::size_t kBlock = std::size_t{2} << 20;  // a kept read block: one huge page

[[noreturn]] void RaiseOpenError(int error, const std::string& path, bool reading) {
  switch (error) {
    case ENOENT: {
      const auto parent = std::filesystem::path(path).parent_path();
      std::error_code ec;
      const bool folderExists = parent.empty() || std::filesystem::is_directory(parent, ec);
      Raise(reading && folderExists ? ERR_FileNotFound : ERR_PathNotFound);
    }
    case ENOTDIR: Raise(ERR_PathNotFound);
    case EACCES:
    case EPERM:
    case EROFS: Raise(ERR_PermissionDenied);
    case ENOSPC: Raise(ERR_DiskFull);
    case EMFILE:
    case ENFILE: Raise(ERR_TooManyFiles);
    default: Raise(ERR_PathFileAccess);
  }
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
  for (std::size_t i = 0; i < utf8.size();) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    std::uint32_t cp;
    int extra;
    if (c < 0x80) cp = c, extra = 0;
    else if (c >= 0xF0) cp = c & 0x07, extra = 3;
    else if (c >= 0xE0) cp = c & 0x0F, extra = 2;
    else if (c >= 0xC0) cp = c & 0x1F, extra = 1;
    else cp = 0xFFFD, extra = 0;
    ++i;
    for (int k = 0; k < extra; ++k, ++i) {
      if (i >= utf8.size() || (static_cast<unsigned char>(utf8[i]) & 0xC0) != 0x80) {
        cp = 0xFFFD;
        break;
      }
      cp = (cp << 6) | (static_cast<unsigned char>(utf8[i]) & 0x3F);
    }
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
bool TakeReadAhead(detail::BlockReader& reader, std::shared_ptr<const detail::HugeBlock>& block, std::size_t& pos,
                   std::size_t& used) {
  detail::BlockReader::Piece piece = reader.Next();
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
    std::shared_ptr<detail::HugeBlock> grown;
    try {
      grown = std::make_shared<detail::HugeBlock>(std::max(tail + piece.Size, 2 * tail),
                                                  detail::HugeBlock::Pages::AsWritten);
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
  std::error_code ec;
  const bool exists = std::filesystem::exists(path, ec);
  if (!reading && !exists && !create) Raise(ERR_FileNotFound);
  if (std::filesystem::is_directory(path, ec)) Raise(ERR_PathFileAccess);

  std::shared_ptr<TextStream> stream(new TextStream());
  stream->path_ = path;
  stream->mode_ = mode;
  struct stat target {};
  const bool special = ::stat(path.c_str(), &target) == 0 && !S_ISREG(target.st_mode);
  if (mode == IOMode::ForWriting && !special) {
    try {
      stream->replacement_ = std::make_unique<detail::AtomicFile>(path);
      stream->unicode_ = format == TextFormat::Unicode;
      if (stream->unicode_) stream->replacement_->Write("\xFF\xFE");
    } catch (const std::filesystem::filesystem_error& e) {
      stream->closed_ = true;
      RaiseOpenError(e.code().value(), path, false);
    }
    return stream;
  }
  // A device or pipe opened for writing is written in place: it cannot be replaced.
  std::FILE* f = std::fopen(path.c_str(), reading ? "rb" : mode == IOMode::ForWriting ? "wb" : "ab");
  if (!f) {
    stream->closed_ = true;
    RaiseOpenError(errno, path, reading);
  }
  stream->file_.reset(f);
  if (reading) {
    unsigned char bom[3] = {0, 0, 0};
    const std::size_t n = std::fread(bom, 1, 3, f);
    std::size_t skip = 0;
    if (n >= 2 && bom[0] == 0xFF && bom[1] == 0xFE && format != TextFormat::ASCII) {
      stream->unicode_ = true;
      skip = 2;
    } else if (format == TextFormat::Unicode) {
      stream->unicode_ = true;
    } else if (n == 3 && bom[0] == 0xEF && bom[1] == 0xBB && bom[2] == 0xBF) {
      skip = 3;
    }
    std::fseek(f, static_cast<long>(skip), SEEK_SET);
  } else {
    stream->unicode_ = format == TextFormat::Unicode;
    std::fseek(f, 0, SEEK_END);
    if (stream->unicode_ && std::ftell(f) == 0) std::fwrite("\xFF\xFE", 1, 2, f);
  }
  return stream;
}

std::shared_ptr<TextStream> TextStream::FromText(std::string text) {
  std::shared_ptr<TextStream> stream(new TextStream());
  stream->memory_ = true;
  stream->eof_ = true;
  stream->buffer_ = std::move(text);
  return stream;
}

std::shared_ptr<TextStream> TextStream::InMemory() {
  std::shared_ptr<TextStream> stream(new TextStream());
  stream->memory_ = true;
  stream->eof_ = true;
  stream->mode_ = IOMode::ForWriting;
  return stream;
}

TextStream::~TextStream() {
  try {
    if (!closed_) {
      Flush();
      Publish();
    }
  } catch (...) {
    // Destructors must not throw; a failed final write is lost with the stream.
  }
}

void TextStream::CheckOpen() const {
  if (closed_) Raise(ERR_BadFileNameOrNumber);
}

void TextStream::CheckReadable() const {
  CheckOpen();
  if (!memory_ && mode_ != IOMode::ForReading) Raise(ERR_BadFileMode);
}

void TextStream::CheckWritable() const {
  CheckOpen();
  if (!memory_ && mode_ == IOMode::ForReading) Raise(ERR_BadFileMode);
}

const char* TextStream::ReadData() const { return block_ ? block_->Data() : buffer_.data(); }
std::size_t TextStream::ReadSize() const { return block_ ? blockUsed_ : buffer_.size(); }

bool TextStream::Fill() {
  if (block_) return FillBlock();
  if (eof_) return false;
  if (pos_ > 0) {
    buffer_.erase(0, pos_);
    pos_ = 0;
  }
  char chunk[kChunk];
  const std::size_t n = std::fread(chunk, 1, sizeof chunk, file_.get());
  if (n == 0) {
    if (std::ferror(file_.get())) Raise(ERR_DeviceIO);
    eof_ = true;
    return false;
  }
  if (unicode_) {
    pendingBytes_.append(chunk, n);
    DecodeUtf16(pendingBytes_, buffer_);
  } else {
    buffer_.append(chunk, n);
  }
  return true;
}

bool TextStream::MoreToRead() const { return !eof_ || (block_ && memory_ && memoryRead_ < buffer_.size()); }

void TextStream::KeepReadText() {
  if (block_ || (!memory_ && mode_ != IOMode::ForReading)) return;
  if (memory_) {
    memoryRead_ = pos_;
  } else {
    buffer_.erase(0, pos_);
  }
  // An empty block to start from; the first fill sizes the real one.
  block_ = std::make_shared<const detail::HugeBlock>(0);
  blockUsed_ = 0;
  pos_ = 0;
  if (!memory_ && !buffer_.empty()) {
    // Text the stream had read ahead before: it becomes the first block.
    auto first = std::make_shared<const detail::HugeBlock>(buffer_.size() + kChunk);
    std::memcpy(first->Data(), buffer_.data(), buffer_.size());
    blockUsed_ = buffer_.size();
    block_ = std::move(first);
    buffer_.clear();
  }
  // A file that a block does not hold is read ahead on a thread of its own;
  // the room left at the start of each block takes the unfinished line.
  if (!memory_ && !unicode_ && !eof_ && file_) {
    struct stat info {};
    const off_t at = ftello(file_.get());
    if (fstat(fileno(file_.get()), &info) == 0 && S_ISREG(info.st_mode) && at >= 0 &&
        info.st_size - at > static_cast<off_t>(kBlock - kChunk))
      readAhead_ = std::make_unique<detail::BlockReader>(fileno(file_.get()), static_cast<std::uint64_t>(at), kBlock,
                                                         kChunk);
  }
}

// Appends what the source gives next to the block being read. When the block
// is full, a new one takes over, starting with the unfinished line (the only
// text ever copied): the lines handed out stay where they are.
bool TextStream::FillBlock() {
  if (!MoreToRead()) return false;
  if (readAhead_) {
    if (TakeReadAhead(*readAhead_, block_, pos_, blockUsed_)) return true;
    eof_ = true;
    readAhead_.reset();
    return false;
  }
  std::string decoded;  // UTF-16 text, decoded before it goes to the block
  const char* from = nullptr;
  std::size_t n = 0;
  char chunk[kChunk];
  if (memory_) {
    from = buffer_.data() + memoryRead_;
    n = std::min(buffer_.size() - memoryRead_, kBlock);
    memoryRead_ += n;
  } else {
    const std::size_t room = block_->Size() - blockUsed_;
    const bool direct = !unicode_ && room >= kChunk / 4;
    char* into = direct ? block_->Data() + blockUsed_ : chunk;
    n = std::fread(into, 1, direct ? std::min(room, kChunk) : kChunk, file_.get());
    if (n == 0) {
      if (std::ferror(file_.get())) Raise(ERR_DeviceIO);
      eof_ = true;
      return false;
    }
    if (direct) {
      blockUsed_ += n;
      return true;
    }
    from = chunk;
    if (unicode_) {
      pendingBytes_.append(chunk, n);
      DecodeUtf16(pendingBytes_, decoded);
      from = decoded.data();
      n = decoded.size();
    }
  }
  if (block_->Size() - blockUsed_ < n) {
    const std::size_t tail = blockUsed_ - pos_;
    // Sized for what is still to come, so that a small file takes a small
    // block; never less than the unfinished line and this piece.
    std::uint64_t coming = n;
    if (file_ && !eof_) {
      struct stat info {};
      const off_t at = ftello(file_.get());
      if (fstat(fileno(file_.get()), &info) == 0 && at >= 0 && info.st_size > at)
        coming += static_cast<std::uint64_t>(info.st_size - at) + kChunk;
    }
    std::size_t size = static_cast<std::size_t>(std::min<std::uint64_t>(coming, kBlock));
    size = std::max({size, tail + n, 2 * tail});
    // A finished block that nobody but the stream holds any more (its lines
    // were let go) is filled anew instead of a fresh one.
    std::shared_ptr<const detail::HugeBlock> next;
    if (spare_ && spare_.use_count() == 1 && spare_->Size() >= size) {
      next = std::move(spare_);
    } else {
      next = std::make_shared<const detail::HugeBlock>(size);
    }
    if (tail) std::memcpy(next->Data(), block_->Data() + pos_, tail);
    spare_ = std::move(block_);
    block_ = std::move(next);
    blockUsed_ = tail;
    pos_ = 0;
  }
  if (n) std::memcpy(block_->Data() + blockUsed_, from, n);
  blockUsed_ += n;
  return n > 0 || MoreToRead();
}

std::uint64_t TextStream::RemainingBytes() const {
  std::uint64_t left = ReadSize() - pos_ + pendingBytes_.size();
  if (block_ && memory_) left += buffer_.size() - memoryRead_;
  if (file_ && !eof_ && !closed_) {
    struct stat info {};
    const off_t at = readAhead_ ? static_cast<off_t>(readAhead_->Offset()) : ftello(file_.get());
    if (fstat(fileno(file_.get()), &info) == 0 && at >= 0 && info.st_size > at)
      left += static_cast<std::uint64_t>(info.st_size - at);
  }
  return left;
}

std::string TextStream::ReadLine() { return std::string(ReadLineView()); }

std::string_view TextStream::ReadLineView() {
  CheckReadable();
  std::size_t scanFrom = pos_;
  for (;;) {
    const char* base = ReadData();
    const std::size_t size = ReadSize();
    const char* lineEnd = FindLineBreak(base + scanFrom, base + size);
    // A CR as the last byte read may be the first half of CR LF: read on.
    if (lineEnd != base + size && !(*lineEnd == '\r' && lineEnd + 1 == base + size && MoreToRead())) {
      const std::string_view line(base + pos_, static_cast<std::size_t>(lineEnd - (base + pos_)));
      std::size_t next = static_cast<std::size_t>(lineEnd - base) + 1;
      if (*lineEnd == '\r' && next < size && base[next] == '\n') ++next;
      pos_ = next;
      ++line_;
      return line;
    }
    const std::size_t scanned = size - pos_;
    if (!Fill()) {
      if (pos_ >= ReadSize()) Raise(ERR_InputPastEndOfFile);
      std::string_view line(ReadData() + pos_, ReadSize() - pos_);
      if (line.back() == '\r') line.remove_suffix(1);  // a lone CR ends the last line
      pos_ = ReadSize();
      ++line_;
      return line;
    }
    scanFrom = pos_ + (scanned > 0 ? scanned - 1 : 0);
  }
}

std::string TextStream::ReadAll() {
  CheckReadable();
  while (Fill()) {
  }
  std::string rest(ReadData() + pos_, ReadSize() - pos_);
  pos_ = ReadSize();
  return rest;
}

bool TextStream::AtEndOfStream() {
  CheckReadable();
  return pos_ >= ReadSize() && !Fill();
}

// A file written as a whole takes each full buffer on a thread of its own
// while the stream goes on (its failures come back at a later flush or at
// Close); the last, short one (and a small file's only one) directly.
void TextStream::Flush() {
  if (memory_ || buffer_.empty() || mode_ == IOMode::ForReading) return;
  if (replacement_) {
    try {
      if (buffer_.size() >= kWriteChunk) {
        std::string spare = replacement_->WriteBehind(unicode_ ? EncodeUtf16(buffer_) : std::move(buffer_));
        buffer_ = std::move(spare);
      } else if (unicode_) {
        replacement_->Write(EncodeUtf16(buffer_));
      } else {
        replacement_->Write(buffer_);
      }
    } catch (const std::filesystem::filesystem_error& e) {
      Raise(e.code() == std::errc::no_space_on_device ? ERR_DiskFull : ERR_DeviceIO);
    }
  } else if (file_) {
    const std::string bytes = unicode_ ? EncodeUtf16(buffer_) : std::string();
    const std::string& out = unicode_ ? bytes : buffer_;
    if (std::fwrite(out.data(), 1, out.size(), file_.get()) != out.size())
      Raise(errno == ENOSPC ? ERR_DiskFull : ERR_DeviceIO);
  }
  buffer_.clear();
}

// Puts a file written as a whole in its place.
void TextStream::Publish() {
  if (!replacement_) return;
  const auto file = std::move(replacement_);
  try {
    file->Commit();
  } catch (const std::filesystem::filesystem_error& e) {
    Raise(e.code() == std::errc::no_space_on_device ? ERR_DiskFull : ERR_DeviceIO);
  }
}

void TextStream::Write(std::string_view text) {
  CheckWritable();
  buffer_ += text;
  if (buffer_.size() >= (replacement_ ? kWriteChunk : kChunk)) Flush();
}

void TextStream::WriteLine(std::string_view text) {
  CheckWritable();
  buffer_ += text;
  buffer_ += "\r\n";
  ++line_;
  if (buffer_.size() >= (replacement_ ? kWriteChunk : kChunk)) Flush();
}

void TextStream::WriteBlankLines(std::int32_t lines) {
  CheckWritable();
  if (lines < 0) Raise(ERR_InvalidProcedureCall);
  for (std::int32_t i = 0; i < lines; ++i) WriteLine();
}

void TextStream::Close() {
  if (closed_) return;
  try {
    Flush();
    Publish();
  } catch (...) {
    closed_ = true;
    replacement_.reset();
    throw;
  }
  readAhead_.reset();  // its thread reads the file
  if (file_) {
    std::FILE* f = file_.release();
    if (std::fclose(f) != 0 && mode_ != IOMode::ForReading) {
      closed_ = true;
      Raise(ERR_DeviceIO);
    }
  }
  closed_ = true;
}

}  // namespace qm

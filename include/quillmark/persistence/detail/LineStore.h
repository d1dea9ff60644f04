#pragma once
// Every line a QMStream has read since Use, in file order, each reachable in
// constant time.
//
// Lines of a UTF-8 file are kept by their place in the file: the most recent
// ones are held as text in a small ring, and an older one is read again from
// the file (through a descriptor of the store's own) when it is pushed back
// that far. Keeping a million lines then costs 8 bytes each instead of
// fresh memory for all their text. Lines of other streams (memory, UTF-16)
// are copied into large blocks (huge pages where the kernel offers them).

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace qm::detail {

/// Gives a block's memory back: unmapped, or freed when it came from malloc.
struct BlockRelease {
  std::size_t MappedBytes = 0;  // 0: from malloc
  void operator()(char* p) const;
};

/// A block of raw memory, released with its owner. Blocks of 2 MiB and more
/// are mapped whole, asked to be backed by huge pages, and filled with their
/// pages at once: one call instead of a page fault per 4 KiB.
class HugeBlock {
 public:
  explicit HugeBlock(std::size_t bytes);
  char* Data() const { return data_.get(); }
  std::size_t Size() const { return size_; }

 private:
  std::unique_ptr<char, BlockRelease> data_;
  std::size_t size_;
};

/// An owned file descriptor.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept;
  ~UniqueFd();
  int get() const { return fd_; }
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_ = -1;
};

class LineStore {
 public:
  /// Lines appended from now on are kept by their place in the file that
  /// `fd` reads (the store owns it); without a file they are copied.
  void KeepPlacesIn(UniqueFd fd) { file_ = std::move(fd); }
  bool KeepsPlaces() const { return file_.get() >= 0; }

  /// Appends the line's place (`offset` in the file), or a copy of it when
  /// there is no file or the place does not fit an entry.
  void Append(std::string_view line, std::int64_t offset = -1) {
    std::uint64_t& entry = NewEntry();
    if (KeepsPlaces() && offset >= 0 && static_cast<std::uint64_t>(offset) <= kMaxOffset && line.size() < kCopied) {
      Recent& recent = ring_[count_ % kRecent];
      recent.Text.assign(line);
      recent.Index = count_;
      entry = (static_cast<std::uint64_t>(offset) << kLengthBits) | line.size();
    } else {
      entry = (static_cast<std::uint64_t>(copies_.size()) << kLengthBits) | kCopied;
      copies_.emplace_back(CopyText(line), line.size());
    }
    ++count_;
  }

  /// The line at `index`; the view stays valid while fewer than 64 other
  /// lines are appended or read again.
  std::string_view operator[](std::size_t index) const {
    const std::uint64_t entry = Slot(index);
    if ((entry & kLengthMask) == kCopied) return copies_[entry >> kLengthBits];
    const Recent& recent = ring_[index % kRecent];
    if (recent.Index == index) return recent.Text;
    return ReadAgain(index, entry);
  }
  /// The ring's own string for the line at `index` when it holds it (lines
  /// of a file), so that a caller can hand out a reference without a copy.
  const std::string* Held(std::size_t index) const {
    if (index >= count_ || (Slot(index) & kLengthMask) == kCopied) return nullptr;
    const Recent& recent = ring_[index % kRecent];
    return recent.Index == index ? &recent.Text : nullptr;
  }
  std::size_t size() const { return count_; }
  /// Forgets every line and the file.
  void clear();

 private:
  // An entry is 8 bytes: a file offset (40 bits) and a length (24 bits), or
  // the number of a copy with the length kCopied.
  static constexpr int kLengthBits = 24;
  static constexpr std::uint64_t kLengthMask = (std::uint64_t{1} << kLengthBits) - 1;
  static constexpr std::uint64_t kCopied = kLengthMask;
  static constexpr std::uint64_t kMaxOffset = (std::uint64_t{1} << (64 - kLengthBits)) - 1;
  struct Recent {
    std::string Text;
    std::size_t Index = static_cast<std::size_t>(-1);
  };
  static constexpr std::size_t kRecent = 64;
  static constexpr std::size_t kFirstTextBlock = std::size_t{64} << 10;
  static constexpr std::size_t kTextBlock = std::size_t{4} << 20;
  static constexpr std::size_t kFirstIndex = 4096;
  static constexpr std::size_t kIndexPerBlock = (std::size_t{2} << 20) / sizeof(std::uint64_t);

  std::uint64_t& NewEntry() {
    if (count_ == 0) {
      indexBlocks_.emplace_back(kFirstIndex * sizeof(std::uint64_t));
    } else if (count_ >= kFirstIndex && (count_ - kFirstIndex) % kIndexPerBlock == 0 &&
               1 + (count_ - kFirstIndex) / kIndexPerBlock == indexBlocks_.size()) {
      indexBlocks_.emplace_back(kIndexPerBlock * sizeof(std::uint64_t));
    }
    return Slot(count_);
  }
  std::uint64_t& Slot(std::size_t index) const {
    auto* first = reinterpret_cast<std::uint64_t*>(indexBlocks_[0].Data());
    if (index < kFirstIndex) return first[index];
    index -= kFirstIndex;
    return reinterpret_cast<std::uint64_t*>(indexBlocks_[1 + index / kIndexPerBlock].Data())[index % kIndexPerBlock];
  }
  const char* CopyText(std::string_view line) {
    if (textBlocks_.empty() || line.size() > textFree_) NewTextBlock(line.size());
    char* at = textBlocks_.back().Data() + (textBlocks_.back().Size() - textFree_);
    if (!line.empty()) std::memcpy(at, line.data(), line.size());
    textFree_ -= line.size();
    return at;
  }
  void NewTextBlock(std::size_t atLeast);
  std::string_view ReadAgain(std::size_t index, std::uint64_t entry) const;

  std::vector<HugeBlock> textBlocks_;
  std::vector<HugeBlock> indexBlocks_;
  std::vector<std::string_view> copies_;  // copied lines, in the text blocks
  std::size_t textFree_ = 0;
  std::size_t count_ = 0;
  UniqueFd file_;
  mutable std::array<Recent, kRecent> ring_;
};

}  // namespace qm::detail

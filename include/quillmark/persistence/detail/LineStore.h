#pragma once
// Every line a QMStream has read since Use, in file order. Lines and their
// index are packed into large blocks (huge pages where the kernel offers
// them), so keeping a million lines costs a few allocations, not a million.
// The first blocks are small, so that a stream reading a few lines does not
// take megabytes.

#include <cstddef>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

namespace qm::detail {

/// A block of raw memory, released with its owner; blocks of 2 MiB and more
/// are 2 MiB-aligned and asked to be backed by huge pages.
class HugeBlock {
 public:
  explicit HugeBlock(std::size_t bytes);
  char* Data() const { return data_.get(); }
  std::size_t Size() const { return size_; }

 private:
  struct Free {
    void operator()(char* p) const;
  };
  std::unique_ptr<char, Free> data_;
  std::size_t size_;
};

class LineStore {
 public:
  void Append(std::string_view line) {
    if (textBlocks_.empty() || line.size() > textFree_) NewTextBlock(line.size());
    char* at = textBlocks_.back().Data() + (textBlocks_.back().Size() - textFree_);
    if (!line.empty()) std::memcpy(at, line.data(), line.size());
    textFree_ -= line.size();
    if (count_ == 0) {
      indexBlocks_.emplace_back(kFirstIndex * sizeof(std::string_view));
    } else if (count_ >= kFirstIndex && (count_ - kFirstIndex) % kIndexPerBlock == 0 &&
               1 + (count_ - kFirstIndex) / kIndexPerBlock == indexBlocks_.size()) {
      indexBlocks_.emplace_back(kIndexPerBlock * sizeof(std::string_view));
    }
    Slot(count_) = std::string_view(at, line.size());
    ++count_;
  }
  std::string_view operator[](std::size_t index) const {
    return const_cast<LineStore*>(this)->Slot(index);
  }
  std::size_t size() const { return count_; }
  void clear() {
    textBlocks_.clear();
    indexBlocks_.clear();
    textFree_ = 0;
    count_ = 0;
  }

 private:
  static constexpr std::size_t kFirstTextBlock = std::size_t{64} << 10;
  static constexpr std::size_t kTextBlock = std::size_t{4} << 20;
  static constexpr std::size_t kFirstIndex = 4096;
  static constexpr std::size_t kIndexPerBlock = (std::size_t{2} << 20) / sizeof(std::string_view);

  std::string_view& Slot(std::size_t index) {
    auto* first = reinterpret_cast<std::string_view*>(indexBlocks_[0].Data());
    if (index < kFirstIndex) return first[index];
    index -= kFirstIndex;
    return reinterpret_cast<std::string_view*>(indexBlocks_[1 + index / kIndexPerBlock].Data())[index % kIndexPerBlock];
  }
  void NewTextBlock(std::size_t atLeast) {
    const std::size_t size = textBlocks_.empty() ? kFirstTextBlock : kTextBlock;
    textBlocks_.emplace_back(atLeast > size ? atLeast : size);
    textFree_ = textBlocks_.back().Size();
  }

  std::vector<HugeBlock> textBlocks_;
  std::vector<HugeBlock> indexBlocks_;
  std::size_t textFree_ = 0;
  std::size_t count_ = 0;
};

}  // namespace qm::detail

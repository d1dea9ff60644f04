// Utility: collections, dictionaries, arrays and number formatting.

#include <limits>
#include <span>
#include <utility>
#include <vector>

#include "io/HugeBlock.h"
#include "quillmark/errors/ErrorNumbers.h"
#include "quillmark/frame/Frame.h"
#include "quillmark/runtime/Format.h"
#include "quillmark/utility/Utility.h"
#include "quillmark/values/Conversions.h"

namespace qm {
namespace {

// Failure codes of the array resize, raised as error numbers.
// Resizes beyond this many elements are refused as out of memory.
constexpr std::int64_t kMaxRedimElements = std::int64_t{1} << 24;

// One pair of the dictionary while it is sorted. When every key is a string,
// `Prefix` holds its first 8 bytes big-endian, so that most comparisons are
// one integer comparison; ties fall back to the whole text.
struct SortItem {
  std::uint64_t Prefix;
  const Dictionary::Entry* Pair;
};

std::uint64_t PrefixOf(const std::string& text) {
  std::uint64_t prefix = 0;
  for (std::size_t k = 0; k < 8; ++k)
    prefix = (prefix << 8) | (k < text.size() ? static_cast<unsigned char>(text[k]) : 0u);
  return prefix;
}

// Keys compare as Variants: numbers by value, strings by character code.
class KeyOrder {
 public:
  explicit KeyOrder(bool allStrings) : allStrings_(allStrings) {}

  bool operator()(const SortItem& a, const SortItem& b) const {
    if (allStrings_) {
      if (a.Prefix != b.Prefix) return a.Prefix < b.Prefix;
      return *a.Pair->Key.GetIf<std::string>() < *b.Pair->Key.GetIf<std::string>();
    }
    return Compare(a.Pair->Key, b.Pair->Key) < 0;
  }

 private:
  bool allStrings_;
};

// Copies the pairs into `sorted` in the order of `items`. The pairs lie all
// over memory in that order, so each one is fetched well ahead of its copy
// (its node first, then the text its key points to); the copies are then
// made, and later freed, in the order they lie in.
void CopyInOrder(std::span<const SortItem> items, Dictionary& sorted) {
  constexpr std::size_t kNodeAhead = 16, kTextAhead = 8;
  const std::size_t n = items.size();
  for (std::size_t k = 0; k < n; ++k) {
    if (k + kNodeAhead < n) __builtin_prefetch(items[k + kNodeAhead].Pair);
    if (k + kTextAhead < n) {
      if (const auto* text = items[k + kTextAhead].Pair->Key.GetIf<std::string>()) __builtin_prefetch(text);
    }
    sorted.AppendUnique(*items[k].Pair);
  }
}

// Iterative quicksort of the pairs by key: an explicit stack of ranges, the
// smaller part sorted first so the stack stays logarithmic. The pivot is the
// last element of the range, after the median of first, middle and last has
// been moved there, so that sorted input does not degrade to n^2.
void QuickSort(std::span<SortItem> pairs, const KeyOrder& less) {
  QM_FRAME_TRY {
    if (pairs.size() < 2) return;
    struct Range {
      std::ptrdiff_t Low, High;
    };
    std::vector<Range> stack;
    stack.push_back({0, static_cast<std::ptrdiff_t>(pairs.size()) - 1});  // the end marker
    std::ptrdiff_t lo = 0, hi = static_cast<std::ptrdiff_t>(pairs.size()) - 1;
    SortItem* p = pairs.data();
    for (;;) {
      if (hi <= lo) {
        lo = stack.back().Low;
        hi = stack.back().High;
        stack.pop_back();
        if (stack.empty()) break;
        continue;
      }
      if (hi - lo >= 2) {
        const std::ptrdiff_t mid = lo + (hi - lo) / 2;
        if (less(p[mid], p[lo])) std::swap(p[mid], p[lo]);
        if (less(p[hi], p[lo])) std::swap(p[hi], p[lo]);
        if (less(p[mid], p[hi])) std::swap(p[mid], p[hi]);
      }
      const SortItem pivot = p[hi];
      std::ptrdiff_t i = lo - 1, j = hi;
      for (;;) {
        do ++i;
        while (less(p[i], pivot));
        do --j;
        while (j > lo && less(pivot, p[j]));
        std::swap(p[i], p[j]);
        if (j <= i) break;
      }
      // Undo the last swap and put the pivot in its place.
      std::swap(p[i], p[j]);
      std::swap(p[i], p[hi]);
      if (i - lo <= hi - i) {
        stack.push_back({i + 1, hi});
        hi = i - 1;
      } else {
        stack.push_back({lo, i - 1});
        lo = i + 1;
      }
    }
  }
  QM_FRAME_CATCH("Utility", "Private Sub QuickSort", pairs, less);
}

}  // namespace

std::shared_ptr<Collection> Utility::CopyCollection(const Collection& Col) const {
  QM_FRAME_TRY {
    auto copy = std::make_shared<Collection>();
    for (std::int32_t position = 1; position <= Col.Count(); ++position) copy->Add(Col.Item(position));
    return copy;
  }
  QM_FRAME_CATCH("Utility", "Public Function CopyCollection", Col);
}

std::shared_ptr<Dictionary> Utility::CopyDictionary(const Dictionary& Dic) const {
  QM_FRAME_TRY {
    auto copy = std::make_shared<Dictionary>();
    for (const auto& entry : Dic) copy->Add(entry.Key, entry.Value);
    return copy;
  }
  QM_FRAME_CATCH("Utility", "Public Function CopyDictionary", Dic);
}

std::shared_ptr<Dictionary> Utility::CollectionToDictionary(const Collection& Col) const {
  QM_FRAME_TRY {
    auto dictionary = std::make_shared<Dictionary>();
    for (std::int32_t position = 1; position <= Col.Count(); ++position)
      dictionary->Add(Col.Item(position), Col.Item(position));
    return dictionary;
  }
  QM_FRAME_CATCH("Utility", "Public Function CollectionToDictionary", Col);
}

std::shared_ptr<Collection> Utility::ArrayToCollection(const Variant& RHS) const {
  QM_FRAME_TRY {
    const VariantArray& array = RHS.Array();
    auto collection = std::make_shared<Collection>();
    for (std::int32_t i = 0; i <= array.UBound(); ++i) collection->Add(array(i));
    return collection;
  }
  QM_FRAME_CATCH("Utility", "Public Function ArrayToCollection", RHS);
}

Variant Utility::CollectionToArray(const Collection& RHS) const {
  QM_FRAME_TRY {
    std::vector<Variant> values;
    values.reserve(static_cast<std::size_t>(RHS.Count()));
    for (const auto& entry : RHS) values.push_back(entry.Value);
    return Variant(VariantArray::FromVector(std::move(values)));
  }
  QM_FRAME_CATCH("Utility", "Public Function CollectionToArray", RHS);
}

// Counts the holders of the object; the call itself takes no reference.
std::int32_t Utility::ReferenceCount(const std::shared_ptr<Object>& Unknown) const {
  return CountHolders(Unknown.use_count());
}

std::int32_t Utility::CountHolders(long useCount) const {
  QM_FRAME_TRY { return static_cast<std::int32_t>(std::min<long>(useCount, std::numeric_limits<std::int32_t>::max())); }
  QM_FRAME_CATCH("Utility", "Public Function ReferenceCount", useCount);
}

std::shared_ptr<Dictionary> Utility::SortDictionary(const Dictionary& Dictionary) const {
  QM_FRAME_TRY {
    // The items lie in memory of their own, not from the heap: a large heap
    // block would first merge every small block freed before (a dictionary
    // released just before, for one), at a cost near that of the sort.
    const auto count = static_cast<std::size_t>(Dictionary.Count());
    io::HugeBlock memory(count * sizeof(SortItem));
    const std::span<SortItem> pairs(reinterpret_cast<SortItem*>(memory.Data()), count);
    bool allStrings = true;
    std::size_t filled = 0;
    for (const auto& entry : Dictionary) {
      const auto* text = entry.Key.GetIf<std::string>();
      allStrings = allStrings && text;
      pairs[filled++] = SortItem{text ? PrefixOf(*text) : 0, &entry};
    }
    QuickSort(pairs, KeyOrder(allStrings));
    // The keys come from one dictionary, so they are distinct: the result
    // takes them without a lookup each and indexes them when first needed.
    auto sorted = std::make_shared<qm::Dictionary>();
    CopyInOrder(pairs, *sorted);
    return sorted;
  }
  QM_FRAME_CATCH("Utility", "Public Function SortDictionary", Dictionary);
}

std::shared_ptr<Dictionary> Utility::AppendDictionary(const Dictionary& First, const Dictionary& Second) const {
  QM_FRAME_TRY {
    auto joined = std::make_shared<Dictionary>();
    for (const auto& entry : First) joined->Add(entry.Key, entry.Value);
    for (const auto& entry : Second) joined->Add(entry.Key, entry.Value);
    return joined;
  }
  QM_FRAME_CATCH("Utility", "Public Function AppendDictionary", First, Second);
}

void Utility::RedimVariantArray(Variant& ArrayRef, std::int32_t LowBound, std::int32_t Count) const {
  QM_FRAME_TRY {
    if (!ArrayRef.IsArray()) Raise(ERR_InvalidProcedureCall);
    VariantArray& array = ArrayRef.Array();
    if (array.Dimensions() == 0) Raise(ERR_InvalidProcedureCall, "Array not initialized.");
    const std::int64_t upper = std::int64_t{LowBound} + Count - 1;
    if (Count < 0 || upper > std::numeric_limits<std::int32_t>::max()) Raise(ERR_E_INVALIDARG);
    // Only the last dimension changes; the others multiply the element count.
    std::int64_t others = 1;
    for (int d = 1; d < array.Dimensions(); ++d) others *= std::int64_t{array.UBound(d)} - array.LBound(d) + 1;
    if (others > 0 && Count > kMaxRedimElements / others) Raise(ERR_E_OUTOFMEMORY);
    std::vector<VariantArray::Bound> bounds = array.Bounds();
    bounds.back() = {LowBound, static_cast<std::int32_t>(upper)};
    if (bounds.back().Lower != array.Bounds().back().Lower) {
      // The lower bound moves: the elements keep their positions, not their indexes.
      std::vector<VariantArray::Bound> shifted = array.Bounds();
      shifted.back().Lower = LowBound;
      shifted.back().Upper =
          static_cast<std::int32_t>(std::int64_t{LowBound} + array.Bounds().back().Upper - array.Bounds().back().Lower);
      VariantArray moved(shifted, array.ElementType());
      moved.Data() = std::move(array.Data());
      array = std::move(moved);
    }
    array.Redim(std::move(bounds), true);
  }
  QM_FRAME_CATCH("Utility", "Public Sub RedimVariantArray", ArrayRef, LowBound, Count);
}

std::string Utility::Format(const Variant& Expression, const std::string& FormatSpecifier) const {
  QM_FRAME_TRY { return qm::Format(Expression, FormatSpecifier, vbSunday); }
  QM_FRAME_CATCH("Utility", "Public Function Format", Expression, FormatSpecifier);
}

double Utility::AsNumber(const Variant& Expression) const {
  QM_FRAME_TRY { return CDbl(Expression); }
  QM_FRAME_CATCH("Utility", "Public Function AsNumber", Expression);
}

double Utility::Val(const std::string& Value) const {
  QM_FRAME_TRY { return qm::Val(Value); }
  QM_FRAME_CATCH("Utility", "Public Function Val", Value);
}

}  // namespace qm

#include <limits>

#include "quillmark/errors/Error.h"
#include "quillmark/errors/ErrorNumbers.h"
#include "quillmark/values/Variant.h"

namespace qm {
namespace {
// Arrays larger than this are refused with "Out of memory" before any allocation.
constexpr std::size_t kMaxElements = std::size_t{1} << 27;
}  // namespace

std::size_t VariantArray::CountOf(const std::vector<Bound>& bounds) {
  if (bounds.empty() || bounds.size() > 60) Raise(ERR_SubscriptOutOfRange);
  std::size_t count = 1;
  for (const auto& b : bounds) {
    const std::int64_t extent = std::int64_t{b.Upper} - b.Lower + 1;
    if (extent < 0) Raise(ERR_SubscriptOutOfRange);
    if (extent == 0) return 0;
    if (static_cast<std::size_t>(extent) > kMaxElements / count) Raise(ERR_OutOfMemory);
    count *= static_cast<std::size_t>(extent);
  }
  return count;
}

VariantArray::VariantArray(std::vector<Bound> bounds, VbVarType elementType)
    : bounds_(std::move(bounds)), elementType_(elementType) {
  data_.resize(CountOf(bounds_));
}

VariantArray VariantArray::FromVector(std::vector<Variant> values, std::int32_t lower, VbVarType elementType) {
  VariantArray array;
  const auto n = static_cast<std::int64_t>(values.size());
  if (std::int64_t{lower} + n - 1 > std::numeric_limits<std::int32_t>::max()) Raise(ERR_Overflow);
  array.bounds_ = {Bound{lower, static_cast<std::int32_t>(lower + n - 1)}};
  array.data_ = std::move(values);
  array.elementType_ = elementType;
  return array;
}

std::int32_t VariantArray::LBound(int dim) const {
  if (dim < 1 || dim > Dimensions()) Raise(ERR_SubscriptOutOfRange);
  return bounds_[dim - 1].Lower;
}

std::int32_t VariantArray::UBound(int dim) const {
  if (dim < 1 || dim > Dimensions()) Raise(ERR_SubscriptOutOfRange);
  return bounds_[dim - 1].Upper;
}

std::size_t VariantArray::Offset(std::span<const std::int32_t> indexes) const {
  if (indexes.size() != bounds_.size()) Raise(ERR_SubscriptOutOfRange);
  std::size_t offset = 0, stride = 1;
  for (std::size_t d = 0; d < bounds_.size(); ++d) {
    const auto& b = bounds_[d];
    if (indexes[d] < b.Lower || indexes[d] > b.Upper) Raise(ERR_SubscriptOutOfRange);
    offset += static_cast<std::size_t>(std::int64_t{indexes[d]} - b.Lower) * stride;
    stride *= static_cast<std::size_t>(std::int64_t{b.Upper} - b.Lower + 1);
  }
  return offset;
}

Variant& VariantArray::At(std::span<const std::int32_t> indexes) { return data_[Offset(indexes)]; }
const Variant& VariantArray::At(std::span<const std::int32_t> indexes) const { return data_[Offset(indexes)]; }

Variant& VariantArray::operator()(std::int32_t i) {
  const std::int32_t idx[] = {i};
  return At(idx);
}
const Variant& VariantArray::operator()(std::int32_t i) const {
  const std::int32_t idx[] = {i};
  return At(idx);
}
Variant& VariantArray::operator()(std::int32_t i, std::int32_t j) {
  const std::int32_t idx[] = {i, j};
  return At(idx);
}
const Variant& VariantArray::operator()(std::int32_t i, std::int32_t j) const {
  const std::int32_t idx[] = {i, j};
  return At(idx);
}

void VariantArray::Redim(std::vector<Bound> bounds, bool preserve) {
  const std::size_t count = CountOf(bounds);
  if (!preserve) {
    std::vector<Variant> fresh(count);
    data_.swap(fresh);
    bounds_ = std::move(bounds);
    return;
  }
  if (bounds.size() != bounds_.size()) Raise(ERR_SubscriptOutOfRange);
  for (std::size_t d = 0; d + 1 < bounds.size(); ++d) {
    if (bounds[d].Lower != bounds_[d].Lower || bounds[d].Upper != bounds_[d].Upper) Raise(ERR_SubscriptOutOfRange);
  }
  // The last dimension varies slowest: keeping its first elements keeps a prefix.
  data_.resize(count);
  bounds_ = std::move(bounds);
}

}  // namespace qm

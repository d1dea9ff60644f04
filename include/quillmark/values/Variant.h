#pragma once
// qm::Variant and qm::VariantArray: the tagged value of the library.

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "quillmark/Export.h"
#include "quillmark/values/Object.h"

namespace qm {

/// The run-time's variant type codes.
enum VbVarType : std::int32_t {
  vbEmpty = 0,
  vbNull = 1,
  vbInteger = 2,
  vbLong = 3,
  vbSingle = 4,
  vbDouble = 5,
  vbCurrency = 6,
  vbDate = 7,
  vbString = 8,
  vbObject = 9,
  vbError = 10,
  vbBoolean = 11,
  vbVariant = 12,
  vbByte = 17,
  vbArray = 8192,
};

/// A date: days since 1899-12-30, the fraction being the time of day.
struct QUILLMARK_EXPORT Date {
  double Serial = 0.0;  ///< The date and time as a serial number of days; negative before 1899-12-30.
  friend bool operator==(const Date&, const Date&) = default;  ///< Equal when the serial numbers are equal.
};

/// The Null value (distinct from Empty).
struct QUILLMARK_EXPORT NullValue {
  friend bool operator==(const NullValue&, const NullValue&) = default;  ///< Every Null equals every other.
};
/// The Null value, for assigning and comparing.
inline constexpr NullValue Null{};

/// Currency: a 64-bit count of ten-thousandths.
struct QUILLMARK_EXPORT Currency {
  std::int64_t Scaled = 0;  ///< The amount times 10000 (four decimal places, range about ±9.2e14).
  friend bool operator==(const Currency&, const Currency&) = default;  ///< Equal when the amounts are equal.
};

class VariantArray;

/// A value of any of the run-time's types (Empty, Null, numbers, Currency,
/// Date, String, Boolean, Byte, an object, an array) with its type, in 16 bytes.
/// Conversions between types and the arithmetic follow the run-time's rules.
class QUILLMARK_EXPORT Variant {
 public:
  ///@{
  /// Holds Empty (no argument), Null, or the given value with the type that matches
  /// its C++ type: int16 Integer, int32 Long, float Single, double Double, Currency,
  /// Date, string String (copied), bool Boolean, uint8 Byte, an object (shared) or
  /// an array (moved in). Never throws except std::bad_alloc.
  Variant() = default;
  Variant(NullValue) : value_(NullValue{}) {}
  Variant(std::int16_t v) : value_(v) {}
  Variant(std::int32_t v) : value_(v) {}
  Variant(float v) : value_(v) {}
  Variant(double v) : value_(v) {}
  Variant(Currency v) : value_(v) {}
  Variant(Date v) : value_(v) {}
  Variant(std::string v) : value_(StringBox(std::move(v))) {}
  Variant(std::string_view v) : value_(StringBox(std::string(v))) {}
  Variant(const char* v) : value_(StringBox(std::string(v))) {}
  Variant(bool v) : value_(v) {}
  Variant(std::uint8_t v) : value_(v) {}
  Variant(ObjectPtr v) : value_(ObjectBox(std::move(v))) {}
  template <class T>
  requires std::is_base_of_v<Object, T> Variant(std::shared_ptr<T> v) : value_(ObjectBox(ObjectPtr(std::move(v)))) {}
  Variant(VariantArray v);
  ///@}

  ///@{
  /// Copies deeply: strings and arrays are copied, objects are shared.
  Variant(const Variant& other);
  Variant(Variant&&) noexcept = default;
  Variant& operator=(const Variant& other);
  Variant& operator=(Variant&&) noexcept = default;
  ///@}
  // Inline, so that destroying a large array of numbers costs no call per value.
  ~Variant() = default;

  /// The type code (vbArray ORed with the element type for arrays).
  VbVarType VarType() const;  // vbArray | element type for arrays
  /// The type's name as the run-time's TypeName gives it ("Long", "String",
  /// "Variant()", an object's class name, "Nothing" for a null object).
  std::string TypeName() const;

  /// True when nothing was ever assigned (vbEmpty).
  bool IsEmpty() const { return value_.index() == 0; }
  /// True when it holds Null.
  bool IsNull() const { return std::holds_alternative<NullValue>(value_); }
  /// True when it holds an object reference (Nothing included).
  bool IsObject() const { return std::holds_alternative<ObjectBox>(value_); }
  /// True when it holds an array.
  bool IsArray() const;
  /// True when it holds a string.
  bool IsString() const { return std::holds_alternative<StringBox>(value_); }
  /// True for the numeric types, Boolean and Date, and for strings that read as numbers.
  bool IsNumeric() const;
  /// True for the numeric types (not strings), Boolean included.
  bool HoldsNumber() const;

  /// Typed access; raises 13 (Type mismatch) when the Variant holds another type.
  const std::string& String() const;
  /// The object held (null for Nothing); raises 13 (Type mismatch) for other types.
  const ObjectPtr& ObjectRef() const;
  ///@{
  /// The array held; raises 13 (Type mismatch) for other types.
  VariantArray& Array();
  const VariantArray& Array() const;
  ///@}

  /// The held value when it is a T, else null.
  template <class T>
  const T* GetIf() const {
    if constexpr (std::is_same_v<T, std::string>) {
      const auto* box = std::get_if<StringBox>(&value_);
      return box ? &box->Get() : nullptr;
    } else if constexpr (std::is_same_v<T, ObjectPtr>) {
      const auto* box = std::get_if<ObjectBox>(&value_);
      return box ? &box->Get() : nullptr;
    } else {
      return std::get_if<T>(&value_);
    }
  }

  /// @cond INTERNAL
  /// A value kept on the heap and copied deeply; null stands for T's blank
  /// value (the empty string, Nothing). Strings and objects are boxed so that
  /// a Variant is 16 bytes: large arrays of numbers then cost little memory.
  template <class T>
  class Boxed {
   public:
    explicit Boxed(T value) : value_(value == T{} ? nullptr : std::make_unique<T>(std::move(value))) {}
    Boxed(const Boxed& other) : value_(other.value_ ? std::make_unique<T>(*other.value_) : nullptr) {}
    Boxed& operator=(const Boxed& other) {
      value_ = other.value_ ? std::make_unique<T>(*other.value_) : nullptr;
      return *this;
    }
    Boxed(Boxed&&) noexcept = default;
    Boxed& operator=(Boxed&&) noexcept = default;
    ~Boxed() = default;
    const T& Get() const {
      static const T blank{};
      return value_ ? *value_ : blank;
    }

   private:
    std::unique_ptr<T> value_;
  };
  using StringBox = Boxed<std::string>;  ///< Strings kept boxed, so that the Variant stays 16 bytes.
  using ObjectBox = Boxed<ObjectPtr>;    ///< Objects kept boxed, so that the Variant stays 16 bytes.

  // The array is deleted where VariantArray is complete (Variant.cpp).
  struct ArrayDelete {
    void operator()(VariantArray* array) const;
  };
  struct ArrayBox {
    std::unique_ptr<VariantArray, ArrayDelete> Value;
  };
  /// @endcond
  /// The storage behind the value: one alternative per type code (bool is Boolean,
  /// uint8 Byte); for the library's own conversions, which visit it.
  using Storage = std::variant<std::monostate, NullValue, std::int16_t, std::int32_t, float, double, Currency, Date,
                               StringBox, bool, ObjectBox, std::uint8_t, ArrayBox>;
  /// The storage, for visiting every alternative without copying.
  const Storage& Raw() const { return value_; }

 private:
  Storage value_;
};

static_assert(sizeof(Variant) == 16, "a Variant is one 8-byte value and its type");

/// Variant arithmetic with the run-time's widening rules; strings join with `+`.
/// Raises 13 (Type mismatch) for objects, arrays and strings that do not read
/// as numbers, 11 (Division by zero) for x / 0 and 6 (Overflow) for 0 / 0.
///@{
QUILLMARK_EXPORT Variant operator+(const Variant& a, const Variant& b);
QUILLMARK_EXPORT Variant operator-(const Variant& a, const Variant& b);
QUILLMARK_EXPORT Variant operator*(const Variant& a, const Variant& b);
QUILLMARK_EXPORT Variant operator/(const Variant& a, const Variant& b);
///@}
///@{
/// Comparison: numbers by value, strings binary, mixed number/string as numbers
/// Answers below 0, 0 or above 0 as `a` sorts before, with or after `b`; with
/// `textCompare`, strings compare without regard to case. Raises 13 (Type
/// mismatch) for objects and arrays. `==` and `<` are Compare's binary form.
/// when the string is numeric. Empty compares as 0 or "".
QUILLMARK_EXPORT int Compare(const Variant& a, const Variant& b, bool textCompare = false);
QUILLMARK_EXPORT bool operator==(const Variant& a, const Variant& b);
inline bool operator<(const Variant& a, const Variant& b) { return Compare(a, b) < 0; }
///@}

/// An N-dimensional array of Variants; each dimension has its own lower bound.
/// Elements are stored with the first index varying fastest, so that
/// `Redim(..., preserve)` of the last dimension keeps every element.
class QUILLMARK_EXPORT VariantArray {
 public:
  /// One dimension's index range, both ends included; Upper = Lower - 1 when empty.
  struct Bound {
    std::int32_t Lower = 0;                                        ///< The first index.
    std::int32_t Upper = -1;                                       ///< The last index.
    friend bool operator==(const Bound&, const Bound&) = default;  ///< Equal when both ends are equal.
  };

  /// An empty one-dimensional array, bounds 0 to -1.
  VariantArray() : bounds_{Bound{}} {}
  /// Dimensions with the given bounds (1 to 60 of them), every element Empty; raises
  /// 9 (Subscript out of range) when an Upper is below its Lower - 1, 7 (Out of
  /// memory) when the element count would not fit in memory.
  explicit VariantArray(std::vector<Bound> bounds, VbVarType elementType = vbVariant);
  /// A one-dimensional array of the given values starting at `lower`; raises 6
  /// (Overflow) when the last index would pass the largest int32.
  static VariantArray FromVector(std::vector<Variant> values, std::int32_t lower = 0,
                                 VbVarType elementType = vbVariant);

  int Dimensions() const { return static_cast<int>(bounds_.size()); }  ///< The count of dimensions (1 or more).
  /// Bounds of dimension `dim` (1-based); 9 (Subscript out of range) for others.
  ///@{
  std::int32_t LBound(int dim = 1) const;
  std::int32_t UBound(int dim = 1) const;
  ///@}
  /// Every dimension's bounds, the first dimension first.
  const std::vector<Bound>& Bounds() const { return bounds_; }
  /// The count of elements (the product of the dimensions' lengths).
  std::size_t Size() const { return data_.size(); }
  /// The type every element is kept as (vbVariant unless made typed).
  VbVarType ElementType() const { return elementType_; }

  ///@{
  /// Element access by index in every dimension; 9 when out of range.
  Variant& operator()(std::int32_t i);
  const Variant& operator()(std::int32_t i) const;
  Variant& operator()(std::int32_t i, std::int32_t j);
  const Variant& operator()(std::int32_t i, std::int32_t j) const;
  Variant& At(std::span<const std::int32_t> indexes);
  const Variant& At(std::span<const std::int32_t> indexes) const;
  ///@}

  ///@{
  /// Elements in storage order.
  std::vector<Variant>& Data() { return data_; }
  const std::vector<Variant>& Data() const { return data_; }
  ///@}

  /// Re-dimensions the array. With `preserve`, only the last dimension's
  /// upper bound may change (9 otherwise) and every kept element stays.
  void Redim(std::vector<Bound> bounds, bool preserve);

  /// Equal when the bounds, element type and every element are equal.
  friend bool operator==(const VariantArray&, const VariantArray&) = default;

 private:
  std::size_t Offset(std::span<const std::int32_t> indexes) const;
  static std::size_t CountOf(const std::vector<Bound>& bounds);

  std::vector<Bound> bounds_;
  std::vector<Variant> data_;
  VbVarType elementType_ = vbVariant;
};

}  // namespace qm

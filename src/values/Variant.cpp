#include "quillmark/values/Variant.h"

#include <cmath>
#include <limits>

#include "quillmark/errors/Error.h"
#include "quillmark/errors/ErrorNumbers.h"
#include "quillmark/values/Conversions.h"

namespace qm {
namespace {

// Numeric kinds in widening order.
enum Kind { kByte, kInteger, kLong, kSingle, kDouble, kCurrency, kDate, kString, kEmpty, kNull, kOther };

Kind KindOf(const Variant& v) {
  return std::visit(
      [](const auto& x) -> Kind {
        using T = std::decay_t<decltype(x)>;
        if constexpr (std::is_same_v<T, std::monostate>) return kEmpty;
        else if constexpr (std::is_same_v<T, NullValue>) return kNull;
        else if constexpr (std::is_same_v<T, std::uint8_t>) return kByte;
        else if constexpr (std::is_same_v<T, bool> || std::is_same_v<T, std::int16_t>) return kInteger;
        else if constexpr (std::is_same_v<T, std::int32_t>) return kLong;
        else if constexpr (std::is_same_v<T, float>) return kSingle;
        else if constexpr (std::is_same_v<T, double>) return kDouble;
        else if constexpr (std::is_same_v<T, Currency>) return kCurrency;
        else if constexpr (std::is_same_v<T, Date>) return kDate;
        else if constexpr (std::is_same_v<T, Variant::StringBox>) return kString;
        else return kOther;
      },
      v.Raw());
}

// Fits an exact result into the narrowest integer kind at or above `kind`,
// widening on overflow as the run-time does.
Variant FitInteger(double value, Kind kind) {
  if (kind <= kByte && value >= 0 && value <= 255) return Variant(static_cast<std::uint8_t>(value));
  if (kind <= kInteger && value >= -32768 && value <= 32767) return Variant(static_cast<std::int16_t>(value));
  if (kind <= kLong && value >= -2147483648.0 && value <= 2147483647.0)
    return Variant(static_cast<std::int32_t>(value));
  return Variant(value);
}

Variant Arithmetic(const Variant& a, const Variant& b, char op) {
  if (a.IsNull() || b.IsNull()) return Variant(Null);
  if (a.IsObject() || b.IsObject() || a.IsArray() || b.IsArray()) Raise(ERR_TypeMismatch);
  Kind ka = KindOf(a), kb = KindOf(b);
  if (op == '+' && ka == kString && (kb == kString || kb == kEmpty)) return Variant(a.String() + CStr(b));
  if (op == '+' && kb == kString && ka == kEmpty) return b;
  // Empty acts as the other operand's zero; strings read as Double.
  if (ka == kEmpty) ka = kb == kEmpty ? kInteger : kb;
  if (kb == kEmpty) kb = ka;
  if (ka == kString) ka = kDouble;
  if (kb == kString) kb = kDouble;
  Kind kind = std::max(ka, kb);
  if (kind == kSingle && (ka == kLong || kb == kLong)) kind = kDouble;
  const double x = CDbl(a), y = CDbl(b);
  double r = 0;
  switch (op) {
    case '+': r = x + y; break;
    case '-': r = x - y; break;
    case '*': r = x * y; break;
    case '/':
      if (y == 0) Raise(x == 0 ? ERR_Overflow : ERR_DivisionByZero);
      r = x / y;
      if (kind == kSingle) return Variant(static_cast<float>(r));
      return kind == kDate ? Variant(Date{r}) : Variant(r);
  }
  switch (kind) {
    case kByte:
    case kInteger:
    case kLong: return FitInteger(r, kind);
    case kSingle: return Variant(static_cast<float>(r));
    case kCurrency: return Variant(Currency{static_cast<std::int64_t>(std::llround(r * 10000.0))});
    case kDate: return Variant(Date{r});
    default: return Variant(r);
  }
}

Variant::ArrayBox Box(VariantArray array) {
  return {
      std::unique_ptr<VariantArray, Variant::ArrayDelete>(std::make_unique<VariantArray>(std::move(array)).release())};
}

}  // namespace

void Variant::ArrayDelete::operator()(VariantArray* array) const { std::default_delete<VariantArray>()(array); }

Variant::Variant(VariantArray v) : value_(Box(std::move(v))) {}

Variant::Variant(const Variant& other)
    : value_(std::visit(
          [](const auto& x) -> Storage {
            using T = std::decay_t<decltype(x)>;
            if constexpr (std::is_same_v<T, ArrayBox>) return Box(*x.Value);
            else return Storage(std::in_place_type<T>, x);
          },
          other.value_)) {}

Variant& Variant::operator=(const Variant& other) {
  if (this == &other) return *this;
  if (const auto* box = std::get_if<ArrayBox>(&other.value_)) {
    value_ = Box(*box->Value);
  } else {
    std::visit(
        [this](const auto& x) {
          using T = std::decay_t<decltype(x)>;
          if constexpr (!std::is_same_v<T, ArrayBox>) value_ = x;
        },
        other.value_);
  }
  return *this;
}

bool Variant::IsArray() const { return std::holds_alternative<ArrayBox>(value_); }

bool Variant::HoldsNumber() const {
  const Kind k = KindOf(*this);
  return k <= kCurrency;
}

bool Variant::IsNumeric() const {
  const Kind k = KindOf(*this);
  if (k <= kCurrency || k == kEmpty) return true;
  if (k == kString) {
    double ignored;
    return TryParseNumber(String(), ignored);
  }
  return false;
}

VbVarType Variant::VarType() const {
  switch (value_.index()) {
    case 0: return vbEmpty;
    case 1: return vbNull;
    case 2: return vbInteger;
    case 3: return vbLong;
    case 4: return vbSingle;
    case 5: return vbDouble;
    case 6: return vbCurrency;
    case 7: return vbDate;
    case 8: return vbString;
    case 9: return vbBoolean;
    case 10: return vbObject;
    case 11: return vbByte;
    default: return static_cast<VbVarType>(vbArray | Array().ElementType());
  }
}

namespace {
std::string ScalarTypeName(VbVarType type) {
  switch (type) {
    case vbEmpty: return "Empty";
    case vbNull: return "Null";
    case vbInteger: return "Integer";
    case vbLong: return "Long";
    case vbSingle: return "Single";
    case vbDouble: return "Double";
    case vbCurrency: return "Currency";
    case vbDate: return "Date";
    case vbString: return "String";
    case vbObject: return "Object";
    case vbBoolean: return "Boolean";
    case vbByte: return "Byte";
    default: return "Variant";
  }
}
}  // namespace

std::string Variant::TypeName() const {
  if (const auto* object = GetIf<ObjectPtr>()) {
    return *object ? (*object)->ClassName() : "Nothing";
  }
  if (IsArray()) return ScalarTypeName(Array().ElementType()) + "()";
  return ScalarTypeName(VarType());
}

const std::string& Variant::String() const {
  if (const auto* s = GetIf<std::string>()) return *s;
  Raise(ERR_TypeMismatch);
}

const ObjectPtr& Variant::ObjectRef() const {
  if (const auto* o = GetIf<ObjectPtr>()) return *o;
  Raise(ERR_TypeMismatch);
}

VariantArray& Variant::Array() {
  if (auto* box = std::get_if<ArrayBox>(&value_)) return *box->Value;
  Raise(ERR_TypeMismatch);
}

const VariantArray& Variant::Array() const {
  if (const auto* box = std::get_if<ArrayBox>(&value_)) return *box->Value;
  Raise(ERR_TypeMismatch);
}

Variant operator+(const Variant& a, const Variant& b) { return Arithmetic(a, b, '+'); }
Variant operator-(const Variant& a, const Variant& b) { return Arithmetic(a, b, '-'); }
Variant operator*(const Variant& a, const Variant& b) { return Arithmetic(a, b, '*'); }
Variant operator/(const Variant& a, const Variant& b) { return Arithmetic(a, b, '/'); }

int Compare(const Variant& a, const Variant& b, bool textCompare) {
  const Kind ka = KindOf(a), kb = KindOf(b);
  if (ka == kNull || kb == kNull) return (kb == kNull) - (ka == kNull);  // Null sorts first
  if (a.IsObject() || b.IsObject()) {
    if (a.IsObject() && b.IsObject()) {
      const auto pa = a.ObjectRef().get(), pb = b.ObjectRef().get();
      return pa == pb ? 0 : (std::less<>()(pa, pb) ? -1 : 1);
    }
    Raise(ERR_TypeMismatch);
  }
  if (a.IsArray() || b.IsArray()) Raise(ERR_TypeMismatch);
  const bool sa = ka == kString || (ka == kEmpty && kb == kString);
  const bool sb = kb == kString || (kb == kEmpty && ka == kString);
  if (sa && sb) {
    const std::string x = CStr(a), y = CStr(b);
    const int c = textCompare ? CompareIgnoringCase(x, y) : x.compare(y);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
  }
  if (sa || sb) {
    // A number against a string: numerically when the string reads as a number,
    // otherwise numbers sort before strings.
    double n;
    const std::string& text = sa ? a.String() : b.String();
    if (!TryParseNumber(text, n)) return sa ? 1 : -1;
  }
  const double x = CDbl(a), y = CDbl(b);
  return x < y ? -1 : (x > y ? 1 : 0);
}

bool operator==(const Variant& a, const Variant& b) {
  if (a.IsArray() || b.IsArray()) return a.IsArray() && b.IsArray() && a.Array() == b.Array();
  if (a.IsNull() || b.IsNull()) return a.IsNull() && b.IsNull();
  if (a.IsObject() != b.IsObject()) return false;
  return Compare(a, b) == 0;
}

}  // namespace qm

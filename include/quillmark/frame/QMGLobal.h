#pragma once
// QMGLobal: global helpers, callable without creating an object.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "quillmark/Export.h"
#include "quillmark/values/Object.h"
#include "quillmark/values/Variant.h"

namespace qm {

/// Global helpers, callable without creating an object.
class QUILLMARK_EXPORT QMGLobal {
 public:
  QMGLobal() = delete;

  /// v becomes v + i (the Variant addition: numbers widen, strings join).
  /// Without i, adds the Integer 1.
  static void Inc(Variant& v, const std::optional<Variant>& i = std::nullopt);

  /// True exactly when `o` holds no object.
  static Variant IsNothing(const std::shared_ptr<Object>& o);

  /// 0-based index of the first entry whose `List(i)` equals ToFind
  /// (case-sensitive), -1 when none. List offers `ListCount` and `List(i)`.
  static std::int32_t FindListText(const std::shared_ptr<Object>& List, const std::string& ToFind);

  /// The same search over `ItemData(i)`.
  static std::int32_t FindListItem(const std::shared_ptr<Object>& List, std::int32_t ToFind);

  /// Raises 11000 (ERR_ASSERTION) with ErrorWhenFalse when Condition is false.
  static void Assert(bool Condition, const std::string& ErrorWhenFalse);
};

}  // namespace qm

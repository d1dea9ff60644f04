#pragma once

/// @file
/// One section of the per-user settings store, over standard types.
///
///     qm::SettingsSection window("Invoicer", "Window");
///     window.Set("Width", 800);
///     const double width = window.GetNumber("Width", 640);
///
/// Reads and writes go to the store that qm::GetSetting, qm::SaveSetting and
/// qm::DeleteSetting (quillmark/runtime/Settings.h) use, through the same
/// engine, so they share its file and its errors with every other user.

#include <string>
#include <string_view>
#include <type_traits>

#include "quillmark/Export.h"

namespace qm {

/// One section of one application's settings; reads and writes name keys within it.
class QUILLMARK_EXPORT SettingsSection {
 public:
  /// The section `section` of the application `app`.
  SettingsSection(std::string app, std::string section) : app_(std::move(app)), section_(std::move(section)) {}

  const std::string& App() const { return app_; }          ///< The application's name, as given.
  const std::string& Section() const { return section_; }  ///< The section's name, as given.

  /// The value of `key`, or `fallback` when the key has none.
  std::string Get(const std::string& key, const std::string& fallback = {}) const;
  /// The value of `key` read as a number (the persistence records' form, "."
  /// as decimal point), or `fallback` when the key has none; 13 "Type
  /// mismatch: key '<key>' holds no number" when the stored text is no
  /// number. Errors of the store name the key too.
  double GetNumber(const std::string& key, double fallback) const;

  /// Stores `value` under `key`.
  void Set(const std::string& key, std::string_view value);
  /// Stores the number in the form GetNumber reads ("." as decimal point, up
  /// to 15 significant digits, shortest form).
  template <class Number>
  requires std::is_arithmetic_v<Number>
  void Set(const std::string& key, Number value) { SetNumber(key, static_cast<double>(value)); }

  /// Deletes `key`.
  void Remove(const std::string& key);
  /// Deletes the whole section.
  void RemoveAll();

 private:
  void SetNumber(const std::string& key, double value);

  std::string app_;
  std::string section_;
};

}  // namespace qm

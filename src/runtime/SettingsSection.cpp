#include "quillmark/runtime/SettingsSection.h"

#include <charconv>

#include "quillmark/errors/ErrorNumbers.h"
#include "quillmark/frame/Frame.h"
#include "quillmark/runtime/Settings.h"
#include "quillmark/values/Conversions.h"

namespace qm {

std::string SettingsSection::Get(const std::string& key, const std::string& fallback) const {
  return GetSetting(app_, section_, key, fallback);
}

double SettingsSection::GetNumber(const std::string& key, double fallback) const {
  const std::string text = Trim(GetSetting(app_, section_, key));
  if (text.empty()) return fallback;
  double value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (error != std::errc() || stop != end)
    RaiseFrom(ERR_TypeMismatch, frame::DefaultSource("SettingsSection"),
              std::string(StandardErrorText(ERR_TypeMismatch)));
  return value;
}

void SettingsSection::Set(const std::string& key, std::string_view value) {
  SaveSetting(app_, section_, key, std::string(value));
}

void SettingsSection::SetNumber(const std::string& key, double value) {
  Set(key, std::string_view(Trim(WriteInvariantNumber(value))));
}

void SettingsSection::Remove(const std::string& key) { DeleteSetting(app_, section_, key); }

void SettingsSection::RemoveAll() { DeleteSetting(app_, section_); }

}  // namespace qm

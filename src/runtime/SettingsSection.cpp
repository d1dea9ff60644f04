#include "quillmark/runtime/SettingsSection.h"

#include <charconv>

#include "frame/FileErrors.h"
#include "quillmark/errors/ErrorNumbers.h"
#include "quillmark/frame/Frame.h"
#include "quillmark/values/Conversions.h"
#include "runtime/SettingsStore.h"

namespace qm {

namespace {

// Runs `work` on `key` (or a section); an error it raises names it.
template <class Work>
decltype(auto) OnKey(const std::string& key, Work&& work, std::string_view label = "key") {
  try {
    return work();
  } catch (...) {
    frame::RethrowNaming(key, label);
  }
}

}  // namespace

std::string SettingsSection::Get(const std::string& key, const std::string& fallback) const {
  return OnKey(key, [&] { return settings::Read(app_, section_, key).value_or(fallback); });
}

double SettingsSection::GetNumber(const std::string& key, double fallback) const {
  const std::string text = Trim(Get(key));
  if (text.empty()) return fallback;
  double value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (error != std::errc() || stop != end)
    RaiseFrom(ERR_TypeMismatch, frame::DefaultSource("SettingsSection"),
              std::string(StandardErrorText(ERR_TypeMismatch)) + ": key " + frame::Quoted(key) + " holds no number");
  return value;
}

void SettingsSection::Set(const std::string& key, std::string_view value) {
  OnKey(key, [&] { settings::Write(app_, section_, key, value); });
}

void SettingsSection::SetNumber(const std::string& key, double value) {
  Set(key, std::string_view(Trim(WriteInvariantNumber(value))));
}

void SettingsSection::Remove(const std::string& key) {
  OnKey(key, [&] { settings::Remove(app_, section_, key); });
}

void SettingsSection::RemoveAll() {
  OnKey(
      section_, [&] { settings::RemoveSection(app_, section_); }, "section");
}

}  // namespace qm

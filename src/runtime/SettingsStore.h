#pragma once
// The settings store's engine, over string views: what GetSetting,
// SaveSetting and DeleteSetting (published, quillmark/runtime/Settings.h)
// and SettingsSection (typed) both run on. Every call is one read or one
// committed transaction on the process's connection (Settings.cpp), and
// raises 75 (Path/File access error) naming the store's file when the store
// cannot be used; the callers add what they name to that.

#include <optional>
#include <string>
#include <string_view>

namespace qm::settings {

/// The value stored under `app`, `section` and `key`; nothing when there is none.
std::optional<std::string> Read(std::string_view app, std::string_view section, std::string_view key);
/// Stores `value` under `app`, `section` and `key`, replacing a value there.
void Write(std::string_view app, std::string_view section, std::string_view key, std::string_view value);
/// Deletes the value under `app`, `section` and `key`, if any.
void Remove(std::string_view app, std::string_view section, std::string_view key);
/// Deletes every value of `app`'s `section`.
void RemoveSection(std::string_view app, std::string_view section);

}  // namespace qm::settings

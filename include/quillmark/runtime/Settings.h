#pragma once
// The per-user settings store: string values addressed by application,
// section and key, kept in an SQLite database at
// $XDG_CONFIG_HOME/quillmark/settings.db (default ~/.config/quillmark).
// Concurrent processes never lose a write; a killed writer never corrupts it.

#include <optional>
#include <string>

namespace qm {

std::string GetSetting(const std::string& AppName, const std::string& Section, const std::string& Key,
                       const std::string& Default = {});
void SaveSetting(const std::string& AppName, const std::string& Section, const std::string& Key,
                 const std::string& Setting);
/// Deletes one key, or the whole section when Key is not given.
void DeleteSetting(const std::string& AppName, const std::string& Section,
                   const std::optional<std::string>& Key = std::nullopt);

/// The database file in use.
std::string SettingsStorePath();

}  // namespace qm

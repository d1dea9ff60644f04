#pragma once
// The per-user settings store: string values addressed by application,
// section and key, kept in an SQLite database at
// $XDG_CONFIG_HOME/quillmark/settings.db (default ~/.config/quillmark).
// Concurrent processes never lose a write; a killed writer never corrupts it.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "quillmark/Export.h"

namespace qm {

/// The value stored under application, section and key, or Default when there
/// is none; 75 (Path/File access error) when the store cannot be read.
QUILLMARK_EXPORT std::string GetSetting(const std::string& AppName, const std::string& Section, const std::string& Key,
                                        const std::string& Default = {});
/// Stores Setting under application, section and key, replacing a value there,
/// in one committed step; 75 when the store cannot be written.
QUILLMARK_EXPORT void SaveSetting(const std::string& AppName, const std::string& Section, const std::string& Key,
                                  const std::string& Setting);
/// Deletes one key, or the whole section when Key is not given.
QUILLMARK_EXPORT void DeleteSetting(const std::string& AppName, const std::string& Section,
                                    const std::optional<std::string>& Key = std::nullopt);

/// The database file in use.
QUILLMARK_EXPORT std::string SettingsStorePath();

/// Tells, for the cost of comparing a few bytes of shared memory, whether
/// anyone (this process or another, through any connection) may have
/// committed a change to the store since this watch last answered true. A
/// caller keeps a value read from the store and reads it again only then.
/// The store commits through SQLite's write-ahead log, whose shared index
/// (the "-shm" file beside the database) has its header rewritten by every
/// commit; the watch compares it with a copy, in the shared memory that
/// SQLite itself maps for the store's connection (the library never opens
/// SQLite's files itself) while the store's connection is open; when the
/// store closes it (before a fork, or for a database created anew) the next
/// call answers true. Where there is no such index, every call answers true.
/// A change of the environment that moves the store (XDG_CONFIG_HOME, HOME)
/// answers true at the next call (entries are compared by address: only text
/// rewritten in place in a buffer given to putenv goes unseen). A database
/// that another process deletes and creates anew while this one runs is read
/// (and written) from its new file at the next settings call, after which
/// the watch compares the new file's index. One watch serves one thread.
class QUILLMARK_EXPORT SettingsWatch {
 public:
  SettingsWatch();
  ~SettingsWatch();
  SettingsWatch(const SettingsWatch&) = delete;
  SettingsWatch& operator=(const SettingsWatch&) = delete;

  /// True the first time, and whenever the store may have changed since the
  /// last true; read the value after the call, not before it.
  bool Changed();
  /// Makes the next Changed() true (for a caller whose read failed).
  void Forget();

 private:
  // The store's head as last seen and where the store's folder came from,
  // defined in the library's sources.
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace qm

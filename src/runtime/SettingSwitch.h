#pragma once
// A yes/no setting asked very often and from any thread: the logging switch,
// asked before every log line. The answer is kept with what the store looked
// like when it was read (the head of SQLite's shared write-ahead-log index,
// the tag under which the store's connection lends that head, the
// environment entries that place the store); asking compares those, a few
// loads with no lock and no system call, and reads the store again only
// when one of them differs. A commit by any connection of any process
// rewrites that head, so it shows at the next ask. The head is compared
// only while the store lends it (Settings.cpp): a connection the store has
// superseded or closed (another file, a fork) lends nothing, and the next
// ask reads the store.
//
// The kept state is published under a sequence count (a seqlock): a reader
// that overlaps a refresh sees the count change and refreshes itself. One
// thread publishes at a time; the mark it holds names its process, so that
// a child forked mid-refresh takes the mark over and keeps publishing. The
// object is constant-initialised and trivially destructible, so that it can
// be asked at any time of a process's life, static destructors included.

#include <sys/types.h>

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace qm::detail {

class SettingSwitch {
 public:
  /// The setting `app`/`section`/`key` is on when it equals `on` without
  /// regard to case. The views must outlive the object (literals do).
  constexpr SettingSwitch(std::string_view app, std::string_view section, std::string_view key, std::string_view on)
      : app_(app), section_(section), key_(key), on_(on) {}
  SettingSwitch(const SettingSwitch&) = delete;
  SettingSwitch& operator=(const SettingSwitch&) = delete;

  /// The setting as the store holds it now.
  bool On();

 private:
  static constexpr std::size_t kWords = 6;  // the index head's first copy: 48 bytes

  bool Refresh();

  std::string_view app_, section_, key_, on_;
  std::atomic<pid_t> refresher_{0};         // the process whose thread refreshes now; 0: none
  std::atomic<std::uint32_t> sequence_{0};  // odd while the state below is written
  std::atomic<std::uint64_t> tag_{0};       // the lent head compared; 0: never read, or no index (read at every ask)
  std::array<std::atomic<std::uint64_t>, kWords> seen_{};
  std::atomic<char**> environment_{nullptr};
  std::atomic<std::size_t> environmentSize_{0};
  std::array<std::atomic<std::size_t>, 2> slots_{};  // of XDG_CONFIG_HOME and HOME; -1 when unset
  std::array<std::atomic<const char*>, 2> entries_{};
  std::atomic<bool> value_{false};
};

/// Closes the settings store's connections, each once no switch or watch
/// compares its index head; the next call opens one again. Done before every
/// fork, so that no connection is carried into the child; tests use it to
/// start from a new connection.
void CloseSettingsConnections();

}  // namespace qm::detail

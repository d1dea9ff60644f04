#include "quillmark/runtime/Settings.h"

#include <pthread.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

#include "quillmark/errors/Error.h"
#include "quillmark/errors/ErrorNumbers.h"
#include "quillmark/values/Text.h"
#include "runtime/SettingSwitch.h"

namespace qm {

namespace detail {
// The environment array, its length, and the slot and address of the
// entries the store's folder comes from (XDG_CONFIG_HOME, HOME).
struct SettingsPlace {
  char** Environment = nullptr;
  std::size_t Size = 0;
  std::size_t Slots[2] = {};
  const char* Entries[2] = {};
};
}  // namespace detail

namespace {

constexpr int kBusyTimeoutMs = 30000;

[[noreturn]] void RaiseStore(sqlite3* db, const char* what) {
  std::string text = "Settings store: ";
  text += what;
  if (db) {
    text += ": ";
    text += sqlite3_errmsg(db);
  }
  Raise(ERR_PathFileAccess, text);
}

struct DbCloser {
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
struct StmtFinalizer {
  void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
};
using Statement = std::unique_ptr<sqlite3_stmt, StmtFinalizer>;

// One open database: its path and file identity, and the head of its shared
// write-ahead-log index as SQLite itself maps it for the connection (null:
// none to watch).
struct OpenDatabase {
  std::unique_ptr<sqlite3, DbCloser> Db;
  std::string Path;
  std::pair<dev_t, ino_t> File{0, 0};
  const unsigned char* Header = nullptr;
};

// The store's connections: opened on first use, again in a child process
// after fork, and once for each database the environment has placed the
// store at. None is ever closed while the process runs, and the store itself
// is never destroyed: the index head a watch or a switch compares without a
// lock belongs to the connection's mapping, which must outlive every reader,
// static destructors and threads still running at exit included. The
// connection for a place met again is used again, so their number is that of
// the distinct databases the process has used.
struct Store {
  std::mutex Lock;
  pid_t Owner = 0;
  OpenDatabase* Current = nullptr;
  std::vector<std::unique_ptr<OpenDatabase>> Open;
};

// Built in place once and never destroyed (see Store). Its lock is taken
// around fork, so that a child never finds it held by a thread it does not
// have (the child then opens connections of its own).
Store& TheStore() {
  alignas(Store) static unsigned char room[sizeof(Store)];
  static Store* const store = [] {
    Store* made = ::new (room) Store();
    ::pthread_atfork([] { TheStore().Lock.lock(); }, [] { TheStore().Lock.unlock(); },
                     [] { TheStore().Lock.unlock(); });
    return made;
  }();
  return *store;
}

// Counts the connections taken into use, so that a watch notices a new one.
// Apart from the store and constant-initialised: asking it takes no guard.
constinit std::atomic<std::uint64_t> connections{1};

void Exec(sqlite3* db, const char* sql) {
  char* message = nullptr;
  if (sqlite3_exec(db, sql, nullptr, nullptr, &message) != SQLITE_OK) {
    std::string text = message ? message : "error";
    sqlite3_free(message);
    Raise(ERR_PathFileAccess, "Settings store: " + text);
  }
}

// The head of the write-ahead-log index of the connection's main database,
// reached through SQLite's own file object: the first region of the shared
// memory that SQLite mapped for the connection and keeps mapped while it is
// open. The library never opens, maps or closes any file of SQLite's itself:
// POSIX record locks belong to the process, and closing any descriptor of
// the "-shm" file would drop the locks SQLite holds on it. Null when the
// file has no shared-memory methods or no index (not in WAL mode).
const unsigned char* SharedIndexHead(sqlite3* db) {
  sqlite3_file* file = nullptr;
  if (sqlite3_file_control(db, "main", SQLITE_FCNTL_FILE_POINTER, &file) != SQLITE_OK || !file || !file->pMethods ||
      file->pMethods->iVersion < 2 || !file->pMethods->xShmMap)
    return nullptr;
  volatile void* region = nullptr;
  constexpr int kRegionBytes = 32768;  // SQLite's size of an index region
  if (file->pMethods->xShmMap(file, 0, kRegionBytes, 0, &region) != SQLITE_OK) return nullptr;
  return static_cast<const unsigned char*>(const_cast<const void*>(region));
}

Statement Prepare(sqlite3* db, const char* sql) {
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(db, sql, -1, &raw, nullptr) != SQLITE_OK) RaiseStore(db, "cannot prepare a statement");
  return Statement(raw);
}

// Puts the database in write-ahead-log mode; false when it stays in another
// mode (the pragma answers with the mode in force).
bool JournalIsWal(sqlite3* db) {
  Statement s = Prepare(db, "PRAGMA journal_mode=WAL");
  const int rc = sqlite3_step(s.get());
  if (rc != SQLITE_ROW) RaiseStore(db, "cannot choose the journal");
  const auto* mode = reinterpret_cast<const char*>(sqlite3_column_text(s.get(), 0));
  return mode && std::string_view(mode) == "wal";
}

// The database file's identity; {0, 0} when there is none.
std::pair<dev_t, ino_t> FileIdentity(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return {0, 0};
  return {info.st_dev, info.st_ino};
}

std::unique_ptr<OpenDatabase> OpenStore(const std::string& path) {
  std::error_code ec;
  std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
  sqlite3* raw = nullptr;
  const int rc =
      sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX, nullptr);
  std::unique_ptr<sqlite3, DbCloser> db(raw);
  if (rc != SQLITE_OK) RaiseStore(raw, "cannot open the database");
  sqlite3_busy_timeout(db.get(), kBusyTimeoutMs);
  const bool wal = JournalIsWal(db.get());
  Exec(db.get(), "PRAGMA synchronous=NORMAL");
  Exec(db.get(),
       "CREATE TABLE IF NOT EXISTS settings (app TEXT NOT NULL, section TEXT NOT NULL, key TEXT NOT NULL,"
       " value TEXT NOT NULL, PRIMARY KEY (app, section, key))");
  auto open = std::make_unique<OpenDatabase>();
  open->Header = wal ? SharedIndexHead(db.get()) : nullptr;  // without the log's index, every ask reads
  open->Db = std::move(db);
  open->Path = path;
  open->File = FileIdentity(path);
  return open;
}

sqlite3* Connection(Store& store) {
  const std::string path = SettingsStorePath();
  const pid_t self = getpid();
  if (store.Owner != self) {
    // Inherited across fork: SQLite forbids using these connections here, and
    // closing them would drop locks; they are let go without a word (their
    // mappings stay, so that readers holding a head still read mapped memory).
    for (auto& open : store.Open) (void)open.release();
    store.Open.clear();
    store.Current = nullptr;
    store.Owner = self;
  }
  // A database another process deleted (and perhaps created anew) is left
  // for the file now at the path: the old one would neither show nor take
  // what is written.
  const auto identity = FileIdentity(path);
  if (store.Current && store.Current->Path == path && identity == store.Current->File) return store.Current->Db.get();
  OpenDatabase* found = nullptr;
  for (const auto& open : store.Open)
    if (open->Path == path && open->File == identity && identity != std::pair<dev_t, ino_t>{0, 0}) found = open.get();
  if (!found) {
    store.Open.reserve(store.Open.size() + 1);
    store.Open.push_back(OpenStore(path));
    found = store.Open.back().get();
  }
  store.Current = found;
  connections.fetch_add(1, std::memory_order_release);
  return found->Db.get();
}

void Bind(sqlite3_stmt* s, int at, const std::string& text) {
  sqlite3_bind_text(s, at, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

// Runs one write in its own immediate transaction.
void Write(const char* sql, std::initializer_list<const std::string*> values) {
  Store& store = TheStore();
  std::lock_guard lock(store.Lock);
  sqlite3* db = Connection(store);
  Exec(db, "BEGIN IMMEDIATE");
  try {
    Statement s = Prepare(db, sql);
    int at = 1;
    for (const auto* v : values) Bind(s.get(), at++, *v);
    if (sqlite3_step(s.get()) != SQLITE_DONE) RaiseStore(db, "cannot write");
    Exec(db, "COMMIT");
  } catch (...) {
    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
}

}  // namespace

std::string SettingsStorePath() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  std::filesystem::path base;
  if (config && *config) {
    base = config;
  } else {
    const char* home = std::getenv("HOME");
    base = std::filesystem::path(home && *home ? home : "/tmp") / ".config";
  }
  return (base / "quillmark" / "settings.db").string();
}

std::string GetSetting(const std::string& AppName, const std::string& Section, const std::string& Key,
                       const std::string& Default) {
  Store& store = TheStore();
  std::lock_guard lock(store.Lock);
  sqlite3* db = Connection(store);
  Statement s = Prepare(db, "SELECT value FROM settings WHERE app = ?1 AND section = ?2 AND key = ?3");
  Bind(s.get(), 1, AppName);
  Bind(s.get(), 2, Section);
  Bind(s.get(), 3, Key);
  const int rc = sqlite3_step(s.get());
  if (rc == SQLITE_ROW) {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(s.get(), 0));
    return std::string(text ? text : "", static_cast<std::size_t>(sqlite3_column_bytes(s.get(), 0)));
  }
  if (rc != SQLITE_DONE) RaiseStore(db, "cannot read");
  return Default;
}

void SaveSetting(const std::string& AppName, const std::string& Section, const std::string& Key,
                 const std::string& Setting) {
  Write(
      "INSERT INTO settings (app, section, key, value) VALUES (?1, ?2, ?3, ?4)"
      " ON CONFLICT (app, section, key) DO UPDATE SET value = excluded.value",
      {&AppName, &Section, &Key, &Setting});
}

void DeleteSetting(const std::string& AppName, const std::string& Section, const std::optional<std::string>& Key) {
  if (Key) {
    Write("DELETE FROM settings WHERE app = ?1 AND section = ?2 AND key = ?3", {&AppName, &Section, &*Key});
  } else {
    Write("DELETE FROM settings WHERE app = ?1 AND section = ?2", {&AppName, &Section});
  }
}

namespace {
// The header compared word by word, inline: cheaper than a call to memcmp.
template <std::size_t N>
bool SameBytes(const unsigned char* a, const unsigned char* b) {
  std::uint64_t differ = 0;
  for (std::size_t i = 0; i < N; i += 8) {
    std::uint64_t x, y;
    std::memcpy(&x, a + i, 8);
    std::memcpy(&y, b + i, 8);
    differ |= x ^ y;
  }
  return differ == 0;
}

// The environment the store's folder comes from (XDG_CONFIG_HOME, HOME),
// marked by the array, its length and the two entries with their slots, so
// that the watch notices a change without a search of the environment.
// Entries are compared by address: setenv and putenv put a new string in
// the slot for a new value (the C library never rewrites one it made), so
// only text changed in place in a buffer given to putenv goes unseen.
constexpr std::size_t kAbsent = static_cast<std::size_t>(-1);
constexpr const char* kPlaceVariables[2] = {"XDG_CONFIG_HOME=", "HOME="};

detail::SettingsPlace TakePlace() {
  detail::SettingsPlace place;
  place.Environment = environ;
  place.Slots[0] = place.Slots[1] = kAbsent;
  for (std::size_t i = 0; environ && environ[i]; ++i, place.Size = i) {
    for (std::size_t v = 0; v < 2; ++v) {
      const char* name = kPlaceVariables[v];
      if (place.Slots[v] == kAbsent && std::strncmp(environ[i], name, std::strlen(name)) == 0) {
        place.Slots[v] = i;
        place.Entries[v] = environ[i];
      }
    }
  }
  return place;
}

// Setting or removing a variable replaces, moves or appends entries, or
// replaces the array; each shows here.
bool SamePlace(const detail::SettingsPlace& place) {
  if (!environ || environ != place.Environment || environ[place.Size]) return false;
  for (std::size_t v = 0; v < 2; ++v)
    if (place.Slots[v] != kAbsent && environ[place.Slots[v]] != place.Entries[v]) return false;
  return true;
}

// How the store looks now: the environment that places it, the connection
// (opened there if need be), the head of its shared index (null: none),
// copied into `seen`. Taken before the caller reads the store, so that a
// commit after it shows as a difference at the next comparison.
struct StoreLook {
  detail::SettingsPlace Place;
  const unsigned char* Header = nullptr;
  std::uint64_t Generation = 0;
};

template <std::size_t N>
StoreLook LookAtStore(unsigned char (&seen)[N]) {
  Store& store = TheStore();
  std::lock_guard lock(store.Lock);
  StoreLook look{TakePlace()};
  Connection(store);
  look.Header = store.Current->Header;
  look.Generation = connections.load(std::memory_order_relaxed);
  if (look.Header) std::memcpy(seen, look.Header, N);
  return look;
}
}  // namespace

SettingsWatch::SettingsWatch() : place_(std::make_unique<detail::SettingsPlace>()) {}
SettingsWatch::~SettingsWatch() = default;

bool SettingsWatch::Changed() {
  if (header_ && generation_ == connections.load(std::memory_order_acquire) &&
      SameBytes<kHeaderBytes>(header_, seen_) && SamePlace(*place_))
    return false;
  const StoreLook look = LookAtStore(seen_);
  *place_ = look.Place;
  header_ = look.Header;
  generation_ = look.Generation;
  return true;
}

// ---- the switch ----

namespace detail {

static_assert(std::is_trivially_destructible_v<SettingSwitch>, "a switch must stay usable in static destructors");

// Everything is loaded first and compared only once the sequence count shows
// that no refresh overlapped the loads: a torn state never indexes environ.
bool SettingSwitch::On() {
  const std::uint32_t before = sequence_.load(std::memory_order_acquire);
  const std::uint64_t generation = generation_.load(std::memory_order_relaxed);
  const unsigned char* header = header_.load(std::memory_order_relaxed);
  // Word by word against the mapped head (a mapping is never let go).
  std::uint64_t differ = header ? 0 : 1;
  if (header) {
    for (std::size_t w = 0; w < kWords; ++w) {
      std::uint64_t now;
      std::memcpy(&now, header + 8 * w, 8);
      differ |= now ^ seen_[w].load(std::memory_order_relaxed);
    }
  }
  char** const environment = environment_.load(std::memory_order_relaxed);
  const std::size_t size = environmentSize_.load(std::memory_order_relaxed);
  const std::size_t slots[2] = {slots_[0].load(std::memory_order_relaxed), slots_[1].load(std::memory_order_relaxed)};
  const char* const entries[2] = {entries_[0].load(std::memory_order_relaxed),
                                  entries_[1].load(std::memory_order_relaxed)};
  const bool value = value_.load(std::memory_order_relaxed);
  std::atomic_thread_fence(std::memory_order_acquire);
  if (differ || (before & 1) != 0 || sequence_.load(std::memory_order_relaxed) != before ||
      generation != connections.load(std::memory_order_acquire))
    return Refresh();
  if (!SamePlace({environment, size, {slots[0], slots[1]}, {entries[0], entries[1]}})) return Refresh();
  return value;
}

// The store's look is taken before the value is read: a commit in between
// shows as a difference at the next ask. A failed read publishes nothing.
bool SettingSwitch::Refresh() {
  // One refresh at a time. A thread that cannot have the lock (another
  // refreshes, or a parent's thread held it at a fork) reads the store
  // itself and answers without publishing.
  std::unique_lock mine(refresh_, std::try_to_lock);
  if (!mine.owns_lock())
    return EqualsIgnoringCase(GetSetting(std::string(app_), std::string(section_), std::string(key_), ""), on_);
  unsigned char seen[kWords * 8] = {};
  const StoreLook look = LookAtStore(seen);
  const bool value =
      EqualsIgnoringCase(GetSetting(std::string(app_), std::string(section_), std::string(key_), ""), on_);

  const std::uint32_t count = sequence_.load(std::memory_order_relaxed);
  sequence_.store(count + 1, std::memory_order_relaxed);
  std::atomic_thread_fence(std::memory_order_release);
  generation_.store(look.Generation, std::memory_order_relaxed);
  header_.store(look.Header, std::memory_order_relaxed);
  for (std::size_t w = 0; w < kWords; ++w) {
    std::uint64_t word;
    std::memcpy(&word, seen + 8 * w, 8);
    seen_[w].store(word, std::memory_order_relaxed);
  }
  environment_.store(look.Place.Environment, std::memory_order_relaxed);
  environmentSize_.store(look.Place.Size, std::memory_order_relaxed);
  for (std::size_t v = 0; v < 2; ++v) {
    slots_[v].store(look.Place.Slots[v], std::memory_order_relaxed);
    entries_[v].store(look.Place.Entries[v], std::memory_order_relaxed);
  }
  value_.store(value, std::memory_order_relaxed);
  sequence_.store(count + 2, std::memory_order_release);
  return value;
}

}  // namespace detail

}  // namespace qm

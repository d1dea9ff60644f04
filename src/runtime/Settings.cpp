#include "quillmark/runtime/Settings.h"

#include <pthread.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <string_view>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

#include "io/Executor.h"
#include "io/System.h"
#include "quillmark/errors/Error.h"
#include "quillmark/errors/ErrorNumbers.h"
#include "quillmark/values/Text.h"
#include "runtime/SettingSwitch.h"
#include "runtime/SettingsStore.h"

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

[[noreturn]] void RaiseStore(const std::string& path, sqlite3* db, const std::string& what) {
  std::string text = "Settings store " + path + ": " + what;
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

// ---- index heads lent to readers without the store's lock ----
//
// The head of SQLite's shared write-ahead-log index lives in memory that
// SQLite maps for one connection and unmaps when that connection closes. A
// switch or a watch compares it without the store's lock, so an open
// connection lends its head through a slot: a reader counts itself in,
// checks that the slot still lends the connection it read through before
// (the tag it kept), compares, and counts itself out. The store takes a
// superseded connection out of its slot (tag 0) first and closes it once
// the slot's count is 0, at once or at a later call. The slots are
// constant-initialised and never destroyed: asking stays safe in static
// destructors and in threads still running at exit.
constexpr std::uint64_t kSlots = 8;

struct alignas(64) HeadSlot {
  std::atomic<std::uint64_t> Tag{0};  // serial * kSlots + slot of the connection lent here; 0: none
  std::atomic<const unsigned char*> Head{nullptr};
  std::atomic<std::uint32_t> Readers{0};
};
constinit std::array<HeadSlot, kSlots> slots;

// Runs `same(head)` on the head lent under `tag` while counted in; false
// when `tag` lends nothing now (the reader then reads the store).
template <class Same>
bool HeadIsSame(std::uint64_t tag, Same same) {
  if (tag == 0) return false;
  HeadSlot& slot = slots[tag % kSlots];
  const std::uint64_t generation = io::Executor::Generation();
  slot.Readers.fetch_add(1, std::memory_order_seq_cst);
  const bool answer =
      slot.Tag.load(std::memory_order_seq_cst) == tag && same(slot.Head.load(std::memory_order_relaxed));
  // A signal handler that forked meanwhile left this thread in a child,
  // whose counts start at 0: counting out there would wrap the count.
  if (io::Executor::Generation() == generation) slot.Readers.fetch_sub(1, std::memory_order_release);
  return answer;
}

// One open database: its path and file identity, and the slot that lends
// its index head (kSlots: none).
struct OpenDatabase {
  std::unique_ptr<sqlite3, DbCloser> Db;
  std::string Path;
  std::pair<dev_t, ino_t> File{0, 0};
  std::uint64_t Slot = kSlots;
  const unsigned char* Head = nullptr;
  std::uint64_t Tag = 0;
};

// The store: one connection in use, opened on first use, and those it
// superseded while a reader still compared their heads. SQLite forbids
// carrying a connection across fork (the child's new connections would
// share the parent's lock bookkeeping, and their locks would never reach
// the kernel), so every connection is closed before a fork, under the
// store's lock, and each process opens its own at its next call.
struct Store {
  std::mutex Lock;
  pid_t Owner = 0;
  std::optional<OpenDatabase> Current;
  std::vector<OpenDatabase> Retired;  // never more than kSlots: one per lending slot
  std::uint64_t Serial = 0;
  // A connection was carried into this process and let go unclosed: SQLite's
  // lock bookkeeping for the file is then shared with the parent, and a new
  // connection's locks would not reach the kernel.
  bool Carried = false;
  // The database file of the connection being opened was deleted or
  // replaced while it was set up (set by OpenStore, read by Run).
  bool MovedWhileOpening = false;
};

void BeforeFork();
void AfterForkInParent();
void AfterForkInChild();

// Built in place once and never destroyed, so that a static destructor or a
// thread still running at exit finds it whole.
Store& TheStore() {
  alignas(Store) static unsigned char room[sizeof(Store)];
  static Store* const store = [] {
    Store* made = ::new (room) Store();
    made->Owner = ::getpid();
    made->Retired.reserve(kSlots);
    ::pthread_atfork(&BeforeFork, &AfterForkInParent, &AfterForkInChild);
    return made;
  }();
  return *store;
}

// Closes each superseded connection that no reader compares through now.
void Sweep(Store& store) {
  std::erase_if(store.Retired, [](OpenDatabase& open) {
    HeadSlot& slot = slots[open.Slot];
    if (slot.Readers.load(std::memory_order_seq_cst) != 0) return false;
    open.Db.reset();  // SQLite unmaps the index here
    slot.Head.store(nullptr, std::memory_order_relaxed);
    return true;
  });
}

// Takes the connection in use out of use: no reader reaches its head from
// now on, and it is closed at once or, while a reader still compares, by a
// later Sweep.
void Retire(Store& store) {
  if (!store.Current) return;
  if (store.Current->Slot < kSlots) {
    slots[store.Current->Slot].Tag.store(0, std::memory_order_seq_cst);
    store.Retired.push_back(std::move(*store.Current));  // within the reserved room
  }
  store.Current.reset();
  Sweep(store);
}

// Lets the connections go without closing them, in a process that did not
// open them (forked without the store's handlers, or with a reader that
// never let go): SQLite forbids closing them there. Their mappings stay.
void Abandon(Store& store) {
  store.Carried = store.Carried || store.Current || !store.Retired.empty();
  if (store.Current) (void)store.Current->Db.release();
  store.Current.reset();
  for (OpenDatabase& open : store.Retired) (void)open.Db.release();
  store.Retired.clear();
  for (HeadSlot& slot : slots) slot.Tag.store(0, std::memory_order_relaxed);
  store.Owner = ::getpid();
}

// Every connection is closed before a fork. Readers are counted in only for
// a few loads; one that stays longer (a stopped thread, or this thread
// interrupted by the signal that forks) is waited for at most a second, and
// the child then lets its connection go unclosed.
void BeforeFork() {
  Store& store = TheStore();
  store.Lock.lock();
  if (store.Owner != ::getpid()) return;
  Retire(store);
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(1);
  while (!store.Retired.empty() && std::chrono::steady_clock::now() < until) {
    std::this_thread::yield();
    Sweep(store);
  }
}

void AfterForkInParent() { TheStore().Lock.unlock(); }

void AfterForkInChild() {
  Store& store = TheStore();
  // Only this thread runs here: a count left by a parent's thread is void.
  for (HeadSlot& slot : slots) slot.Readers.store(0, std::memory_order_relaxed);
  Abandon(store);
  store.Lock.unlock();
}

// The connection's own message is the one sqlite3_exec would copy out; not
// asking for the copy spares a sqlite3_free, whose closing mutex release
// SQLite makes as a tail call: under ThreadSanitizer, which ignores SQLite's
// own calls, that release would look like ours, of a mutex never taken.
void Exec(const std::string& path, sqlite3* db, const char* sql) {
  if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK) RaiseStore(path, nullptr, sqlite3_errmsg(db));
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

Statement Prepare(const std::string& path, sqlite3* db, const char* sql) {
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(db, sql, -1, &raw, nullptr) != SQLITE_OK) RaiseStore(path, db, "cannot prepare a statement");
  return Statement(raw);
}

// Puts the database in write-ahead-log mode; false when it stays in another
// mode (the pragma answers with the mode in force).
bool JournalIsWal(const std::string& path, sqlite3* db) {
  Statement s = Prepare(path, db, "PRAGMA journal_mode=WAL");
  const int rc = sqlite3_step(s.get());
  if (rc != SQLITE_ROW) RaiseStore(path, db, "cannot choose the journal");
  const auto* mode = reinterpret_cast<const char*>(sqlite3_column_text(s.get(), 0));
  return mode && std::string_view(mode) == "wal";
}

// Whether the connection's database file was deleted or replaced since it
// was opened: SQLite then fails reads and writes on it.
bool HasMoved(sqlite3* db) {
  int moved = 0;
  return sqlite3_file_control(db, "main", SQLITE_FCNTL_HAS_MOVED, &moved) == SQLITE_OK && moved != 0;
}

// The database file's identity: {0, 0} when there is none, nothing when it
// cannot be told (the connection in use is kept then).
std::optional<std::pair<dev_t, ino_t>> FileIdentity(const std::string& path) {
  struct stat info {};
  if (io::sys::Stat(path.c_str(), &info) == 0) return std::pair{info.st_dev, info.st_ino};
  if (errno == ENOENT || errno == ENOTDIR) return std::pair<dev_t, ino_t>{0, 0};
  return std::nullopt;
}

// Creates the store's folder and those above it that are missing.
void MakeFolders(const std::string& path) {
  const std::string folder = std::filesystem::path(path).parent_path().string();
  struct stat info {};
  if (folder.empty() || (io::sys::Stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode))) return;
  for (std::size_t at = folder.find('/', 1);; at = folder.find('/', at + 1)) {
    const std::string step = folder.substr(0, at);
    if (io::sys::Mkdir(step.c_str(), 0777) != 0 && errno != EEXIST)
      RaiseStore(path, nullptr, "cannot create the folder " + step + ": " + std::strerror(errno));
    if (at == std::string::npos) return;
  }
}

OpenDatabase OpenStore(Store& store, const std::string& path) {
  MakeFolders(path);
  sqlite3* raw = nullptr;
  const int rc =
      sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX, nullptr);
  OpenDatabase open;
  open.Db.reset(raw);
  open.Path = path;
  if (rc != SQLITE_OK) RaiseStore(path, raw, "cannot open the database");
  sqlite3* db = open.Db.get();
  sqlite3_busy_timeout(db, kBusyTimeoutMs);
  // Closing must stay cheap, as it comes before every fork: the log is
  // checkpointed by the commits (SQLite's automatic checkpoint), not here.
  sqlite3_db_config(db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
  bool wal = false;
  try {
    wal = JournalIsWal(path, db);
    Exec(path, db, "PRAGMA synchronous=NORMAL");
    Exec(path, db,
         "CREATE TABLE IF NOT EXISTS settings (app TEXT NOT NULL, section TEXT NOT NULL, key TEXT NOT NULL,"
         " value TEXT NOT NULL, PRIMARY KEY (app, section, key))");
  } catch (const Error&) {
    store.MovedWhileOpening = HasMoved(db);
    throw;
  }
  open.File = FileIdentity(path).value_or(std::pair<dev_t, ino_t>{0, 0});
  open.Head = wal ? SharedIndexHead(db) : nullptr;  // without the log's index, every ask reads
  if (!open.Head) return open;
  // A free slot lends the head; with none free (readers hold them all),
  // the connection lends nothing and readers read the store at each ask.
  for (std::uint64_t s = 0; s < kSlots; ++s) {
    bool taken = false;
    for (const OpenDatabase& old : store.Retired) taken = taken || old.Slot == s;
    if (taken) continue;
    open.Slot = s;
    open.Tag = ++store.Serial * kSlots + s;
    slots[s].Head.store(open.Head, std::memory_order_relaxed);
    slots[s].Tag.store(open.Tag, std::memory_order_release);
    break;
  }
  return open;
}

// The connection to use now, under the store's lock. A database another
// process deleted (and perhaps created anew), or a place the environment
// moved the store to, gets a connection of its own: the old one would
// neither show nor take what is written.
void Use(Store& store) {
  if (store.Owner != ::getpid()) Abandon(store);
  Sweep(store);
  const std::string path = SettingsStorePath();
  if (store.Carried)
    RaiseStore(path, nullptr,
               "a connection of the parent process was carried into this one (it was in use at the fork); "
               "settings cannot be used safely here");
  if (store.Current && store.Current->Path == path) {
    const auto identity = FileIdentity(path);
    if (!identity || *identity == store.Current->File) return;
  }
  Retire(store);
  store.Current = OpenStore(store, path);
}

// Runs `body` with the connection under the store's lock. A connection that
// failed is closed (the next call opens a new one), so a fault never leaves
// one half in a transaction or with a broken index. A call that failed
// because another process deleted or replaced the database under it is run
// again on a new connection: the body is one read or one whole transaction,
// so running it again is safe.
template <class Body>
auto Run(Body body) {
  constexpr int kAttempts = 8;
  Store& store = TheStore();
  std::lock_guard lock(store.Lock);
  for (int attempt = 1;; ++attempt) {
    store.MovedWhileOpening = false;
    try {
      Use(store);
      return body(*store.Current);
    } catch (const Error&) {
      const bool moved = store.MovedWhileOpening || (store.Current && HasMoved(store.Current->Db.get()));
      Retire(store);
      if (!moved || attempt == kAttempts) throw;
    } catch (...) {
      Retire(store);
      throw;
    }
  }
}

// Binds the text, its length given in full (a view need not end in a zero
// byte; one beyond SQLite's limit is refused), an empty view that points
// nowhere as "", never as NULL.
void Bind(const OpenDatabase& open, sqlite3_stmt* s, int at, std::string_view text) {
  if (sqlite3_bind_text64(s, at, text.data() ? text.data() : "", text.size(), SQLITE_TRANSIENT, SQLITE_UTF8) !=
      SQLITE_OK)
    RaiseStore(open.Path, open.Db.get(), "cannot take the text");
}

// Runs one change in its own immediate transaction.
void Change(const char* sql, std::initializer_list<std::string_view> values) {
  Run([&](const OpenDatabase& open) {
    const std::string& path = open.Path;
    sqlite3* db = open.Db.get();
    Exec(path, db, "BEGIN IMMEDIATE");
    try {
      Statement s = Prepare(path, db, sql);
      int at = 1;
      for (const std::string_view v : values) Bind(open, s.get(), at++, v);
      if (sqlite3_step(s.get()) != SQLITE_DONE) RaiseStore(path, db, "cannot write");
      Exec(path, db, "COMMIT");
    } catch (...) {
      sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
      throw;
    }
  });
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

namespace settings {

std::optional<std::string> Read(std::string_view app, std::string_view section, std::string_view key) {
  return Run([&](const OpenDatabase& open) -> std::optional<std::string> {
    const std::string& path = open.Path;
    sqlite3* db = open.Db.get();
    Statement s = Prepare(path, db, "SELECT value FROM settings WHERE app = ?1 AND section = ?2 AND key = ?3");
    Bind(open, s.get(), 1, app);
    Bind(open, s.get(), 2, section);
    Bind(open, s.get(), 3, key);
    const int rc = sqlite3_step(s.get());
    if (rc == SQLITE_ROW) {
      const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(s.get(), 0));
      return std::string(text ? text : "", static_cast<std::size_t>(sqlite3_column_bytes(s.get(), 0)));
    }
    if (rc != SQLITE_DONE) RaiseStore(path, db, "cannot read");
    return std::nullopt;
  });
}

void Write(std::string_view app, std::string_view section, std::string_view key, std::string_view value) {
  Change(
      "INSERT INTO settings (app, section, key, value) VALUES (?1, ?2, ?3, ?4)"
      " ON CONFLICT (app, section, key) DO UPDATE SET value = excluded.value",
      {app, section, key, value});
}

void Remove(std::string_view app, std::string_view section, std::string_view key) {
  Change("DELETE FROM settings WHERE app = ?1 AND section = ?2 AND key = ?3", {app, section, key});
}

void RemoveSection(std::string_view app, std::string_view section) {
  Change("DELETE FROM settings WHERE app = ?1 AND section = ?2", {app, section});
}

}  // namespace settings

std::string GetSetting(const std::string& AppName, const std::string& Section, const std::string& Key,
                       const std::string& Default) {
  if (std::optional<std::string> value = settings::Read(AppName, Section, Key)) return std::move(*value);
  return Default;
}

void SaveSetting(const std::string& AppName, const std::string& Section, const std::string& Key,
                 const std::string& Setting) {
  settings::Write(AppName, Section, Key, Setting);
}

void DeleteSetting(const std::string& AppName, const std::string& Section, const std::optional<std::string>& Key) {
  if (Key) {
    settings::Remove(AppName, Section, *Key);
  } else {
    settings::RemoveSection(AppName, Section);
  }
}

namespace detail {
void CloseSettingsConnections() {
  Store& store = TheStore();
  std::lock_guard lock(store.Lock);
  if (store.Owner == ::getpid()) Retire(store);
}
}  // namespace detail

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
// (opened there if need be) with the tag its head is lent under (0: none),
// and that head copied into `seen`. Taken before the caller reads the
// store, so that a commit after it shows as a difference at the next
// comparison. Under the store's lock the head cannot be unmapped.
struct StoreLook {
  detail::SettingsPlace Place;
  std::uint64_t Tag = 0;
  const unsigned char* Head = nullptr;
};

template <std::size_t N>
StoreLook LookAtStore(unsigned char (&seen)[N]) {
  return Run([&](const OpenDatabase& open) {
    StoreLook look{TakePlace(), open.Tag, open.Tag != 0 ? open.Head : nullptr};
    if (look.Head) std::memcpy(seen, look.Head, N);
    return look;
  });
}
}  // namespace

struct SettingsWatch::Impl {
  static constexpr std::size_t kHeaderBytes = 48;  // the index header's first copy, written last
  // generation keeps the tag the head was lent under (0: read at every call);
  // header only tells whether there was a head to watch.
  const unsigned char* header = nullptr;
  std::uint64_t generation = 0;
  unsigned char seen[kHeaderBytes] = {};
  detail::SettingsPlace place;  // where the store's folder came from at the last true
};

SettingsWatch::SettingsWatch() : impl_(std::make_unique<Impl>()) {}
SettingsWatch::~SettingsWatch() = default;

void SettingsWatch::Forget() { impl_->generation = 0; }

bool SettingsWatch::Changed() {
  Impl& w = *impl_;
  if (w.header &&
      HeadIsSame(w.generation,
                 [&](const unsigned char* head) { return SameBytes<Impl::kHeaderBytes>(head, w.seen); }) &&
      SamePlace(w.place))
    return false;
  const StoreLook look = LookAtStore(w.seen);
  w.place = look.Place;
  w.generation = look.Tag;
  w.header = look.Head;
  return true;
}

// ---- the switch ----

namespace detail {

static_assert(std::is_trivially_destructible_v<SettingSwitch>, "a switch must stay usable in static destructors");
static_assert(std::is_trivially_destructible_v<decltype(slots)>, "the slots must stay usable in static destructors");

// Everything is loaded first and used only once the sequence count shows
// that no refresh overlapped the loads: a torn state never indexes environ.
bool SettingSwitch::On() {
  const std::uint32_t before = sequence_.load(std::memory_order_acquire);
  const std::uint64_t tag = tag_.load(std::memory_order_relaxed);
  std::uint64_t seen[kWords];
  for (std::size_t w = 0; w < kWords; ++w) seen[w] = seen_[w].load(std::memory_order_relaxed);
  char** const environment = environment_.load(std::memory_order_relaxed);
  const std::size_t size = environmentSize_.load(std::memory_order_relaxed);
  const std::size_t places[2] = {slots_[0].load(std::memory_order_relaxed), slots_[1].load(std::memory_order_relaxed)};
  const char* const entries[2] = {entries_[0].load(std::memory_order_relaxed),
                                  entries_[1].load(std::memory_order_relaxed)};
  const bool value = value_.load(std::memory_order_relaxed);
  std::atomic_thread_fence(std::memory_order_acquire);
  if ((before & 1) != 0 || sequence_.load(std::memory_order_relaxed) != before) return Refresh();
  if (!SamePlace({environment, size, {places[0], places[1]}, {entries[0], entries[1]}})) return Refresh();
  const bool same = HeadIsSame(tag, [&](const unsigned char* head) {
    std::uint64_t differ = 0;
    for (std::size_t w = 0; w < kWords; ++w) {
      std::uint64_t now;
      std::memcpy(&now, head + 8 * w, 8);
      differ |= now ^ seen[w];
    }
    return differ == 0;
  });
  return same ? value : Refresh();
}

// The store's look is taken before the value is read: a commit in between
// shows as a difference at the next ask. A failed read publishes nothing.
bool SettingSwitch::Refresh() {
  // One refresh at a time, marked with the refreshing process's id: a mark
  // that a parent's thread left at a fork is taken over in the child. A
  // thread that finds another thread of its process refreshing reads the
  // store itself and answers without publishing.
  const pid_t self = ::getpid();
  pid_t holder = 0;
  if (!refresher_.compare_exchange_strong(holder, self, std::memory_order_acquire) &&
      (holder == self || !refresher_.compare_exchange_strong(holder, self, std::memory_order_acquire)))
    return EqualsIgnoringCase(settings::Read(app_, section_, key_).value_or(""), on_);
  struct Unmark {
    std::atomic<pid_t>& Mark;
    ~Unmark() { Mark.store(0, std::memory_order_release); }
  } unmark{refresher_};
  unsigned char seen[kWords * 8] = {};
  const StoreLook look = LookAtStore(seen);
  const bool value = EqualsIgnoringCase(settings::Read(app_, section_, key_).value_or(""), on_);

  // Even: a publication that a fork cut short leaves the count odd.
  const std::uint32_t count = sequence_.load(std::memory_order_relaxed) & ~1U;
  sequence_.store(count + 1, std::memory_order_relaxed);
  std::atomic_thread_fence(std::memory_order_release);
  tag_.store(look.Tag, std::memory_order_relaxed);
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

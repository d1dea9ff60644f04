#include "quillmark/runtime/FileTable.h"

#include <pthread.h>

#include <array>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <new>
#include <utility>

#include "quillmark/errors/Error.h"
#include "quillmark/errors/ErrorNumbers.h"

namespace qm::files {
namespace {

constexpr std::int32_t kMaxFiles = 255;

struct OpenFile {
  std::shared_ptr<TextStream> Stream;
  OpenMode Mode = OpenMode::Input;
};

// The process's numbered-file table (the run-time keeps one per process too).
// A reserved number carries the ticket of its reservation, 0 when free.
struct Table {
  std::mutex Lock;
  std::array<OpenFile, kMaxFiles + 1> Files;
  std::array<std::uint64_t, kMaxFiles + 1> Reserved{};
  std::uint64_t LastTicket = 0;

  // Under the lock: the lowest number neither open nor reserved.
  std::int32_t Lowest() const {
    for (std::int32_t n = 1; n <= kMaxFiles; ++n) {
      if (!Files[n].Stream && Reserved[n] == 0) return n;
    }
    Raise(ERR_TooManyFiles);
  }
};

void CloseAllAtExit() noexcept;

// The table is never destroyed, so that a static destructor or a thread still
// running at exit (the log writer, say) finds it whole. The files still open
// are closed at exit instead, when the table would have been destroyed:
// written, and published when written as a whole. Its lock is taken around
// fork, so that a child never finds it held by a thread it does not have.
Table& TheTable() {
  alignas(Table) static unsigned char room[sizeof(Table)];
  static Table* const table = [] {
    Table* made = ::new (room) Table();
    std::atexit(CloseAllAtExit);
    ::pthread_atfork([] { TheTable().Lock.lock(); }, [] { TheTable().Lock.unlock(); },
                     [] { TheTable().Lock.unlock(); });
    return made;
  }();
  return *table;
}

void CloseAllAtExit() noexcept {
  Table& table = TheTable();
  std::array<OpenFile, kMaxFiles + 1> files;
  {
    std::lock_guard lock(table.Lock);
    files = std::move(table.Files);
    table.Files = {};
  }
  // Each stream's destructor writes and publishes it (or, in a child after
  // fork, lets the parent's file go untouched); failures cannot be reported.
}

OpenFile& Entry(Table& table, std::int32_t number) {
  if (number < 1 || number > kMaxFiles || !table.Files[number].Stream) Raise(ERR_BadFileNameOrNumber);
  return table.Files[number];
}

enum class Use { Any, Reading, Writing };

// The stream of an open file, taken under the lock and used outside it;
// 54 when the file's mode does not allow the use.
std::shared_ptr<TextStream> StreamOf(std::int32_t number, Use use) {
  Table& table = TheTable();
  std::lock_guard lock(table.Lock);
  const OpenFile& file = Entry(table, number);
  if ((use == Use::Reading && file.Mode != OpenMode::Input) || (use == Use::Writing && file.Mode == OpenMode::Input))
    Raise(ERR_BadFileMode);
  return file.Stream;
}

}  // namespace

std::int32_t FreeFile() {
  Table& table = TheTable();
  std::lock_guard lock(table.Lock);
  return table.Lowest();
}

Reservation Reservation::Take() {
  Table& table = TheTable();
  std::lock_guard lock(table.Lock);
  Reservation reservation;
  reservation.number_ = table.Lowest();
  reservation.ticket_ = ++table.LastTicket;
  table.Reserved[reservation.number_] = reservation.ticket_;
  return reservation;
}

Reservation::Reservation(Reservation&& other) noexcept
    : number_(std::exchange(other.number_, 0)), ticket_(std::exchange(other.ticket_, 0)) {}

Reservation& Reservation::operator=(Reservation&& other) noexcept {
  if (this != &other) {
    Release();
    number_ = std::exchange(other.number_, 0);
    ticket_ = std::exchange(other.ticket_, 0);
  }
  return *this;
}

void Reservation::Release() noexcept {
  if (ticket_ == 0) return;
  Table& table = TheTable();
  std::lock_guard lock(table.Lock);
  if (table.Reserved[number_] == ticket_) table.Reserved[number_] = 0;
  ticket_ = 0;
}

void Open(std::int32_t number, const std::string& path, OpenMode mode) {
  if (number < 1 || number > kMaxFiles) Raise(ERR_BadFileNameOrNumber);
  Table& table = TheTable();
  {
    std::lock_guard lock(table.Lock);
    if (table.Files[number].Stream) Raise(ERR_FileAlreadyOpen);
  }
  const IOMode io = mode == OpenMode::Input    ? IOMode::ForReading
                    : mode == OpenMode::Output ? IOMode::ForWriting
                                               : IOMode::ForAppending;
  auto stream = TextStream::Open(path, io, true, TextFormat::ASCII);
  std::lock_guard lock(table.Lock);
  table.Files[number] = OpenFile{std::move(stream), mode};
  table.Reserved[number] = 0;
}

void PrintLine(std::int32_t number, std::string_view text) { StreamOf(number, Use::Writing)->WriteLine(text); }

void Put(std::int32_t number, std::string_view bytes) { StreamOf(number, Use::Writing)->Write(bytes); }

std::string LineInput(std::int32_t number) { return StreamOf(number, Use::Reading)->ReadLine(); }

bool Eof(std::int32_t number) { return StreamOf(number, Use::Any)->AtEndOfStream(); }

void Close(std::int32_t number) {
  Table& table = TheTable();
  std::shared_ptr<TextStream> stream;
  {
    std::lock_guard lock(table.Lock);
    stream = std::move(Entry(table, number).Stream);
  }
  stream->Close();
}

void Reset() {
  for (std::int32_t n = 1; n <= kMaxFiles; ++n) {
    if (IsOpen(n)) Close(n);
  }
}

bool IsOpen(std::int32_t number) {
  if (number < 1 || number > kMaxFiles) return false;
  Table& table = TheTable();
  std::lock_guard lock(table.Lock);
  return table.Files[number].Stream != nullptr;
}

}  // namespace qm::files

#include "io/BackgroundIo.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <new>
#include <utility>

#include "io/AfterFork.h"
#include "io/Executor.h"
#include "io/HugeBlock.h"
#include "io/Lane.h"

namespace qm::io {
namespace {

constexpr std::size_t kReadAhead = 4;    // input chunks read ahead at most
constexpr std::size_t kWriteBehind = 4;  // output chunks queued at most

}  // namespace

struct BackgroundIo::Input {
  struct Chunk {
    std::vector<std::uint8_t> Bytes;
    std::size_t Size = 0;
  };

  std::mutex Lock;
  std::condition_variable Changed;
  Reader Read;
  std::size_t ChunkSize = 0;
  std::size_t Left = 0;                          // bytes still to read
  bool Over = false;                             // nothing more to read
  bool Reading = false;                          // a read is under way, by a task or by the caller
  bool Scheduled = false;                        // a task reading ahead is queued or running
  bool Closed = false;                           // the owner goes: nothing more is read
  std::deque<Chunk> Ready;                       // read and not yet handed out, oldest first
  std::vector<std::vector<std::uint8_t>> Spare;  // buffers to reuse
  std::exception_ptr Failure;

  bool MayRead() const { return !Closed && !Reading && !Over && !Failure && Ready.size() < kReadAhead; }

  // Reads one chunk, with `lock` (held on entry and on return) let go
  // meanwhile. Every failure, a buffer that cannot be had included, is kept.
  void ReadOne(std::unique_lock<std::mutex>& lock) noexcept {
    Reading = true;
    std::vector<std::uint8_t> bytes;
    if (!Spare.empty()) {
      bytes = std::move(Spare.back());
      Spare.pop_back();
    }
    const std::size_t wanted = std::min(ChunkSize, Left);
    lock.unlock();
    std::exception_ptr failure;
    std::size_t got = 0;
    try {
      if (bytes.size() < ChunkSize) {
        CheckAllocation();
        bytes.resize(ChunkSize);
      }
      got = Read({bytes.data(), wanted});
    } catch (...) {
      failure = std::current_exception();
    }
    lock.lock();
    Reading = false;
    if (!failure) {
      // An input cut short ends there.
      Left = got < wanted ? 0 : Left - got;
      Over = Left == 0;
      try {
        if (got > 0) Ready.push_back({std::move(bytes), got});
      } catch (...) {
        failure = std::current_exception();
      }
    }
    if (failure) Failure = failure;
    Changed.notify_all();
  }

  void GiveBack(std::vector<std::uint8_t> bytes) noexcept {
    std::lock_guard lock(Lock);
    if (Spare.size() < Spare.capacity()) Spare.push_back(std::move(bytes));  // never allocates
  }
};

BackgroundIo::BackgroundIo(Reader read, std::size_t inputSize, Writer write, std::size_t chunk)
    : generation_(Executor::Generation()),
      input_(std::make_shared<Input>()),
      write_(std::move(write)),
      writes_(kWriteBehind) {
  input_->Read = std::move(read);
  input_->ChunkSize = chunk;
  input_->Left = inputSize;
  input_->Over = inputSize == 0;
  // Every buffer there is at once: read ahead, handed out, queued, being written.
  input_->Spare.reserve(2 * (kReadAhead + kWriteBehind) + 4);
  ReadAhead();
}

BackgroundIo::~BackgroundIo() {
  if (Inherited()) {
    // The parent's reads: never waited for (writes_ lets its lane go alike).
    LetGoInChild(input_);
    return;
  }
  Input& in = *input_;
  std::unique_lock lock(in.Lock);
  in.Closed = true;
  in.Changed.wait(lock, [&] { return !in.Reading; });
  // writes_ goes next: the queued writes are dropped, the running one waited for.
}

bool BackgroundIo::Inherited() const noexcept { return generation_ != Executor::Generation(); }

void BackgroundIo::CheckOwn() const {
  if (Inherited()) RaiseInherited();
}

void BackgroundIo::ReadAhead() {
  Input& in = *input_;
  {
    std::lock_guard lock(in.Lock);
    if (in.Scheduled || !in.MayRead()) return;
    in.Scheduled = true;
  }
  bool queued = false;
  try {
    queued = Executor::Post([input = input_] {
      std::unique_lock lock(input->Lock);
      while (input->MayRead()) input->ReadOne(lock);
      input->Scheduled = false;
    });
  } catch (const std::bad_alloc&) {}
  if (queued) return;
  // No thread (or no memory) to be had: the caller reads each chunk itself.
  std::lock_guard lock(in.Lock);
  in.Scheduled = false;
}

std::span<const std::uint8_t> BackgroundIo::NextInput() {
  CheckOwn();
  Input& in = *input_;
  std::unique_lock lock(in.Lock);
  if (!current_.empty() && in.Spare.size() < in.Spare.capacity()) in.Spare.push_back(std::move(current_));
  current_ = {};
  for (;;) {
    if (!in.Ready.empty()) {
      Input::Chunk chunk = std::move(in.Ready.front());
      in.Ready.pop_front();
      lock.unlock();
      current_ = std::move(chunk.Bytes);
      ReadAhead();
      return {current_.data(), chunk.Size};
    }
    if (in.Failure) std::rethrow_exception(in.Failure);
    if (in.Over) return {};
    if (in.Reading) {
      in.Changed.wait(lock);  // a read under way: it ends
    } else {
      in.ReadOne(lock);  // not begun: read here
    }
  }
}

std::vector<std::uint8_t> BackgroundIo::OutputBuffer() {
  CheckOwn();
  Input& in = *input_;
  std::vector<std::uint8_t> buffer;
  {
    std::lock_guard lock(in.Lock);
    if (!in.Spare.empty()) {
      buffer = std::move(in.Spare.back());
      in.Spare.pop_back();
    }
  }
  buffer.resize(in.ChunkSize);
  return buffer;
}

void BackgroundIo::Write(std::vector<std::uint8_t> buffer, std::size_t size) {
  CheckOwn();
  writes_.Post([this, bytes = std::move(buffer), size]() mutable {
    write_({bytes.data(), size});
    input_->GiveBack(std::move(bytes));
  });
}

void BackgroundIo::Finish() {
  CheckOwn();
  writes_.Drain();
}

}  // namespace qm::io

#include "compression/BackgroundIo.h"

#include <algorithm>

namespace qm::compression {
namespace {

constexpr std::size_t kReadAhead = 4;    // input chunks read ahead at most
constexpr std::size_t kWriteBehind = 4;  // output chunks queued at most

}  // namespace

BackgroundIo::BackgroundIo(InputFile& in, std::size_t inputSize, OutputFile& out, std::size_t chunk)
    : in_(in), out_(out), chunk_(chunk), inputLeft_(inputSize), inputOver_(inputSize == 0) {}

void BackgroundIo::Run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    const auto mayRead = [&] { return !inputOver_ && !readFailure_ && read_.size() < kReadAhead; };
    changed_.wait(lock, [&] { return helper_.Stopping() || !toWrite_.empty() || mayRead(); });
    if (!toWrite_.empty()) {  // writing first: it frees buffers
      Pending pending = std::move(toWrite_.front());
      toWrite_.pop_front();
      if (writeFailure_) continue;  // nothing more is written after a failure
      writing_ = true;
      lock.unlock();
      std::exception_ptr failure;
      try {
        out_.Write({pending.Bytes.data(), pending.Size});
      } catch (...) {
        failure = std::current_exception();
      }
      lock.lock();
      writing_ = false;
      if (failure) writeFailure_ = failure;
      spare_.push_back(std::move(pending.Bytes));
      changed_.notify_all();
    } else if (helper_.Stopping()) {
      return;
    } else {
      std::exception_ptr failure;
      Pending pending;
      const std::size_t wanted = std::min(chunk_, inputLeft_);
      try {
        if (spare_.empty()) {
          pending.Bytes.resize(chunk_);
        } else {
          pending.Bytes = std::move(spare_.back());
          spare_.pop_back();
        }
        lock.unlock();
        pending.Size = in_.Read({pending.Bytes.data(), wanted});
      } catch (...) {
        failure = std::current_exception();
      }
      if (!lock.owns_lock()) lock.lock();
      if (failure) {
        readFailure_ = failure;
      } else {
        // A file cut short ends the input there.
        inputLeft_ = pending.Size < wanted ? 0 : inputLeft_ - pending.Size;
        inputOver_ = inputLeft_ == 0;
        if (pending.Size > 0) read_.push_back(std::move(pending));
      }
      changed_.notify_all();
    }
  }
}

std::span<const std::uint8_t> BackgroundIo::NextInput() {
  if (!helper_.Started()) {
    if (inputLeft_ == 0) return {};
    current_.resize(chunk_);
    const std::size_t wanted = std::min(chunk_, inputLeft_);
    const std::size_t got = in_.Read({current_.data(), wanted});
    inputLeft_ = got < wanted ? 0 : inputLeft_ - got;
    return {current_.data(), got};
  }
  std::unique_lock lock(mutex_);
  if (!current_.empty()) spare_.push_back(std::move(current_));
  current_ = {};
  changed_.notify_all();
  changed_.wait(lock, [&] { return !read_.empty() || readFailure_ || inputOver_; });
  if (!read_.empty()) {
    Pending pending = std::move(read_.front());
    read_.pop_front();
    changed_.notify_all();
    current_ = std::move(pending.Bytes);
    return {current_.data(), pending.Size};
  }
  if (readFailure_) std::rethrow_exception(readFailure_);
  return {};
}

std::vector<std::uint8_t> BackgroundIo::OutputBuffer() {
  std::vector<std::uint8_t> buffer;
  {
    std::lock_guard lock(mutex_);
    if (!spare_.empty()) {
      buffer = std::move(spare_.back());
      spare_.pop_back();
    }
  }
  buffer.resize(chunk_);
  return buffer;
}

void BackgroundIo::Write(std::vector<std::uint8_t> buffer, std::size_t size) {
  if (!helper_.Started()) {
    out_.Write({buffer.data(), size});
    return;
  }
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [&] { return toWrite_.size() < kWriteBehind || writeFailure_; });
  if (writeFailure_) std::rethrow_exception(writeFailure_);
  toWrite_.push_back({std::move(buffer), size});
  changed_.notify_all();
}

void BackgroundIo::Finish() {
  if (!helper_.Started()) return;
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [&] { return (toWrite_.empty() && !writing_) || writeFailure_; });
  if (writeFailure_) std::rethrow_exception(writeFailure_);
}

}  // namespace qm::compression

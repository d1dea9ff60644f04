#pragma once
// The helper thread of one object: started last, when the object is ready,
// and stopped and joined first, when it goes. The object's loop waits on the
// object's own mutex and condition and returns once Stopping() is true.
// Without a thread to be had, Started() is false and the object does the
// work on the caller's thread instead.

#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

namespace qm::io {

class HelperThread {
 public:
  template <class Loop>
  HelperThread(std::mutex& mutex, std::condition_variable& changed, Loop loop) : mutex_(mutex), changed_(changed) {
    try {
      thread_ = std::thread(std::move(loop));
    } catch (const std::system_error&) {
      // Started() tells the owner to do the work itself.
    }
  }
  /// Asks the loop to stop (under the owner's mutex), wakes it and joins it.
  ~HelperThread() {
    if (!thread_.joinable()) return;
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    changed_.notify_all();
    thread_.join();
  }
  HelperThread(const HelperThread&) = delete;
  HelperThread& operator=(const HelperThread&) = delete;

  bool Started() const { return thread_.joinable(); }
  /// For the loop, with the owner's mutex held.
  bool Stopping() const { return stopping_; }

 private:
  std::mutex& mutex_;
  std::condition_variable& changed_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace qm::io

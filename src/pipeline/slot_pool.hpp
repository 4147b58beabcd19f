// Work on numbered slots done by a few threads while the caller goes on: the
// caller posts a slot once it has filled it and later waits for it, in the
// order it posted them, to take its results.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace bf {

class SlotPool {
 public:
  // `work(slot)` runs for each slot posted, on one of `workers` threads or on
  // the caller while it waits; slots are numbered 0 .. slots - 1. The
  // threads are started with SIGINT and SIGTERM blocked: those signals go to
  // the caller, whose reads they must be able to end.
  SlotPool(int workers, std::size_t slots, std::function<void(std::size_t)> work);
  // Lets the work in hand finish, then ends the threads; posted work not yet
  // begun is dropped.
  ~SlotPool();
  SlotPool(const SlotPool&) = delete;
  SlotPool& operator=(const SlotPool&) = delete;

  // The slot is filled: its work may begin. A slot is posted again only
  // after wait() has returned for it.
  void post(std::size_t slot);
  // Returns once the slot's work is done, doing posted work meanwhile;
  // rethrows what a work threw.
  void wait(std::size_t slot);

 private:
  void serve();
  void stop();  // ends the threads once their work in hand is done
  // Runs the oldest posted slot's work with the lock released.
  void run_oldest(std::unique_lock<std::mutex>& lock);

  std::function<void(std::size_t)> work_;
  std::mutex mutex_;
  std::condition_variable posted_, done_;
  std::vector<std::size_t> queue_;  // posted slots not yet begun, a ring
  std::size_t head_ = 0, queued_ = 0;
  std::vector<unsigned char> finished_;
  std::exception_ptr error_;
  bool stopping_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace bf

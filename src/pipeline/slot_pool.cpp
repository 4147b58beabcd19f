#include "pipeline/slot_pool.hpp"

#include <pthread.h>

#include <csignal>

namespace bf {

namespace {

// Holds SIGINT and SIGTERM back in the calling thread while it lives: threads
// started meanwhile inherit the mask.
class SignalsHeld {
 public:
  SignalsHeld() {
    sigset_t held;
    sigemptyset(&held);
    sigaddset(&held, SIGINT);
    sigaddset(&held, SIGTERM);
    ::pthread_sigmask(SIG_BLOCK, &held, &old_);
  }
  ~SignalsHeld() { ::pthread_sigmask(SIG_SETMASK, &old_, nullptr); }
  SignalsHeld(const SignalsHeld&) = delete;
  SignalsHeld& operator=(const SignalsHeld&) = delete;

 private:
  sigset_t old_;
};

}  // namespace

SlotPool::SlotPool(int workers, std::size_t slots, std::function<void(std::size_t)> work)
    : work_(std::move(work)), queue_(slots), finished_(slots, 1) {
  const SignalsHeld held;
  threads_.reserve(static_cast<std::size_t>(workers));
  try {
    for (int k = 0; k < workers; ++k)
      threads_.emplace_back([this] { serve(); });
  } catch (...) {
    stop();
    throw;
  }
}

SlotPool::~SlotPool() {
  stop();
}

void SlotPool::stop() {
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  posted_.notify_all();
  for (std::thread& t : threads_)
    if (t.joinable()) t.join();
}

void SlotPool::post(std::size_t slot) {
  {
    const std::lock_guard lock(mutex_);
    finished_[slot] = 0;
    queue_[(head_ + queued_) % queue_.size()] = slot;
    ++queued_;
  }
  posted_.notify_one();
}

void SlotPool::run_oldest(std::unique_lock<std::mutex>& lock) {
  const std::size_t slot = queue_[head_];
  head_ = (head_ + 1) % queue_.size();
  --queued_;
  lock.unlock();
  std::exception_ptr error;
  try {
    work_(slot);
  } catch (...) {
    error = std::current_exception();
  }
  lock.lock();
  if (error && !error_) error_ = error;
  finished_[slot] = 1;
  done_.notify_all();
}

void SlotPool::serve() {
  std::unique_lock lock(mutex_);
  for (;;) {
    posted_.wait(lock, [this] { return stopping_ || queued_ > 0; });
    if (stopping_) return;
    run_oldest(lock);
  }
}

void SlotPool::wait(std::size_t slot) {
  std::unique_lock lock(mutex_);
  while (!finished_[slot]) {
    if (queued_ > 0) {
      run_oldest(lock);
    } else {
      done_.wait(lock);
    }
  }
  if (error_) std::rethrow_exception(error_);
}

}  // namespace bf

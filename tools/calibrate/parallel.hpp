// Work over the lines on a few threads; the first failure is rethrown.
#pragma once

#include <atomic>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace bfcal {

// Calls work(i) for i = 0 .. n-1 on up to `threads` threads.
template <class Work>
void parallel_for(int n, int threads, Work work) {
  std::atomic<int> next{0};
  std::exception_ptr failure;
  std::mutex failure_mutex;
  auto worker = [&] {
    for (int i = next++; i < n; i = next++) {
      try {
        work(i);
      } catch (...) {
        std::lock_guard<std::mutex> lock(failure_mutex);
        if (!failure) failure = std::current_exception();
        next = n;
      }
    }
  };
  std::vector<std::thread> pool;
  for (int t = 1; t < threads && t < n; ++t)
    pool.emplace_back(worker);
  worker();
  for (auto& t : pool)
    t.join();
  if (failure) std::rethrow_exception(failure);
}

}  // namespace bfcal

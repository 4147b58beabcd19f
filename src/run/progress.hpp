// One progress line on standard error while the scanner file is read: the
// share read, measurements a second and the time left. Drawn only when
// standard error is a terminal, at most a few times a second.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace bf {

class Progress {
 public:
  // Measurements between two looks at the clock: the per-measurement cost
  // is one countdown.
  static constexpr std::int64_t kStride = 1 << 14;

  // `scanner_file` gives the total size; inactive unless `wanted` and
  // standard error is a terminal.
  Progress(bool wanted, const std::string& scanner_file);
  // A line drawn is removed also when the scanner loop stops with an exception.
  ~Progress() { clear(); }
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  bool active() const { return active_; }

  // Redraws when a quarter of a second has passed since the last drawing.
  void update(std::int64_t bytes_read, std::int64_t measurements);
  // Removes the line (at the end of the phase, also when it stops).
  void clear();

 private:
  using Clock = std::chrono::steady_clock;
  bool active_ = false;
  bool drawn_ = false;
  std::int64_t total_bytes_ = 0;
  Clock::time_point start_, last_draw_;
};

}  // namespace bf

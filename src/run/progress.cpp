#include "run/progress.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

namespace bf {

Progress::Progress(bool wanted, const std::string& scanner_file) {
  struct stat st {};
  active_ = wanted && ::isatty(STDERR_FILENO) == 1 && ::stat(scanner_file.c_str(), &st) == 0 &&
            st.st_size > 0;
  total_bytes_ = st.st_size;
  start_ = last_draw_ = Clock::now();
}

void Progress::update(std::int64_t bytes_read, std::int64_t measurements) {
  const auto now = Clock::now();
  if (now - last_draw_ < std::chrono::milliseconds(250)) return;
  last_draw_ = now;
  const double seconds = std::chrono::duration<double>(now - start_).count();
  const double share = static_cast<double>(bytes_read) / static_cast<double>(total_bytes_);
  const double rate = static_cast<double>(measurements) / seconds;
  const double left = share > 0 ? seconds * (1 - share) / share : 0;
  // \r and an erase to the end of the line: the line is redrawn in place.
  std::fprintf(
      stderr,
      "\rbeamfall: %5.1f %% of the scanner file, %.2f million measurements/s, %.0f s left\x1b[K",
      100 * (share < 1 ? share : 1), rate / 1e6, left > 0 ? left : 0);
  std::fflush(stderr);
  drawn_ = true;
}

void Progress::clear() {
  if (!drawn_) return;
  std::fputs("\r\x1b[K", stderr);
  std::fflush(stderr);
  drawn_ = false;
}

}  // namespace bf

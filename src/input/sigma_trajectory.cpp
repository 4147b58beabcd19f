#include "input/sigma_trajectory.hpp"

#include <charconv>
#include <cstdint>

#include "textio/error.hpp"
#include "textio/record.hpp"

namespace bf {

namespace {

constexpr int kValues = 7;
constexpr const char* kNames[kValues] = {"time",       "sigma_north", "sigma_east",   "sigma_down",
                                         "sigma_roll", "sigma_pitch", "sigma_heading"};

// Shortest text that reads back as the same double, for messages.
std::string shortest(double v) {
  char buf[32];
  return std::string(buf, std::to_chars(buf, buf + sizeof buf, v).ptr);
}

[[noreturn]] void line_error(const std::string& source, std::int64_t line, const std::string& why) {
  input_error(source + ", line " + std::to_string(line) + ": " + why);
}

// Reads the next epoch, all seven values from one line, into e and sets `line`
// to that line; false at the end of the file.
bool read_epoch(FreeReader& in, const std::string& source, SigmaEpoch& e, std::int64_t& line) {
  double* values[kValues] = {&e.time, &e.north, &e.east, &e.down, &e.roll, &e.pitch, &e.heading};
  in.start_read();
  for (int c = 0; c < kValues; ++c) {
    const ReadStatus s = in.real(*values[c]);
    if (s == ReadStatus::end_of_file && c == 0) return false;
    // A short line would go on with the next one: refused, it is a broken epoch.
    if (s == ReadStatus::end_of_file || (c > 0 && in.line() != line))
      line_error(source, line,
                 std::to_string(kValues) + " values needed, " + std::to_string(c) + " found");
    if (s == ReadStatus::bad_value) line_error(source, in.line(), in.error());
    if (c == 0) line = in.line();
  }
  return true;
}

void check_epoch(const std::string& source, std::int64_t line, const SigmaEpoch& e,
                 const SigmaEpoch* previous) {
  const double sigmas[kValues - 1] = {e.north, e.east, e.down, e.roll, e.pitch, e.heading};
  for (int k = 0; k < kValues - 1; ++k)
    if (sigmas[k] < 0)
      line_error(source, line,
                 std::string(kNames[k + 1]) + " " + shortest(sigmas[k]) + " is negative");
  if (previous != nullptr && !(e.time > previous->time))
    line_error(source, line,
               "time " + shortest(e.time) + " is not after " + shortest(previous->time) +
                   ": times must increase");
}

}  // namespace

std::vector<SigmaEpoch> load_sigma_trajectory(FreeReader& in, const std::string& source) {
  std::vector<SigmaEpoch> epochs;
  SigmaEpoch e;
  std::int64_t line = 0;
  while (read_epoch(in, source, e, line)) {
    check_epoch(source, line, e, epochs.empty() ? nullptr : &epochs.back());
    epochs.push_back(e);
  }
  if (epochs.empty()) input_error(source + ": no epochs");
  return epochs;
}

}  // namespace bf

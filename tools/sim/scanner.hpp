// The simulated line scanner: when each measurement is taken, at which beam angle, and how a
// measurement is encoded in the binary .2dd scanner file.
//
// .2dd layout (little-endian): a 47-byte header (length field, bytes per scan, bytes per
// measurement, measurements per scan, range/angle/timer units as 32-bit floats, angle id 4),
// then scans of 2 + 8 * nmeas bytes: a 16-bit sync word 8 * nmeas and nmeas measurements of
// 16-bit range count, 8-bit signed amplitude, 16-bit angle count, 24-bit timer count.
#pragma once

#include <bit>
#include <cstdint>
#include <string>

namespace bsim {

static_assert(std::endian::native == std::endian::little, "the encoders copy native bytes");

// Units stored in the header; the scanner's values are exactly these single-precision numbers.
inline constexpr float kRangeUnit = 0.008f;    // metres per range count
inline constexpr float kAngleUnit = 0.01f;     // gon per half angle count
inline constexpr float kTimerUnit = 0.00001f;  // seconds per timer count
inline constexpr std::int64_t kTicksPerSecond = 100000;
inline constexpr int kHeaderBytes = 47;

// Time of a measurement in timer ticks (1e-5 s) since midnight of the flight's day. The timer
// in the file holds ticks % 100000: the fraction of the current second.
struct ScanPattern {
  std::int64_t first_tick = 0;  // first measurement of scan 0
  double scan_rate = 20.0;      // scans per second
  int nmeas = 208;              // measurements per scan
  int count_lo = 3750;          // angle count of the first measurement of a sweep
  int count_hi = 6250;          // angle count of the last (rising: each sweep crosses nadir)
  double duty = 0.75;           // part of the scan period taken by the sweep
  std::int64_t nscans = 0;

  std::int64_t tick(std::int64_t k, int i) const;  // scan k = 0 ..., measurement i = 1 ... nmeas
  int angle_count(int i) const;
  // Beam angle in gon as the file's units give it (100 gon points straight down).
  double angle_gon(int i) const;
  // Beam angle from nadir in radians, positive towards the left wing.
  double scan_angle(int i) const;
  // Time in seconds since midnight of a tick, as the timer's units give it.
  static double seconds(std::int64_t tick);
};

std::string encode_header(int nmeas);

// Appends one measurement's 8 bytes.
void encode_measurement(std::string& out, std::uint16_t range_count, std::int8_t ampl,
                        std::uint16_t angle_count, std::uint32_t timer_count);

}  // namespace bsim

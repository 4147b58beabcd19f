// Reading scans and measurements, with their times on the trajectory's scale.
#pragma once

#include <cmath>
#include <cstdint>

#include "input/measurement.hpp"
#include "input/scanfile.hpp"
#include "textio/bytes.hpp"
#include "textio/freeread.hpp"
#include "textio/outfile.hpp"
#include "textio/units.hpp"

namespace bf {

// What the readers add to every range for a range offset: no offset is added
// as -0.0, which leaves every range bit for bit as read (+0.0 would turn a
// range of -0.0 into +0.0), so the loop adds without a test.
constexpr double range_addend(double range_offset) {
  return range_offset == 0 ? -0.0 : range_offset;
}

// Reader state shared by both forms. Counters are 64-bit so that no file is
// too long for them.
struct ScanTiming {
  double tprev = 0;
  std::int64_t nwrap = 0;
  std::int64_t scanno = 0;
  std::int64_t nskip = 0;
  std::int64_t nscans = 0;
};

// The binary .2dd form.
class BinaryScanReader {
 public:
  // range_offset: metres added to every range as it is read.
  BinaryScanReader(BinaryInput& in, const ScanLayout& layout, const ScanWindow& window,
                   OutFile& console, double range_offset = 0)
      : in_(in),
        layout_(layout),
        win_(window),
        console_(&console),
        irec_(layout.irec),
        range_offset_(range_addend(range_offset)) {}

  // Passes over the scans whose first timer lies before the window and prints
  // how many. False when the file ended during the search (no measurement
  // will be delivered then).
  bool start();

  // The next measurement that survives thinning and lies inside the window;
  // false at the end of the scanner data.
  bool next(Measurement& m);

  const ScanTiming& timing() const { return t_; }

  // Where the reader's report lines go from now on.
  void report_to(OutFile& console) { console_ = &console; }
  OutFile& report() const { return *console_; }

 private:
  bool read_first_timer(std::int64_t scan_pos, double& tsec);
  void count_wrap(double tsec, std::int64_t scan_number);
  void first_scan_lines(const Measurement& m);
  bool begin_scan(Measurement& m);

  BinaryInput& in_;
  ScanLayout layout_;
  ScanWindow win_;
  OutFile* console_;
  std::int64_t irec_;       // 1-based file byte of the next read
  std::int32_t inext_ = 1;  // position within the scan of the next measurement
  bool ended_ = false;
  ScanTiming t_;
  double range_offset_;
};

// The text form: one free-format record of five values per measurement.
class TextScanReader {
 public:
  // range_offset: metres added to every range as it is read.
  TextScanReader(FreeReader& in, const ScanWindow& window, OutFile& console,
                 double range_offset = 0)
      : in_(in), win_(window), console_(&console), range_offset_(range_addend(range_offset)) {}

  void start();  // prints the skipped-count line with 0
  // Reads the first record before the measurement loop, so that a file that
  // holds no measurement is known then: false when it is empty or its first
  // record can't be read (the warning line is printed). next() then begins
  // with that record, as it would have read it. Optional, once, after start().
  bool read_ahead();
  bool next(Measurement& m);
  const ScanTiming& timing() const { return t_; }

  // Where the reader's report lines go from now on.
  void report_to(OutFile& console) { console_ = &console; }
  OutFile& report() const { return *console_; }

 private:
  enum class State : std::uint8_t { reading, ahead, ended };
  enum class Place : std::uint8_t { deliver, pass, end };
  bool read_record(Measurement& m);
  Place place(Measurement& m);

  FreeReader& in_;
  ScanWindow win_;
  OutFile* console_;
  State state_ = State::reading;
  Measurement ahead_;  // the record read ahead
  ScanTiming t_;
  double range_offset_;
};

// thr from the timer value and the wraps counted so far.
inline double measurement_time(double tsec, std::int64_t nwrap, double t0) {
  return (tsec + static_cast<double>(nwrap)) * kHoursPerSecond + t0;
}

}  // namespace bf

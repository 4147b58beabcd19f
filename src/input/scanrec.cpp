#include "input/scanrec.hpp"

namespace bf {
namespace {

// A timer that fell by less than about 0.945 s is not a proper wrap.
bool improper_wrap(double tprev, double tsec) {
  return tprev + 0.025 - tsec < static_cast<double>(0.97f);
}

void timer_error_line(OutFile& console, std::int64_t scan_number, double tsec, double tprev) {
  console.record("' *** timer error in scan start:' I7 F9.5 F9.5",
                 {scan_number, tsec, tprev + 0.025});
}

}  // namespace

bool BinaryScanReader::read_first_timer(std::int64_t scan_pos, double& tsec) {
  // The first measurement's timer: scan bytes 7-9 (after syncseq and the
  // measurement's first five bytes).
  const unsigned char* p = in_.at(scan_pos - 1 + 7, 3);
  if (p == nullptr) return false;
  tsec = layout_.tunit * le_u24(p);
  return true;
}

void BinaryScanReader::count_wrap(double tsec, std::int64_t scan_number) {
  if (tsec < t_.tprev) {
    ++t_.nwrap;
    if (improper_wrap(t_.tprev, tsec)) timer_error_line(*console_, scan_number, tsec, t_.tprev);
  }
}

bool BinaryScanReader::start() {
  std::int64_t p = irec_;
  double tsec = 0;
  if (!read_first_timer(p, tsec)) return !(ended_ = true);
  t_.tprev = tsec;
  const double start_seconds = kSecondsPerHour * win_.tstart;
  while (static_cast<double>(t_.nwrap) + kSecondsPerHour * win_.t0 + tsec < start_seconds) {
    ++t_.nskip;
    p += layout_.scan_bytes();
    if (!read_first_timer(p, tsec)) return !(ended_ = true);
    count_wrap(tsec, t_.nskip + 1);
    t_.tprev = tsec;
  }
  irec_ = p;
  t_.scanno = t_.nskip;
  console_->record("' Number of scans skipped in start of file:' I7", {t_.nskip});
  return true;
}

bool BinaryScanReader::begin_scan(Measurement& m) {
  const unsigned char* p = in_.at(irec_ - 1, 2);
  if (p == nullptr) return false;
  irec_ += 2;
  std::int16_t syncseq = le_i16(p);
  if (syncseq != 8 * layout_.nmeas)
    console_->free_line({"*** warning - syncseq not ok", syncseq, 8 * layout_.nmeas});
  ++t_.nscans;
  ++t_.scanno;
  m.newscan = true;
  m.scanno = t_.scanno;
  return true;
}

void BinaryScanReader::first_scan_lines(const Measurement& m) {
  console_->record("' first scan used:' I6 ', timer info: ' I5 F9.5 F11.7",
                   {t_.scanno, t_.nwrap, m.tsec, m.thr});
  console_->free_line({"Centre of scan data every 30 sec: "});
  console_->free_line({});
}

bool BinaryScanReader::next(Measurement& m) {
  if (ended_) return false;
  for (;;) {
    if (inext_ == 1 && !begin_scan(m)) return !(ended_ = true);
    const unsigned char* p = in_.at(irec_ - 1, kMeasBytes);
    if (p == nullptr) return !(ended_ = true);
    irec_ += kMeasBytes;
    std::int32_t count = le_u16(p + 3) % 10000;
    m.range = layout_.runit * le_u16(p) + range_offset_;
    m.ampl = static_cast<std::int8_t>(p[2]);
    m.angle_count = count;
    m.angle = layout_.aunit * 2 * count;
    m.tsec = layout_.tunit * le_u24(p + 5);
    m.i = inext_;
    count_wrap(m.tsec, t_.scanno);
    m.thr = measurement_time(m.tsec, t_.nwrap, win_.t0);
    t_.tprev = m.tsec;
    if (m.i == 1) {
      if (t_.nscans == 1) first_scan_lines(m);
      if (win_.nthin > 1 && t_.nscans % win_.nthin != 1) {
        // A thinned-out scan is passed over by position.
        irec_ += std::int64_t{kMeasBytes} * (layout_.nmeas - 1);
        inext_ = 1;
        continue;
      }
    }
    if (++inext_ > layout_.nmeas) inext_ = 1;
    if (m.thr > win_.tend) return !(ended_ = true);
    return true;
  }
}

void TextScanReader::start() {
  console_->record("' Number of scans skipped in start of file:' I7", {std::int64_t{0}});
}

bool TextScanReader::read_record(Measurement& m) {
  std::int32_t ampl = 0;
  in_.start_read();
  ReadStatus s = ReadStatus::ok;
  std::int64_t first_line = 0;
  // A record on one plain line is decoded whole; any other value by value.
  if (in_.plain_line(m.i, m.range, ampl, m.angle, m.tsec)) {
    first_line = in_.line();
    if (ampl < -128 || ampl > 127) s = ReadStatus::bad_value;
  } else {
    s = in_.integer(m.i);
    first_line = in_.line();
    if (s == ReadStatus::ok) s = in_.real(m.range);
    if (s == ReadStatus::ok) s = in_.integer(ampl);
    if (s == ReadStatus::ok && (ampl < -128 || ampl > 127)) s = ReadStatus::bad_value;
    if (s == ReadStatus::ok) s = in_.real(m.angle);
    if (s == ReadStatus::ok) s = in_.real(m.tsec);
  }
  if (s == ReadStatus::bad_value)
    console_->free_line({"*** warning: unreadable scanner record at line", first_line});
  if (s != ReadStatus::ok) return false;
  m.ampl = static_cast<std::int8_t>(ampl);
  m.angle_count = -1;
  m.range += range_offset_;
  return true;
}

bool TextScanReader::read_ahead() {
  if (read_record(ahead_)) {
    state_ = State::ahead;
    return true;
  }
  state_ = State::ended;
  return false;
}

// Counts the record's scan and wraps and gives its time; whether it is
// delivered, passed over by thinning, or ends the data (after tend).
inline TextScanReader::Place TextScanReader::place(Measurement& m) {
  if (m.i == 1) {
    ++t_.nscans;
    ++t_.scanno;
    m.newscan = true;
  }
  m.scanno = t_.scanno;
  if (m.tsec < t_.tprev) ++t_.nwrap;
  m.thr = measurement_time(m.tsec, t_.nwrap, win_.t0);
  t_.tprev = m.tsec;
  if (win_.nthin > 1 && t_.nscans % win_.nthin != 1) return Place::pass;
  if (m.thr > win_.tend) return Place::end;
  return Place::deliver;
}

bool TextScanReader::next(Measurement& m) {
  if (state_ != State::reading) [[unlikely]] {
    if (state_ == State::ended) return false;
    state_ = State::reading;
    m = ahead_;
  } else if (!read_record(m)) {
    state_ = State::ended;
    return false;
  }
  for (;;) {
    const Place p = place(m);
    if (p == Place::deliver) return true;
    if (p == Place::end || !read_record(m)) {
      state_ = State::ended;
      return false;
    }
  }
}

}  // namespace bf

// The deck's tests on every measurement the scanner file delivers in the
// time window: the rejection limits, then the aircraft's position in the area
// window; and the aircraft's state at each measurement that passes.
//
// The gate is the one sequential part of the measurement loop: its
// trajectory cursor only moves forward and its counters follow the order of
// the file. What it hands on (the measurement, the aircraft's state and the
// place in the trajectory table) is all a visitor needs, so that visitors may
// one day work on blocks of accepted measurements side by side.
#pragma once

#include <cstdint>
#include <limits>

#include "georef/interp.hpp"
#include "input/measurement.hpp"
#include "input/trajectory.hpp"

namespace bf {

// The deck's limits as the gate applies them.
struct GateLimits {
  double latmin = 0, latmax = 0, lonmin = 0, lonmax = 0;  // area window, degrees
  std::int32_t amin = 0, ilo = 0, ihi = 0;
  double rmin = 0;
  Misalignment mis;  // added to the interpolated attitude
};

// Why the deck's limits turn a measurement away, tested in the run's order.
// Limits: anything with the deck's amin, ilo, ihi and rmin.
enum class Rejection { none, amplitude, scan_index, range };

template <class Limits>
inline Rejection rejection(const Limits& l, const Measurement& m) {
  if (m.ampl < l.amin) return Rejection::amplitude;
  if (m.i < l.ilo || m.i > l.ihi) return Rejection::scan_index;
  if (m.range <= l.rmin) return Rejection::range;
  return Rejection::none;
}

// The aircraft outside the deck's area window (latmin to lonmax, degrees).
template <class Limits>
inline bool outside_area(const Limits& l, const AircraftState& s) {
  return s.lat_a < l.latmin || s.lat_a > l.latmax || s.lon_a < l.lonmin || s.lon_a > l.lonmax;
}

// Counters and statistics that the run summary prints. The gate counts all
// but npout, the points written.
struct RunStats {
  std::int64_t npout = 0, nrejampl = 0, nrejscan = 0, nrejrange = 0;
  double range_min = 9999, range_max = -9999;
  double h_a_min = 9999, h_a_max = -9999;
  double lat_a_min = 9999, lat_a_max = -9999;
  double lon_a_min = 9999, lon_a_max = -9999;
};

// A call from the measurement loop every `stride` measurements, with the
// number delivered so far; by default never.
struct LoopTick {
  std::int64_t stride = std::numeric_limits<std::int64_t>::max();
  void (*fn)(void* ctx, std::int64_t measurements) = [](void*, std::int64_t) {};
  void* ctx = nullptr;
};

// Where a loop that is left and taken up again stands against its tick.
struct TickCount {
  explicit TickCount(const LoopTick& t) : countdown(t.stride) {}
  std::int64_t countdown, n = 0;
};

class MeasurementGate {
 public:
  MeasurementGate(const GateLimits& limits, const TrajectoryTable& traj)
      : limits_(limits), traj_(traj), cursor_(traj) {}

  // True when m passes the limits and the aircraft is in the area window; s
  // then holds the aircraft's position and attitude at m's time (not the
  // speed: speed_at with place()). A rejection is counted by its reason; a
  // measurement with no trajectory sample to place it is dropped as one
  // outside the area is, uncounted.
  bool accept(const Measurement& m, AircraftState& s) {
    if (rejected(m)) return false;
    if (traj_.ngps == 0) return false;
    cursor_.position(m.thr, s);
    if (outside_area(limits_, s)) return false;
    update_stats(m.range, s);
    cursor_.attitude(limits_.mis, s);
    return true;
  }

  // Where the last accepted measurement lies in the trajectory table.
  const TrajectoryPlace& place() const { return cursor_.place(); }
  const RunStats& stats() const { return stats_; }

  // Every measurement `reader` delivers, into m; visit(m, s, place) for
  // each that passes. `tick` is called every tick.stride measurements.
  template <class Reader, class Visit>
  void for_each(Reader& reader, Measurement& m, Visit&& visit, const LoopTick& tick = {}) {
    std::int64_t countdown = tick.stride, n = 0;
    AircraftState s;
    while (reader.next(m)) {
      if (accept(m, s)) visit(m, s, cursor_.place());
      if (--countdown == 0) {
        countdown = tick.stride;
        n += tick.stride;
        tick.fn(tick.ctx, n);
      }
    }
  }

  // The same in parts: stops after the measurement for which visit returns
  // false, to be called again to go on (with the same `count`). False once
  // the reader has ended.
  template <class Reader, class Visit>
  bool for_each_while(Reader& reader, Measurement& m, Visit&& visit, const LoopTick& tick,
                      TickCount& count) {
    AircraftState s;
    while (reader.next(m)) {
      const bool go_on = !accept(m, s) || visit(m, s, cursor_.place());
      if (--count.countdown == 0) {
        count.countdown = tick.stride;
        count.n += tick.stride;
        tick.fn(tick.ctx, count.n);
      }
      if (!go_on) return true;
    }
    return false;
  }

  // The same for every `stride`-th measurement the reader delivers only (the
  // others are not tested, counted or visited).
  template <class Reader, class Visit>
  void for_each_nth(Reader& reader, std::int64_t stride, Measurement& m, Visit&& visit,
                    const LoopTick& tick = {}) {
    std::int64_t countdown = tick.stride, n = 0, k = 0;
    AircraftState s;
    while (reader.next(m)) {
      if (++k == stride) {
        k = 0;
        if (accept(m, s)) visit(m, s, cursor_.place());
      }
      if (--countdown == 0) {
        countdown = tick.stride;
        n += tick.stride;
        tick.fn(tick.ctx, n);
      }
    }
  }

 private:
  bool rejected(const Measurement& m) {
    switch (rejection(limits_, m)) {
      case Rejection::none:
        return false;
      case Rejection::amplitude:
        ++stats_.nrejampl;
        break;
      case Rejection::scan_index:
        ++stats_.nrejscan;
        break;
      case Rejection::range:
        ++stats_.nrejrange;
        break;
    }
    return true;
  }

  void update_stats(double range, const AircraftState& s) {
    track(s.h_a, stats_.h_a_min, stats_.h_a_max);
    track(range, stats_.range_min, stats_.range_max);
    track(s.lat_a, stats_.lat_a_min, stats_.lat_a_max);
    track(s.lon_a, stats_.lon_a_min, stats_.lon_a_max);
  }

  static void track(double v, double& lo, double& hi) {
    if (v < lo) lo = v;
    if (v > hi) hi = v;
  }

  GateLimits limits_;
  const TrajectoryTable& traj_;
  TrajectoryCursor cursor_;
  RunStats stats_;
};

}  // namespace bf

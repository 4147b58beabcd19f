// The per-measurement pipeline: rejection tests, area test and statistics,
// geolocation, averaging, the point file, then the centre track and the
// cross profiles.
#pragma once

#include <cstdint>
#include <limits>
#include <memory>
#include <optional>

#include "georef/geolocate.hpp"
#include "georef/interp.hpp"
#include "georef/rigorous.hpp"
#include "input/geoid.hpp"
#include "input/scanrec.hpp"
#include "input/trajectory.hpp"
#include "output/calib.hpp"
#include "output/centre.hpp"
#include "output/las.hpp"
#include "output/points.hpp"
#include "textio/outfile.hpp"

namespace bf {

struct PipelineConfig {
  double latmin = 0, latmax = 0, lonmin = 0, lonmax = 0;  // area window, degrees
  std::int32_t naver = 0;                                 // averaging span; 1 or less: none
  bool wrtpts = false, binout = false, calib = false, useatt = false;
  bool rigorous = false;  // with useatt: points on the ellipsoid
  std::int32_t amin = 0, ilo = 0, ihi = 0;
  double rmin = 0;
  LeverArm arm;
  Misalignment mis;
  std::optional<Boresight> boresight;  // full geolocation: the scanner's rotation
};

// Why the deck's limits turn a measurement away, tested in the run's order.
// Limits: anything with the deck's amin, ilo, ihi and rmin (the run
// parameters or the pipeline's configuration).
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

// Counters and statistics that the run summary prints.
struct RunStats {
  std::int64_t npout = 0, nrejampl = 0, nrejscan = 0, nrejrange = 0;
  double range_min = 9999, range_max = -9999;
  double h_a_min = 9999, h_a_max = -9999;
  double lat_a_min = 9999, lat_a_max = -9999;
  double lon_a_min = 9999, lon_a_max = -9999;
};

// The beam and the tan of its scan angle for every angle count of the binary
// form (counts are reduced mod 10000), computed exactly as for a single beam,
// turned by the boresight when one is given.
class BeamTable {
 public:
  explicit BeamTable(double aunit, const std::optional<Boresight>& boresight = std::nullopt);
  const Beam& operator[](std::int32_t count) const { return beams_[count]; }
  double tan(std::int32_t count) const { return tans_[count]; }

 private:
  std::unique_ptr<Beam[]> beams_;
  std::unique_ptr<double[]> tans_;
};

// A call from the measurement loop every `stride` measurements, with the
// number delivered so far; by default never.
struct LoopTick {
  std::int64_t stride = std::numeric_limits<std::int64_t>::max();
  void (*fn)(void* ctx, std::int64_t measurements) = [](void*, std::int64_t) {};
  void* ctx = nullptr;
};

// How points are written: not at all, as binary records or as text lines.
enum class PointFormat { none, binary, text };

// How points are geolocated: profile mode (no attitude), the flat-earth
// rotation, or on the ellipsoid.
enum class Geometry { profile, flat, rigorous };

class PointPipeline {
 public:
  struct Outputs {
    OutFile* points = nullptr;  // null when no point file is written
    OutFile* centre = nullptr;
    OutFile* cal = nullptr;  // null unless cross profiles are wanted
    OutFile* console = nullptr;
    LasWriter* las = nullptr;  // null unless a LAS file is written
  };

  PointPipeline(const PipelineConfig& cfg, const TrajectoryTable& traj, const GeoidGrid* geoid,
                const BeamTable* beams, Outputs out);

  // One measurement delivered by the scan reader; lowers m.newscan when it
  // opens an averaging group.
  void process(Measurement& m, std::int64_t nscans);

  // The measurement loop: every measurement `reader` delivers, into m. The
  // settings that never change during a run (attitude or profile mode, geoid,
  // point format, LAS file) are fixed at compile time, so the loop does not
  // test them.
  // `tick` is called every tick.stride measurements (a progress display).
  template <class Reader>
  void run_loop(Reader& reader, Measurement& m, const LoopTick& tick = {});

  const RunStats& stats() const { return stats_; }
  const CrossSums& cross_sums() const { return sums_; }

 private:
  template <Geometry G, bool Geoid, PointFormat Format, bool Las>
  void process_as(Measurement& m, std::int64_t nscans);
  template <class Reader, Geometry G, bool Geoid, PointFormat Format, bool Las>
  void loop_as(Reader& reader, Measurement& m, const LoopTick& tick);
  PointFormat format() const;
  template <Geometry G, bool Geoid, PointFormat Format, bool Las>
  struct ProcessPick;
  template <class Reader>
  struct LoopPick {
    template <Geometry G, bool Geoid, PointFormat Format, bool Las>
    struct With;
  };

  bool rejected(const Measurement& m);
  void update_stats(double range, const AircraftState& s);
  // xdist: the point's offset across the heading (rigorous mode), the
  // group's mean when a group closes.
  template <Geometry G>
  bool average(Measurement& m, const SurfacePoint& sp, double h_a, double& xdist, OutPoint& p);
  // xdist: the cross-profile distance; roll: the aircraft's, for the LAS scan angle.
  template <PointFormat Format, bool Las>
  void emit(const OutPoint& p, double xdist, double roll, std::int64_t scanno, std::int64_t nscans);

  struct Group {
    bool open = false;
    double thr = 0, lat = 0, lon = 0, h = 0, h_a = 0, scanang = 0, ampl = 0;
    std::int64_t gcount = 0;
    std::int64_t i0 = 0;
  };

  PipelineConfig cfg_;
  const TrajectoryTable& traj_;
  TrajectoryCursor cursor_;
  std::optional<GeoidLookup> geoid_lookup_;
  const BeamTable* beams_;
  Outputs out_;
  RunStats stats_;
  AttitudeTrigCache trig_;
  SeriesTermsTrack series_;           // rigorous mode
  std::optional<AttitudeTrig> bore_;  // text scanner form: turns each beam as it is made
  Geometry geometry_;
  CentreState centre_;
  CrossSums sums_;
  Group group_;
  double group_xdist_ = 0;  // rigorous mode: the open group's sum of xdist
};

}  // namespace bf

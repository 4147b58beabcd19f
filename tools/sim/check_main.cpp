// beamfall-check: compares a beamfall run with the truth of the simulated flight it processed.
// Every point is traced back to the measurement it came from; the true surface, the true
// footprint and the checker's own flat-earth statement are computed independently of
// beamfall, and the named metrics can be required to stay within bounds.
#include <cmath>
#include <cstdio>
#include <iostream>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "beam.hpp"
#include "deck_report.hpp"
#include "flat_earth.hpp"
#include "geoid_grid.hpp"
#include "options.hpp"
#include "runfiles/run_files.hpp"
#include "runfiles/text.hpp"
#include "surface.hpp"
#include "trajectory.hpp"
#include "truth.hpp"

namespace bsim {

using namespace runfiles;  // the shared readers and text helpers
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

const char* const kUsage = R"(usage: beamfall-check [options] [DIR]
Reads truth.txt and the input deck it names in DIR (default .), the point and centre files
the deck names and beamfall's report (DIR/report.txt), and prints the height residuals against
the true surface, the horizontal misfit against the true footprints, the error flat-earth
geolocation is expected to add for this flight, the centre track and the regression beside
the injected errors. Where the simulator wrote the true motion apart from the trajectory
file (motion.traj: --motion-rate, --traj-noise), the footprints come from the motion and the
checker's own statement of each point from the trajectory file, as beamfall read it.
  --report FILE          beamfall's standard output [DIR/report.txt]
  --rigorous             the run used beamfall --rigorous: each point is held against the
                         rigorous statement of its beam, and the cross profiles against the
                         offset across the heading
  --boresight R,P,H      the run used beamfall --boresight R,P,H (degrees): the checker's
                         statement of each beam is turned the same way, and only what is
                         left of the injected boresight is expected in the regression
  --range-offset M       the run used beamfall --range-offset M (metres)
  --require NAME<=X      fail (exit 1) unless metric NAME is at most X (also NAME>=X);
                         repeatable; the metrics are listed at the end of the output
  --version              the program's version
)";

struct Stat {
  long long n = 0;
  double sum = 0.0;
  double sum2 = 0.0;
  double maxabs = 0.0;
  void add(double v) {
    ++n;
    sum += v;
    sum2 += v * v;
    maxabs = std::max(maxabs, std::abs(v));
  }
  double mean() const { return n > 0 ? sum / static_cast<double>(n) : kNaN; }
  double rms() const { return n > 0 ? std::sqrt(sum2 / static_cast<double>(n)) : kNaN; }
  double sd() const {
    if (n < 2) return kNaN;
    const double m = mean();
    return std::sqrt(
        std::max(0.0, (sum2 - static_cast<double>(n) * m * m) / static_cast<double>(n - 1)));
  }
  double max() const { return n > 0 ? maxabs : kNaN; }
};

// Straight-line least squares through (x, y), as the run's regression forms it.
struct Line {
  double n = 0.0, sx = 0.0, sxx = 0.0, sy = 0.0, sxy = 0.0;
  void add(double x, double y) {
    n += 1.0;
    sx += x;
    sxx += x * x;
    sy += y;
    sxy += x * y;
  }
  double det() const { return sxx * n - sx * sx; }
  double intercept() const { return n > 1.0 ? (sxx * sy - sx * sxy) / det() : kNaN; }
  double slope() const { return n > 1.0 ? (n * sxy - sx * sy) / det() : kNaN; }
  double roll() const { return -slope() * 180.0 / kPi; }  // degrees
};

struct Run {
  std::string dir;
  Truth truth;
  Deck deck;
  std::optional<GeoidGrid> surface_grid;
  std::optional<GeoidGrid> deck_grid;
  std::optional<Surface> surface;
  std::optional<TrajectoryInterp> traj;      // the true motion
  std::optional<TrajectoryInterp> recorded;  // the trajectory file the run read, when not it
  std::optional<BeamModel> model;
  Report report;
  bool rigorous = false;  // the run placed points on the ellipsoid
  RunSensor sensor;       // the run's --boresight and --range-offset

  // Height of the true surface in the output's height system (above the geoid when the deck
  // loads a grid); degrees in.
  double reference(double lat, double lon) const {
    double h = surface->at(lat * kDeg, lon * kDeg).h;
    if (deck_grid) h -= geoid_height(*deck_grid, lat, lon);
    return h;
  }
  // The checker's own statement of the run's point: the measured beam from the aircraft's
  // state as the run's trajectory file gives it.
  FlatPoint model_point(const Measurement& m, int i) const {
    const double range = static_cast<double>(kRangeUnit) * m.range_count;
    auto place = rigorous ? rigorous_point : flat_earth_point;
    const TrajSample state = recorded ? recorded->at(m.t_hours) : m.state;
    return place(state, range, truth.pattern.angle_gon(i), deck.dx, deck.dy, deck.dz, deck.pitch0,
                 deck.roll0, deck.heading0, sensor);
  }
  // The boresight roll and the range bias the run leaves uncorrected.
  double roll_left() const { return truth.sensor.bore_roll - deck.roll0 - sensor.roll; }
  double bias_left() const { return truth.sensor.range_bias + sensor.range_offset; }
};

Run load(const std::string& dir, const std::string& report_path, bool rigorous,
         const RunSensor& sensor) {
  Run r;
  r.dir = dir;
  r.rigorous = rigorous;
  r.sensor = sensor;
  r.truth = read_truth(dir + "/truth.txt");
  r.deck = read_deck(dir + "/" + r.truth.deck);
  if (r.truth.geoid != "0") r.surface_grid = read_geoid_grid(dir + "/" + r.truth.geoid);
  if (r.deck.geoid != "0") r.deck_grid = read_geoid_grid(dir + "/" + r.deck.geoid);
  r.surface.emplace(r.truth.surface, r.surface_grid ? &*r.surface_grid : nullptr);
  if (r.truth.motion.empty()) {
    r.traj.emplace(read_trajectory(dir + "/" + r.truth.trajectory));
  } else {
    r.traj.emplace(read_trajectory(dir + "/" + r.truth.motion));
    r.recorded.emplace(read_trajectory(dir + "/" + r.truth.trajectory));
  }
  r.model.emplace(r.truth.pattern, *r.traj, *r.surface, r.truth.sensor);
  r.report = read_report(report_path);
  return r;
}

// Finds the measurement (scan k, index i) of a point from its time and index; i_seen holds
// only the low 8 bits in the binary point file. Returns the time offset in seconds.
double match(const ScanPattern& p, double thr, int i_seen, bool low8, std::int64_t& k, int& i) {
  double best = std::numeric_limits<double>::infinity();
  const double ts = thr * 3600.0;
  for (int cand = i_seen; cand <= p.nmeas; cand += low8 ? 256 : p.nmeas + 1) {
    if (cand < 1) continue;
    const double t0 = ScanPattern::seconds(p.tick(0, cand));
    const std::int64_t kk = std::llround((ts - t0) * p.scan_rate);
    for (std::int64_t q = kk - 1; q <= kk + 1; ++q) {
      if (q < 0 || q >= p.nscans) continue;
      const double d = std::abs(ts - ScanPattern::seconds(p.tick(q, cand)));
      if (d < best) {
        best = d;
        k = q;
        i = cand;
      }
    }
  }
  return best;
}

double distance_deg(double lat1, double lon1, double lat2, double lon2) {
  return horizontal_distance({lat1 * kDeg, lon1 * kDeg, 0.0}, {lat2 * kDeg, lon2 * kDeg, 0.0});
}

struct PointStats {
  std::int64_t points = 0, bad = 0, unmatched = 0, duplicates = 0;
  Stat time_offset, all, level, feature, level_model, unexplained;
  Stat horiz, horiz_feature, horiz_model, horiz_unexplained, horiz_excess;
  Stat flat_height, flat_horiz, flat_offset;
  std::map<int, Stat> bands;  // by 5-gon band of the beam angle from nadir
  Line model_line, closed_line;
  Stat surface_ref;  // true surface height under the footprints, output height system
  double scale_n = 0.0, scale_e = 0.0, radius = 0.0;
};

// The flat-earth error alone: the true offset from the aircraft to the footprint, turned
// into a position the flat-earth way.
void compare_with_beam(const Run& r, const PointRecord& p, std::int64_t k, int i, double residual,
                       bool feature, PointStats& s);

double flat_earth_alone(const Run& r, const Measurement& m, PointStats& s) {
  double north = 0.0, east = 0.0, down = 0.0;
  ned_offset(m.state, m.footprint, north, east, down);
  const FlatPoint f = flat_earth_offset(m.state, north, east, down);
  s.flat_height.add(f.h - r.surface->at(f.lat * kDeg, f.lon * kDeg).h);
  const double d = distance_deg(f.lat, f.lon, m.footprint.lat / kDeg, m.footprint.lon / kDeg);
  s.flat_horiz.add(d);
  s.flat_offset.add(std::hypot(north, east));
  return d;
}

void add_point(const Run& r, const PointRecord& p, std::vector<bool>& seen, PointStats& s) {
  const ScanPattern& pat = r.truth.pattern;
  const double residual = p.h - r.reference(p.lat, p.lon);
  s.all.add(residual);
  const bool feature = r.surface->on_feature(p.lat * kDeg, p.lon * kDeg);
  (feature ? s.feature : s.level).add(residual);
  if (r.deck.naver > 1) return;  // an average of several beams has no single footprint
  std::int64_t k = 0;
  int i = 0;
  const double dt = match(pat, p.thr, p.i, r.deck.binout, k, i);
  if (!std::isfinite(dt) || dt > 0.5 / pat.scan_rate) {
    ++s.unmatched;
    return;
  }
  const std::size_t slot = static_cast<std::size_t>(k * pat.nmeas + i - 1);
  if (seen[slot]) ++s.duplicates;
  seen[slot] = true;
  s.time_offset.add(dt);
  compare_with_beam(r, p, k, i, residual, feature, s);
}

// A point traced to beam i of scan k: against the beam's true footprint, the checker's own
// flat-earth statement of the beam, and the regression's expectations.
void compare_with_beam(const Run& r, const PointRecord& p, std::int64_t k, int i, double residual,
                       bool feature, PointStats& s) {
  const ScanPattern& pat = r.truth.pattern;
  const Measurement m = r.model->measure(k, i);
  const FlatPoint f = r.model_point(m, i);
  const double hm = f.h - (r.deck_grid ? geoid_height(*r.deck_grid, f.lat, f.lon) : 0.0);
  const double model_residual = hm - r.reference(f.lat, f.lon);
  if (!feature) s.level_model.add(model_residual);
  s.unexplained.add(residual - model_residual);
  const double flat = m.footprint.lat / kDeg, flon = m.footprint.lon / kDeg;
  const double misfit = distance_deg(p.lat, p.lon, flat, flon);
  s.horiz.add(misfit);
  if (feature) s.horiz_feature.add(misfit);
  s.horiz_model.add(distance_deg(f.lat, f.lon, flat, flon));
  s.horiz_unexplained.add(distance_deg(p.lat, p.lon, f.lat, f.lon));
  s.bands[static_cast<int>(std::floor((pat.angle_gon(i) - 100.0) / 5.0))].add(residual);
  // Against the truth alone: how much farther the point lies from its footprint than
  // flat-earth geolocation of the exact beam would put it (rigorous geolocation of the exact
  // beam puts it on the footprint).
  const double flat_alone = flat_earth_alone(r, m, s);
  s.horiz_excess.add(std::max(0.0, misfit - (r.rigorous ? 0.0 : flat_alone)));
  // Regression: the model's points, and the closed form for a residual misalignment e in
  // roll, whose residual over level ground is -H tan(scanang) e (H: scanner over surface).
  // The run's cross-track distance: tan(scanang) h_a, or the rigorous offset across the
  // heading, about H tan(scanang), which makes the slope e itself.
  const double x = r.rigorous ? f.across : std::tan(f.scanang) * m.state.h;
  s.model_line.add(x, hm);
  const double e = r.roll_left() * kDeg;
  const double ref = r.reference(flat, flon);
  const double above = m.origin.h - r.surface->at(m.footprint.lat, m.footprint.lon).h;
  s.closed_line.add(x, ref - r.bias_left() - above * std::tan(f.scanang) * e);
  s.surface_ref.add(ref);
}

PointStats point_stats(const Run& r) {
  PointStats s;
  const std::vector<PointRecord> pts =
      read_points(r.dir + "/" + r.deck.points, r.deck.binout, r.deck.naver > 1, s.bad);
  s.points = static_cast<std::int64_t>(pts.size());
  std::vector<bool> seen(static_cast<std::size_t>(r.truth.measurements), false);
  for (const PointRecord& p : pts)
    add_point(r, p, seen, s);
  const TrajSample& a = r.traj->samples().front();
  const double lat = a.lat * kDeg;
  s.scale_n = (meridian_radius(lat) + a.h) * kDeg / 111120.0 - 1.0;
  s.scale_e = (normal_radius(lat) + a.h) * kDeg / 111120.0 - 1.0;
  s.radius = std::sqrt(meridian_radius(lat) * normal_radius(lat));
  return s;
}

struct CentreStats {
  std::int64_t lines = 0, bad = 0, unmatched = 0;
  Stat misfit, unexplained, offtrack, height, airh;
};

CentreStats centre_stats(const Run& r) {
  CentreStats c;
  const std::vector<CentreRecord> lines = read_centre(r.dir + "/" + r.deck.centre, c.bad);
  c.lines = static_cast<std::int64_t>(lines.size());
  const ScanPattern& pat = r.truth.pattern;
  int ic = 1;  // first beam of a sweep past nadir: scan angle below zero, angle above 100 gon
  while (ic < pat.nmeas && !(pat.angle_gon(ic) > 100.0))
    ++ic;
  for (const CentreRecord& l : lines) {
    std::int64_t k = 0;
    int i = 0;
    const double dt = match(pat, l.thr, ic, false, k, i);
    if (!std::isfinite(dt) || dt > 0.5 / pat.scan_rate) {
      ++c.unmatched;
      continue;
    }
    const Measurement m = r.model->measure(k, i);
    const FlatPoint f = r.model_point(m, i);
    c.misfit.add(distance_deg(l.lat, l.lon, m.footprint.lat / kDeg, m.footprint.lon / kDeg));
    c.unexplained.add(distance_deg(l.lat, l.lon, f.lat, f.lon));
    c.offtrack.add(distance_deg(l.lat, l.lon, m.state.lat, m.state.lon));
    c.height.add(l.h - r.reference(l.lat, l.lon));
    c.airh.add(l.airh - m.state.h);
  }
  return c;
}

std::string mm(double metres) {
  return fixed(metres * 1000.0, 1);
}

void print_points(const Run& r, const PointStats& s) {
  std::cout << "points: " << s.points << " in " << r.deck.points << " ("
            << (r.deck.binout ? "binary" : "text") << "), report says " << r.report.npout
            << "; simulated " << r.truth.measurements << " measurements, " << r.truth.no_returns
            << " without return\n";
  std::cout << "  traced to their measurement: " << s.time_offset.n << ", unmatched " << s.unmatched
            << ", duplicates " << s.duplicates << ", time offset max "
            << fixed(s.time_offset.max() * 1000.0, 3) << " ms\n";
  std::cout << "height residual against the true surface" << (r.deck_grid ? " less the geoid" : "")
            << " (mm):\n";
  std::cout << "                          n      mean        sd       rms    max|.|\n";
  auto row = [](const std::string& name, const Stat& st) {
    char buf[160];
    std::snprintf(buf, sizeof buf, "  %-18s %9lld %9s %9s %9s %9s\n", name.c_str(), st.n,
                  mm(st.mean()).c_str(), mm(st.sd()).c_str(), mm(st.rms()).c_str(),
                  mm(st.max()).c_str());
    std::cout << buf;
  };
  row("all points", s.all);
  row("level surface", s.level);
  row("on ridges", s.feature);
  row("expected, level", s.level_model);
  row("unexplained", s.unexplained);
  for (const auto& [band, st] : s.bands) {
    row("angle " + std::to_string(100 + 5 * band) + ".." + std::to_string(105 + 5 * band) + " gon",
        st);
  }
  std::cout << "horizontal misfit against the true footprints (mm): rms " << mm(s.horiz.rms())
            << ", max " << mm(s.horiz.max()) << "; on ridges rms " << mm(s.horiz_feature.rms())
            << ", max " << mm(s.horiz_feature.max()) << "\n";
  std::cout << "  expected from " << (r.rigorous ? "rigorous" : "flat-earth")
            << " geolocation of the measured beam: max " << mm(s.horiz_model.max())
            << "; unexplained max " << mm(s.horiz_unexplained.max()) << "; beyond "
            << (r.rigorous ? "the true footprint" : "flat-earth geolocation of the exact beam")
            << " max " << mm(s.horiz_excess.max()) << "\n";
}

void print_flat_earth(const PointStats& s) {
  const double rho = s.flat_offset.max();
  std::cout << "flat-earth geolocation, expected error for this flight (own geometry):\n";
  std::cout << "  beam offsets from the aircraft up to " << fixed(rho, 1)
            << " m; 111120 m per degree scales north offsets by " << fixed(s.scale_n * 100.0, 3)
            << " % and east offsets by " << fixed(s.scale_e * 100.0, 3) << " %: up to "
            << fixed(rho * std::max(std::abs(s.scale_n), std::abs(s.scale_e)), 3)
            << " m horizontally\n";
  std::cout << "  the tangent plane leaves the ellipsoid by rho^2/2R: up to "
            << mm(rho * rho / (2.0 * s.radius)) << " mm in height\n";
  std::cout << "  computed beam by beam: height mean " << mm(s.flat_height.mean()) << " mm, rms "
            << mm(s.flat_height.rms()) << " mm, max " << mm(s.flat_height.max())
            << " mm; horizontal rms " << mm(s.flat_horiz.rms()) << " mm, max "
            << mm(s.flat_horiz.max()) << " mm\n";
}

void print_centre(const CentreStats& c, std::int64_t scans) {
  std::cout << "centre track: " << c.lines << " lines for " << scans << " scans, unmatched "
            << c.unmatched << "\n";
  std::cout << "  distance to the true footprint of the first beam past nadir: rms "
            << mm(c.misfit.rms()) << " mm, max " << mm(c.misfit.max()) << " mm (unexplained max "
            << mm(c.unexplained.max()) << " mm)\n";
  std::cout << "  distance from the aircraft's nadir: mean " << fixed(c.offtrack.mean(), 2)
            << " m, max " << fixed(c.offtrack.max(), 2) << " m; height residual max "
            << mm(c.height.max()) << " mm; airh max error " << mm(c.airh.max()) << " mm\n";
}

// Points and centre points the run should give when every beam is kept (no averaging or
// thinning): the returns of the scans whose first beam is not before the window's start,
// up to the first beam after its end. Outside the window each beam is simulated again.
struct Expected {
  std::int64_t points = 0;
  std::int64_t centres = 0;
};

Expected expected_counts(const Run& r) {
  const ScanPattern& p = r.truth.pattern;
  const Deck& d = r.deck;
  const double t0 = (1.0 / 60.0) * d.mm + d.hh + (1.0 / 3600.0) * d.ss;
  const double start = std::max(d.tstart, t0) * 3600.0;  // seconds
  const bool whole = ScanPattern::seconds(p.tick(0, 1)) >= start &&
                     ScanPattern::seconds(p.tick(p.nscans - 1, p.nmeas)) / 3600.0 <= d.tend;
  Expected e;
  if (whole) {
    e.points = r.truth.measurements - r.truth.no_returns;
    e.centres = p.nscans;
    return e;
  }
  int ic = 1;
  while (ic < p.nmeas && !(p.angle_gon(ic) > 100.0))
    ++ic;
  for (std::int64_t k = 0; k < p.nscans; ++k) {
    if (ScanPattern::seconds(p.tick(k, 1)) < start) continue;
    for (int i = 1; i <= p.nmeas; ++i) {
      if (ScanPattern::seconds(p.tick(k, i)) / 3600.0 > d.tend) return e;
      if (r.model->measure(k, i).returned) ++e.points;
      if (i == ic) ++e.centres;
    }
  }
  return e;
}

using Metrics = std::map<std::string, double>;

void regression_metrics(const Run& r, const PointStats& s, Metrics& m) {
  m["roll_reported"] = r.report.roll;
  m["roll_expected"] = s.closed_line.roll();
  m["roll_model"] = s.model_line.roll();
  m["roll_error"] = std::abs(r.report.roll - s.closed_line.roll());
  m["roll_model_error"] = std::abs(r.report.roll - s.model_line.roll());
  m["roll_abs"] = std::abs(r.report.roll);
  // Against the misalignment left in the processing itself.
  m["roll_injected_error"] = std::abs(r.report.roll - r.roll_left());
  m["bias_reported"] = r.report.bias;
  m["bias_expected"] = s.surface_ref.mean() - r.bias_left();
  m["bias_model"] = s.model_line.intercept();
  m["bias_error"] = std::abs(r.report.bias - m["bias_expected"]);
  m["bias_model_error"] = std::abs(r.report.bias - s.model_line.intercept());
  const SensorModel& t = r.truth.sensor;
  std::cout << "regression: bias " << fixed(r.report.bias, 2) << " m, roll "
            << fixed(r.report.roll, 2) << " degrees (report)\n";
  std::cout << "  injected: boresight roll " << exact(t.bore_roll) << ", pitch "
            << exact(t.bore_pitch) << ", heading " << exact(t.bore_heading)
            << " degrees; range bias " << exact(t.range_bias) << " m; deck roll0 "
            << exact(r.deck.roll0) << "\n";
  std::cout << "  expected, closed form: bias " << fixed(m["bias_expected"], 4) << " m (surface "
            << fixed(s.surface_ref.mean(), 4) << " m less the range bias), roll "
            << fixed(m["roll_expected"], 4)
            << (r.rigorous ? " degrees (boresight roll - roll0)\n"
                           : " degrees ((boresight roll - roll0) x height over surface / aircraft "
                             "height)\n");
  std::cout << "  expected, beam by beam: bias " << fixed(m["bias_model"], 4) << " m, roll "
            << fixed(m["roll_model"], 4) << " degrees\n";
}

Metrics metrics(const Run& r, const PointStats& s, const CentreStats& c) {
  Metrics m;
  const bool plain = r.deck.naver <= 1 && r.deck.nthin <= 1;
  const Expected expected = plain ? expected_counts(r) : Expected{};
  double mismatch = static_cast<double>(s.unmatched + s.duplicates);
  if (plain) mismatch += static_cast<double>(std::abs(s.points - expected.points));
  mismatch += static_cast<double>(std::abs(r.report.npout - s.points));
  if (r.deck.calib) mismatch += static_cast<double>(std::abs(r.report.ncal - r.report.npout));
  m["count_mismatch"] = mismatch;
  m["format_errors"] = static_cast<double>(s.bad + c.bad);
  m["time_offset_max"] = s.time_offset.max();
  m["all_rms"] = s.all.rms();
  m["all_max"] = s.all.max();
  m["level_mean_abs"] = std::abs(s.level.mean());
  m["level_rms"] = s.level.rms();
  m["level_sd"] = s.level.sd();
  m["level_max"] = s.level.max();
  m["level_rms_model"] = s.level_model.rms();
  m["feature_rms"] = s.feature.rms();
  m["unexplained_rms"] = s.unexplained.rms();
  m["unexplained_max"] = s.unexplained.max();
  m["horiz_misfit_max"] = s.horiz.max();
  m["horiz_misfit_rms"] = s.horiz.rms();
  m["horiz_excess_rms"] = s.horiz_excess.rms();
  m["surface_sd"] = s.surface_ref.sd();  // the relief under the traced points
  m["horiz_model_max"] = s.horiz_model.max();
  m["horiz_unexplained_max"] = s.horiz_unexplained.max();
  m["horiz_excess_max"] = s.horiz_excess.max();
  m["flat_height_max"] = s.flat_height.max();
  m["flat_horiz_max"] = s.flat_horiz.max();
  m["centre_missing"] =
      plain ? static_cast<double>(std::abs(expected.centres - c.lines) + c.unmatched) : kNaN;
  m["centre_misfit_max"] = c.misfit.max();
  m["centre_unexplained_max"] = c.unexplained.max();
  m["centre_offtrack_max"] = c.offtrack.max();
  m["centre_airh_max"] = c.airh.max();
  if (r.deck.calib) regression_metrics(r, s, m);
  return m;
}

bool check(const Metrics& m, const std::vector<std::string>& requires_) {
  bool ok = true;
  for (const std::string& req : requires_) {
    const bool le = req.find("<=") != std::string::npos;
    const std::size_t at = req.find(le ? "<=" : ">=");
    if (at == std::string::npos) throw ToolError("--require wants NAME<=X or NAME>=X: " + req);
    const std::string name = req.substr(0, at);
    const double bound = to_double("--require", req.substr(at + 2));
    auto it = m.find(name);
    if (it == m.end()) throw ToolError("--require: no metric '" + name + "' in this run");
    const double v = it->second;
    const bool pass = le ? v <= bound : v >= bound;  // NaN fails
    std::cout << (pass ? "PASS " : "FAIL ") << name << " = " << exact(v) << (le ? " <= " : " >= ")
              << exact(bound) << "\n";
    ok = ok && pass;
  }
  return ok;
}

int run(int argc, char** argv) {
  std::string report;
  std::vector<std::string> requires_;
  bool rigorous = false;
  Options o;
  o.add("--help", false, [](const std::string&) {
    std::cout << kUsage;
    std::exit(0);
  });
  o.add("--report", true, [&](const std::string& v) { report = v; });
  o.add("--rigorous", false, [&](const std::string&) { rigorous = true; });
  RunSensor sensor;
  o.add("--boresight", true, [&](const std::string& v) {
    const std::vector<double> t = to_doubles("--boresight", v, 3);
    sensor.roll = t[0];
    sensor.pitch = t[1];
    sensor.heading = t[2];
  });
  o.add("--range-offset", true,
        [&](const std::string& v) { sensor.range_offset = to_double("--range-offset", v); });
  o.add("--require", true, [&](const std::string& v) { requires_.push_back(v); });
  const std::vector<std::string> rest = o.parse(argc, argv);
  if (rest.size() > 1) throw ToolError("one run directory at most (try --help)");
  const std::string dir = rest.empty() ? "." : rest[0];
  if (report.empty()) report = dir + "/report.txt";
  const Run r = load(dir, report, rigorous, sensor);
  const PointStats s = point_stats(r);
  const CentreStats c = centre_stats(r);
  print_points(r, s);
  print_flat_earth(s);
  print_centre(c, r.truth.pattern.nscans);
  const Metrics m = metrics(r, s, c);
  std::cout << "metrics:";
  for (const auto& [name, v] : m)
    std::cout << " " << name << "=" << exact(v);
  std::cout << "\n";
  return check(m, requires_) ? 0 : 1;
}

}  // namespace
}  // namespace bsim

int main(int argc, char** argv) {
  try {
    return bsim::run(argc, argv);
  } catch (const std::exception& e) {
    std::cerr << "beamfall-check: " << e.what() << "\n";
    return 2;
  }
}

// Tie patches: small planar pieces of ground that two or more lines have
// measured, found in two passes over the lines' measurements. The first pass
// (a subsample) maps where each line has points; the second keeps the
// measurements that fall in candidate patches where lines overlap; the
// patches kept are planar and spread over slope directions and across the
// swaths.
#pragma once

#include <cmath>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "flight_lines.hpp"
#include "plane_fit.hpp"
#include "sensor.hpp"

namespace bfcal {

// A local level frame at a patch: east and north in metres from (lat0, lon0)
// and height above h0, by the ellipsoid's radii of curvature at lat0.
struct LocalFrame {
  double lat0 = 0, lon0 = 0, h0 = 0;  // degrees, metres
  double m_lat = 1, m_lon = 1;        // metres per degree
};

LocalFrame local_frame(double lat0, double lon0, double h0);

inline Local to_local(const LocalFrame& f, const bf::SurfacePoint& p) {
  return {(p.lon - f.lon0) * f.m_lon, (p.lat - f.lat0) * f.m_lat, p.h - f.h0};
}

// A fixed pseudo-random mixing of 64 bits (MurmurHash3's finaliser): a hash
// with no state, for orders that must not depend on the platform.
inline std::uint64_t mix(std::uint64_t x) {
  x ^= x >> 33;
  x *= 0xff51afd7ed558ccdULL;
  x ^= x >> 33;
  x *= 0xc4ceb3f9e5d1c6a5ULL;
  return x ^ (x >> 33);
}

// A surface point a line measured in a patch.
struct TiePoint {
  RawMeasurement m;
  int line = 0;
};

// A control point: a known height (deck's height system) at a place.
struct ControlPoint {
  double lat = 0, lon = 0, h = 0;  // degrees, metres
  double sigma = 0.01;             // metres
  int row = 0;                     // line of the control file
  bool sigma_given = true;         // false: the row gave none and `sigma` is the default
};

// A control point no patch could hold, and why (calibration.json's "reason").
struct UnusedControl {
  ControlPoint point;
  std::string reason;
};

struct Patch {
  LocalFrame frame;
  std::vector<TiePoint> points;       // by line
  std::vector<ControlPoint> control;  // control points in it
  double size = 0;                    // side, metres
};

struct PatchSettings {
  int max_patches = 2000;
  int target_points = 16;  // per line and patch: sets the patch size
  int min_points = 6;      // per line and patch
  int max_points = 32;     // per line and patch, evenly subsampled beyond
  double patch_size = 0;   // metres; 0: from the point density
  double planarity = 0;    // metres; 0: from the patches (at least 5 mm)
  int threads = 2;
};

struct PatchReport {
  double patch_size = 0;
  double planarity = 0;
  std::int64_t candidates = 0, planar = 0;
  std::vector<std::vector<bool>> overlaps;    // overlaps[i][j]: lines i and j share ground
  std::vector<UnusedControl> unused_control;  // by row
};

// Progress: the pass (1 or 2) and the share of the scanner bytes read so far.
using PassProgress = std::function<void(int pass, double share)>;

// The tie patches of the lines and the patches of the control points (one
// each, also where a single line covers it). A control point outside every
// swath, or whose lines' points around it give no plane, is left out and
// listed in report.unused_control.
std::vector<Patch> find_patches(const std::vector<Line>& lines,
                                const std::vector<ControlPoint>& control,
                                const PatchSettings& settings, PatchReport& report,
                                const PassProgress& progress = {});

}  // namespace bfcal

// What linear interpolation between a line's trajectory samples misses of the
// aircraft's motion, estimated from the samples' own second differences.
//
// Between samples h seconds apart, a motion whose second derivative is a is
// missed by a (t1 - t)(t - t0) / 2 at time t: by up to a h^2 / 8 midway, and
// by a h^2 / sqrt(120) RMS over the interval. The second derivative at each
// sample comes from its neighbours (the divided second difference). The misses
// of the attitude are turned into millimetres at the swath's edge: roll and
// pitch by the range there, heading by the distance across track; the
// position's misses count as they are.
#pragma once

#include <string>
#include <vector>

#include "flight_lines.hpp"
#include "patches.hpp"

namespace bfcal {

struct SamplingMiss {
  std::string line;
  double rate = 0;   // samples per second (median spacing), Hz
  double max_m = 0;  // the largest miss at the swath's edge over the line, metres
  double rms_m = 0;  // RMS over the line's intervals, metres
  double edge_range = 0, edge_across = 0;  // metres: the swath's edge, from the tie points
};

// The line's swath edge: the largest range and distance across track of its tie points.
struct SwathEdge {
  double range = 0, across = 0;  // metres
};

std::vector<SwathEdge> swath_edges(std::size_t lines, const std::vector<Patch>& patches);

// From the trajectory's samples over [tstart, tend] (decimal hours). Fewer than three
// samples leave everything 0.
SamplingMiss sampling_miss(const bf::TrajectoryTable& traj, double tstart, double tend,
                           const SwathEdge& edge);

// Each line's, its trajectory read again through the core's session.
std::vector<SamplingMiss> sampling_misses(const std::vector<Line>& lines,
                                          const std::vector<Patch>& patches);

}  // namespace bfcal

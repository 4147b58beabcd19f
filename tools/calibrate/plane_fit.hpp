// Planes through a patch's points in its local level frame, and the robust spread of
// points about a plane: what decides whether a piece of ground is planar enough to tie
// lines together, and how far the points lie off it.
#pragma once

#include <cmath>
#include <vector>

namespace bfcal {

// A point in a patch's local level frame: east, north and up, metres.
struct Local {
  double e = 0, n = 0, u = 0;
};

// Plane u = a + b e + c n fitted to local points by least squares, leaving out the points
// more than five robust standard deviations off, until the set settles (at most four
// rounds).
struct PlaneFit {
  double a = 0, b = 0, c = 0;  // metres, and metres per metre east and north
  double rms = 0;              // perpendicular distances of the points kept, metres
  int used = 0;                // points kept
  bool ok = false;             // at least three points spread over both axes
};

PlaneFit fit_plane(const std::vector<Local>& pts);

// Perpendicular distance of a local point from a plane (positive above), metres.
inline double plane_distance(double a, double b, double c, const Local& p) {
  return (p.u - (a + b * p.e + c * p.n)) / std::sqrt(1 + b * b + c * c);
}

// 1.4826 times the median absolute distance: the standard deviation of normally distributed
// distances, which gross errors in fewer than half of them hardly move. NaN when empty.
double robust_sigma(const std::vector<double>& distances);

}  // namespace bfcal

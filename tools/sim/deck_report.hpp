// The checker's own readers of a run's input deck and report: the tests' second opinion reads
// them without beamfall's code, so a fault in beamfall's deck reader or report cannot hide
// itself. The tools read decks through beamfall and results from its manifest instead.
#pragma once

#include <string>

namespace bsim {

struct Deck {
  std::string scanner, trajectory, geoid, points, centre;  // names, trailing blanks removed
  double hh = 0.0, mm = 0.0, ss = 0.0;
  double tstart = 0.0, tend = 0.0;
  double latmin = 0.0, latmax = 0.0, lonmin = 0.0, lonmax = 0.0;
  long long naver = 1, nthin = 1;
  bool bin2dd = true, binout = true, gpsatt = true, calib = true, useatt = true;
  double dx = 0.0, dy = 0.0, dz = 0.0;               // lever arm, metres
  double pitch0 = 0.0, roll0 = 0.0, heading0 = 0.0;  // degrees
  long long amin = 0, ilo = 0, ihi = 0;
  double rmin = 0.0;
};

Deck read_deck(const std::string& path);

struct Report {
  long long scans = -1;  // "Total number of scans read:"
  long long npout = -1;  // "Total number of points output:"
  long long ncal = -1;   // "no of points:"
  double bias = 0.0;     // NaN when missing or written as asterisks
  double roll = 0.0;
  // The rest of the run summary; NaN or -1 when missing (a field of asterisks is missing).
  double range_min = 0.0, range_max = 0.0;  // laser range, metres
  double elev_min = 0.0, elev_max = 0.0;    // aircraft height, metres
  double lat_min = 0.0, lat_max = 0.0;      // aircraft positions, degrees
  double lon_min = 0.0, lon_max = 0.0;
  long long rej_ampl = -1, rej_scan = -1, rej_range = -1;  // rejected measurements
};

Report read_report(const std::string& path);

}  // namespace bsim

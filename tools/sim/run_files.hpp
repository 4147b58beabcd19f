// Readers for the files of a beamfall run, as the checker sees them: the input deck, the
// point file (binary 18-byte records or text lines), the centre file and the run report.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

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

struct PointRecord {
  double thr = 0.0;  // decimal hours
  double lat = 0.0;  // degrees
  double lon = 0.0;
  double h = 0.0;  // metres
  int ampl = 0;
  int i = 0;  // binary form: low 8 bits only
  int gcount = 0;
};

// Binary records or text lines; `bad` counts text lines that are not 47 (50 with averaging)
// characters of readable fields.
std::vector<PointRecord> read_points(const std::string& path, bool binary, bool averaged,
                                     std::int64_t& bad);

struct CentreRecord {
  double thr = 0.0, lat = 0.0, lon = 0.0, h = 0.0;
  int ampl = 0;
  double airh = 0.0, range = 0.0;
};

std::vector<CentreRecord> read_centre(const std::string& path, std::int64_t& bad);

struct Report {
  long long scans = -1;  // "Total number of scans read:"
  long long npout = -1;  // "Total number of points output:"
  long long ncal = -1;   // "no of points:"
  double bias = 0.0;     // NaN when missing or written as asterisks
  double roll = 0.0;
};

Report read_report(const std::string& path);

}  // namespace bsim

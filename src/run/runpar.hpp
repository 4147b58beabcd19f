// The run parameters: the input deck's values and those derived at start.
#pragma once

#include <cstdint>
#include <string>

namespace bf {

constexpr int kNameWidth = 36;  // a name line's field

struct RunPar {
  // The five name fields, 36 characters each, blank-padded.
  std::string scanname, gpsname, geoidname, ptname, cenname;

  // Deck line 1: time of day at which the scanner timer counts from zero.
  double hh = 0;
  std::int32_t mm = 0;
  double ss = 0;
  // Line 2: processing window, decimal hours.
  double tstart = 0, tend = 0;
  // Line 3: area window for the aircraft position, degrees.
  double latmin = 0, latmax = 0, lonmin = 0, lonmax = 0;
  // Line 4.
  std::int32_t naver = 0, nthin = 0;
  bool bin2dd = false, binout = false, gpsatt = false, calib = false, useatt = false;
  // Line 5: lever arm in the body frame (forward, right, down), metres.
  double dx = 0, dy = 0, dz = 0;
  // Line 6: misalignment angles, degrees.
  double pitch0 = 0, roll0 = 0, heading0 = 0;
  // Lines 7-9: rejection limits.
  std::int32_t amin = 0;
  std::int32_t ilo = 0, ihi = 0;
  double rmin = 0;

  // Derived at start.
  double t0 = 0;  // decimal hours
  bool usegeoid = false;
  bool wrtpts = false;
};

// A name field without its trailing blanks, as used to open the file.
std::string file_name(const std::string& field);
// True when the field is "0" followed by blanks only: no file.
bool is_no_file(const std::string& field);

}  // namespace bf

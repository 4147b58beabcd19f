// The SBET ("smoothed best estimate of trajectory"), the navigation solution as the
// post-processing of a GNSS/INS writes it, and its accuracy file, the smrmsg: records of
// little-endian doubles without a header. Only the fields the trajectory file and the
// sigma file need are decoded; each is checked to be a number in its range.
#pragma once

#include <cstddef>

#include "records.hpp"

namespace sbet {

// 17 doubles (136 bytes) an epoch: GPS seconds of the week; latitude, longitude (radians);
// height (metres above the ellipsoid); velocities x, y, z (m/s, wander frame); roll,
// pitch, platform heading, wander angle (radians); accelerations x, y, z; angular rates
// x, y, z. The last six and the velocities are not used here.
inline constexpr std::size_t kSbetDoubles = 17;

struct SbetRecord {
  double time = 0;              // GPS seconds of the week
  double lat = 0, lon = 0;      // radians
  double h = 0;                 // metres above the ellipsoid
  double roll = 0, pitch = 0;   // radians
  double platform_heading = 0;  // radians, from grid north of the wander frame
  double wander = 0;            // radians: the wander frame's north from true north
};

SbetRecord decode_sbet(const char* record);

// Refuses (RecordFile::fail) a field that is not a number or out of its range: latitude
// and pitch beyond +-pi/2, roll beyond +-pi, longitude, headings and wander beyond +-2 pi,
// height outside -10 km .. 100 km, a time outside 0 .. two weeks (open at the top).
void check_sbet(const SbetRecord& r, const RecordFile& file);

// 10 doubles (80 bytes) an epoch: GPS seconds of the week; north, east and down position
// RMS (metres); north, east and down velocity RMS (m/s, not used here); roll, pitch and
// heading RMS (arc minutes).
inline constexpr std::size_t kSmrmsgDoubles = 10;

struct SmrmsgRecord {
  double time = 0;                          // GPS seconds of the week
  double north = 0, east = 0, down = 0;     // metres, RMS
  double roll = 0, pitch = 0, heading = 0;  // arc minutes, RMS
};

SmrmsgRecord decode_smrmsg(const char* record);

// Refuses a field that is not a number, a negative RMS, a position RMS of 1e5 m or more,
// an attitude RMS beyond a turn (21600 arc minutes), a time outside 0 .. two weeks.
void check_smrmsg(const SmrmsgRecord& r, const RecordFile& file);

}  // namespace sbet

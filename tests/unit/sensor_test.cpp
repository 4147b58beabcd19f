// The scanner's boresight and range offset, one beam at a time: each angle's
// axis, sign and place in the order roll, pitch, heading, worked by hand on
// a level aircraft heading north (body axes = north, east, down), then with
// the lever arm and the attitude, in the flat-earth and the rigorous mode.
#include "georef/sensor.hpp"

#include <gtest/gtest.h>

#include <cmath>

#include "aircraft.hpp"

#include "georef/rigorous.hpp"

namespace bf {
namespace {

const double kPi = std::acos(-1.0);
const double kS10 = std::sin(kPi / 18), kC10 = std::cos(kPi / 18);
const double kHalf = std::sqrt(0.5);  // the 150 gon beam: 45 degrees to the right

using test::aircraft;

struct BoresightCase {
  const char* what;
  double angle;  // gon
  Boresight bore;
  double heading, pitch, roll;  // the aircraft's
  LeverArm arm;
  double range;
  double north, east, down;  // metres from the aircraft, worked by hand
};

// Scanner beams: 100 gon is (0, 0, 1), 150 gon (0, h, h) with h = sqrt(1/2).
// Rx(r) (x, y, z) = (x, y cr - z sr, y sr + z cr); Ry(p) (x, y, z) =
// (x cp + z sp, y, -x sp + z cp); Rz(h) (x, y, z) = (x ch - y sh, x sh + y ch, z).
const BoresightCase kCases[] = {
    {"roll 10 tilts the nadir beam left, as an aircraft roll does",
     100,
     {10, 0, 0},
     0,
     0,
     0,
     {},
     100,
     0,
     -100 * kS10,
     100 * kC10},
    {"roll -10 tilts it right", 100, {-10, 0, 0}, 0, 0, 0, {}, 100, 0, 100 * kS10, 100 * kC10},
    {"pitch 10 tilts the nadir beam forward",
     100,
     {0, 10, 0},
     0,
     0,
     0,
     {},
     100,
     100 * kS10,
     0,
     100 * kC10},
    {"heading leaves the nadir beam alone", 100, {0, 0, 10}, 0, 0, 0, {}, 100, 0, 0, 100},
    {"heading 10 turns the right-hand beam clockwise, aft",
     150,
     {0, 0, 10},
     0,
     0,
     0,
     {},
     100,
     -100 * kHalf* kS10,
     100 * kHalf* kC10,
     100 * kHalf},
    // Rx(90) (0, 0, 1) = (0, -1, 0), then Rz(90): (1, 0, 0). Heading first would
    // leave (0, -1, 0).
    {"roll before heading: 90, 0, 90 turns the nadir beam forward",
     100,
     {90, 0, 90},
     0,
     0,
     0,
     {},
     100,
     100,
     0,
     0},
    // Rx(90) (0, h, h) = (0, -h, h); Ry(90): (h, -h, 0); Rz(90): (h, h, 0).
    {"roll, pitch, heading 90 each: the right-hand beam forward and right",
     150,
     {90, 90, 90},
     0,
     0,
     0,
     {},
     100,
     100 * kHalf,
     100 * kHalf,
     0},
    // ... and Rz(-90) (h, -h, 0) = (-h, -h, 0).
    {"roll 90, pitch 90, heading -90: aft and left",
     150,
     {90, 90, -90},
     0,
     0,
     0,
     {},
     100,
     -100 * kHalf,
     -100 * kHalf,
     0},
    {"the lever arm is not turned by the boresight",
     100,
     {10, 0, 0},
     0,
     0,
     0,
     {2, 1, 0.5},
     500,
     2,
     1 - 500 * kS10,
     0.5 + 500 * kC10},
    // Body (2 + 100 s10, 1, 0.5 + 100 c10), then the aircraft's heading 90:
    // north = -y, east = x.
    {"the attitude turns beam and lever arm: heading east, boresight pitch 10",
     100,
     {0, 10, 0},
     90,
     0,
     0,
     {2, 1, 0.5},
     100,
     -1,
     2 + 100 * kS10,
     0.5 + 100 * kC10},
    // Body (0, -s10, c10), then the aircraft's roll -10 takes it back to nadir.
    {"boresight roll 10 and aircraft roll -10 cancel",
     100,
     {10, 0, 0},
     0,
     0,
     -10,
     {},
     100,
     0,
     0,
     100},
};

TEST(Boresight, TurnsTheBeamByRollThenPitchThenHeading) {
  for (const BoresightCase& c : kCases) {
    SCOPED_TRACE(c.what);
    const AircraftState s = aircraft(c.heading, c.pitch, c.roll);
    const SensorModel sensor{c.arm, c.bore, 0};
    const SurfacePoint flat = geolocate_measurement(c.range, c.angle, s, sensor, false, nullptr);
    EXPECT_NEAR(flat.lat, 55 + c.north / 111120, 1e-10);
    EXPECT_NEAR(flat.lon, 9 + c.east / (111120 * std::cos(55 * kPi / 180)), 1e-10);
    EXPECT_NEAR(flat.h, 1000 - c.down, 1e-6);
    EXPECT_EQ(flat.scanang, scan_angle(c.angle));  // the scanner's own angle

    // On the ellipsoid: the same offsets through the exact conversion.
    const SurfacePoint rig = geolocate_measurement(c.range, c.angle, s, sensor, true, nullptr);
    const double lat = 55 * kDegToRad;
    const GeodeticOffset o = ned_to_geodetic_exact(
        make_ellipsoid_frame(std::sin(lat), std::cos(lat), 1000), c.north, c.east, c.down);
    EXPECT_NEAR(rig.lat, 55 + o.dlat * kRadToDegExact, 1e-10);
    EXPECT_NEAR(rig.lon, 9 + o.dlon * kRadToDegExact, 1e-10);
    EXPECT_NEAR(rig.h, 1000 + o.dh, 1e-6);
  }
}

TEST(Boresight, NoneLeavesEveryBeamBitForBit) {
  const AttitudeTrig none = boresight_trig(Boresight{});
  for (double angle : {0.0, 50.0, 99.98, 100.0, 100.02, 137.5, 150.0, 199.0}) {
    SCOPED_TRACE(angle);
    const Beam plain = make_beam(angle), turned = make_beam(angle, none);
    EXPECT_EQ(turned.scanang, plain.scanang);
    EXPECT_EQ(turned.bx, plain.bx);
    EXPECT_EQ(turned.by, plain.by);
    EXPECT_EQ(turned.bz, plain.bz);
  }
}

TEST(RangeOffset, IsAddedToTheRangeBeforeGeolocation) {
  // Nadir from 1000 m: a range of 400 m plus 0.03 puts the point 400.03 m down
  // (on the ellipsoid too: straight down is along the normal); at 150 gon the
  // 0.03 m lies along the beam.
  const AircraftState s = aircraft(0, 0, 0);
  const SensorModel plus{{}, {}, 0.03}, minus{{}, {}, -0.25};
  EXPECT_NEAR(geolocate_measurement(400, 100, s, plus, false, nullptr).h, 1000 - 400.03, 1e-9);
  EXPECT_NEAR(geolocate_measurement(400, 100, s, minus, true, nullptr).h, 1000 - 399.75, 1e-9);
  const SurfacePoint p = geolocate_measurement(100, 150, s, plus, false, nullptr);
  EXPECT_NEAR(p.h, 1000 - 100.03 * kHalf, 1e-9);
  EXPECT_NEAR(p.lon, 9 + 100.03 * kHalf / (111120 * std::cos(55 * kPi / 180)), 1e-12);
}

}  // namespace
}  // namespace bf

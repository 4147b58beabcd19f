// Geolocation of laser points: the full mode with lever arm and attitude, the
// profile mode, and the geoid subtraction at the point or at the aircraft.
#include "georef/geolocate.hpp"

#include <gtest/gtest.h>

#include <cmath>

#include "aircraft.hpp"

namespace bf {
namespace {

const double kPi = std::acos(-1.0);
const double k70 = 100 * std::sin(kPi / 4);  // 70.71 m: 100 m at 45 degrees
const double kSin10 = 100 * std::sin(kPi / 18), kCos10 = 100 * std::cos(kPi / 18);

using test::aircraft;

TEST(ScanAngle, IsZeroAtNadirAndNegativeToTheRight) {
  EXPECT_EQ(scan_angle(100), 0);
  EXPECT_NEAR(scan_angle(150), -kPi / 4, 1e-11);
  EXPECT_NEAR(scan_angle(50), kPi / 4, 1e-11);
  EXPECT_EQ(scan_angle(150), -50 * 0.015707963268);
}

TEST(GeolocateFull, NadirBeamLiesBelowTheAircraftWhateverTheHeading) {
  for (double heading : {0.0, 37.0, -120.0, 180.0}) {
    SCOPED_TRACE(heading);
    const SurfacePoint p =
        geolocate_full(500, make_beam(100), aircraft(heading, 0, 0), LeverArm{}, nullptr);
    EXPECT_EQ(p.lat, 55);
    EXPECT_EQ(p.lon, 9);
    EXPECT_EQ(p.h, 500);
  }
}

struct FullCase {
  const char* what;
  double angle, heading, pitch, roll;
  LeverArm arm;
  double range;
  double north, east, down;  // metres from the aircraft, derived by hand
};

TEST(GeolocateFull, RotatesBeamAndLeverArmIntoNorthEastDown) {
  const FullCase cases[] = {
      {"150 gon, heading north", 150, 0, 0, 0, {}, 100, 0, k70, k70},
      {"150 gon, heading east", 150, 90, 0, 0, {}, 100, -k70, 0, k70},
      {"150 gon, heading south", 150, 180, 0, 0, {}, 100, 0, -k70, k70},
      {"50 gon, heading north", 50, 0, 0, 0, {}, 100, 0, -k70, k70},
      {"pitch 10, heading north", 100, 0, 10, 0, {}, 100, kSin10, 0, kCos10},
      {"pitch 10, heading east", 100, 90, 10, 0, {}, 100, 0, kSin10, kCos10},
      {"roll 10: right wing down tilts the beam left", 100, 0, 0, 10, {}, 100, 0, -kSin10, kCos10},
      {"lever arm, heading north", 100, 0, 0, 0, {2, 1, 0.5}, 500, 2, 1, 500.5},
      {"lever arm, heading east", 100, 90, 0, 0, {2, 1, 0.5}, 500, -1, 2, 500.5},
  };
  for (const FullCase& c : cases) {
    SCOPED_TRACE(c.what);
    const SurfacePoint p = geolocate_full(c.range, make_beam(c.angle),
                                          aircraft(c.heading, c.pitch, c.roll), c.arm, nullptr);
    EXPECT_NEAR(p.lat, 55 + c.north / 111120, 1e-10);
    EXPECT_NEAR(p.lon, 9 + c.east / (111120 * std::cos(55 * kPi / 180)), 1e-10);
    EXPECT_NEAR(p.h, 1000 - c.down, 1e-6);
    EXPECT_EQ(p.scanang, scan_angle(c.angle));
  }
}

struct ProfileCase {
  const char* what;
  double angle, pitch, roll;
  double along, across, down;  // metres, derived by hand
};

TEST(GeolocateProfile, GivesAlongAndCrossTrackTimes) {
  const double w = 360 * 1000.0;  // 360 km/h in metres per hour
  const double kSin35 = 100 * std::sin(35 * kPi / 180), kCos35 = 100 * std::cos(35 * kPi / 180);
  const ProfileCase cases[] = {
      {"150 gon", 150, 0, 0, 0, k70, k70},
      {"pitch 10", 100, 10, 0, kSin10, 0, kCos10},
      {"roll 10 and 150 gon: 35 degrees to the right", 150, 0, 10, 0, kSin35, kCos35},
  };
  for (const ProfileCase& c : cases) {
    SCOPED_TRACE(c.what);
    AircraftState s = aircraft(77, c.pitch, c.roll);
    s.vel = 360;
    const SurfacePoint p =
        geolocate_profile(100, make_beam(c.angle), 10.25, s, LeverArm{5, 6, 1.5}, nullptr);
    EXPECT_NEAR(p.lat, 10.25 + c.along / w, 1e-12);
    EXPECT_NEAR(p.lon, c.across / w, 1e-12);
    EXPECT_NEAR(p.h, 1000 - c.down - 1.5, 1e-6);
  }
}

TEST(GeolocateProfile, LevelNadirGivesTheTimeAndNoOffset) {
  AircraftState s = aircraft(45, 0, 0);
  s.vel = 200;
  // Heading, dx and dy are not used in this mode.
  const SurfacePoint p =
      geolocate_profile(400, make_beam(100), 10.25, s, LeverArm{3, 4, 1.5}, nullptr);
  EXPECT_EQ(p.lat, 10.25);
  EXPECT_EQ(p.lon, 0);
  EXPECT_EQ(p.h, 1000 - 400 - 1.5);
}

// A 2 x 2 grid with the given south-west, north-west, south-east and
// north-east values.
GeoidGrid cell(double glat1, double glon1, double step_lat, double step_lon, float sw, float nw,
               float se, float ne) {
  GeoidGrid g;
  g.glat1 = glat1;
  g.glon1 = glon1;
  g.gdlat = step_lat;
  g.gdlon = step_lon;
  g.nrow = 2;
  g.ncol = 2;
  g.values[0] = sw;
  g.values[1] = se;
  g.values[2] = nw;
  g.values[3] = ne;
  return g;
}

TEST(GeolocateGeoid, FortyMetresLowerTheHeightByForty) {
  const GeoidGrid g = cell(50, 5, 10, 10, 40, 40, 40, 40);
  const AircraftState s = aircraft(30, 2, -3);
  const SurfacePoint plain = geolocate_full(500, make_beam(130), s, LeverArm{}, nullptr);
  GeoidLookup lookup(g);
  const SurfacePoint corrected = geolocate_full(500, make_beam(130), s, LeverArm{}, &lookup);
  EXPECT_EQ(corrected.h, plain.h - 40);
  EXPECT_EQ(corrected.lat, plain.lat);
  EXPECT_EQ(corrected.lon, plain.lon);
  EXPECT_EQ(s.h_a, 1000);  // the aircraft height is left alone
}

TEST(GeolocateGeoid, FullModeTakesTheGeoidAtThePoint) {
  // The geoid rises eastwards by 100 m over 0.002 degrees; the aircraft is on
  // the western edge, the point 70.71 m east of it.
  const GeoidGrid g = cell(55, 9, 0.002, 0.002, 0, 0, 100, 100);
  AircraftState s = aircraft(0, 0, 0);
  s.lat_a = 55.001;
  GeoidLookup lookup(g);
  const SurfacePoint p = geolocate_full(100, make_beam(150), s, LeverArm{}, &lookup);
  const double dlon = k70 / (111120 * std::cos(55.001 * kPi / 180));
  EXPECT_NEAR(p.h, 1000 - k70 - 100 * dlon / 0.002, 1e-6);
}

TEST(GeolocateGeoid, ProfileModeTakesTheGeoidAtTheAircraft) {
  // 30 m on the southern row (50 N), 50 m on the northern row (60 N): 40 m at
  // the aircraft (55 N). At the point's "latitude", a time of 10.25 hours,
  // the clamped grid would give 30 m.
  const GeoidGrid g = cell(50, 0, 10, 20, 30, 50, 30, 50);
  AircraftState s = aircraft(0, 0, 0);
  s.vel = 200;
  GeoidLookup lookup(g);
  const SurfacePoint p = geolocate_profile(400, make_beam(100), 10.25, s, LeverArm{}, &lookup);
  EXPECT_NEAR(p.h, 1000 - 400 - 40, 1e-9);
}

}  // namespace
}  // namespace bf

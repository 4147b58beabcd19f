// Rigorous geolocation against GeographicLib's Earth-centred conversion (an
// independent implementation): every point within 2 km of the aircraft within
// 0.5 mm in each coordinate, at any latitude, for the local expansion and for
// the exact path alike; and the beam and attitude handled as in the
// flat-earth mode.
#include <gtest/gtest.h>
#include <GeographicLib/Geocentric.hpp>
#include <GeographicLib/LocalCartesian.hpp>

#include <algorithm>
#include <cmath>
#include <memory>
#include <random>

#include "../unit/aircraft.hpp"
#include "georef/rigorous.hpp"

namespace bf {
namespace {

const double kPi = std::acos(-1.0);
constexpr double kTolerance = 0.0005;  // metres, in each coordinate

struct Place {
  double lat, lon, h;  // degrees, degrees, metres
};

// The reference: the point at (n, e, d) metres from `a` in its local level frame.
Place reference(const Place& a, double n, double e, double d) {
  const GeographicLib::LocalCartesian local(a.lat, a.lon, a.h, GeographicLib::Geocentric::WGS84());
  Place p{};
  local.Reverse(e, n, -d, p.lat, p.lon, p.h);
  return p;
}

// Differences in metres north, east and up between two nearby places.
struct Misfit {
  double north, east, up;
};

Misfit misfit(const Place& got, const Place& want) {
  const double lat = want.lat * kPi / 180;
  const double s = std::sin(lat);
  const double w2 = 1 - kWgs84E2 * s * s;
  const double rn = kWgs84A / std::sqrt(w2);
  const double rm = rn * (1 - kWgs84E2) / w2;
  double dlon = got.lon - want.lon;
  dlon -= 360 * std::round(dlon / 360);
  return {(got.lat - want.lat) * kPi / 180 * (rm + want.h),
          dlon * kPi / 180 * (rn + want.h) * std::cos(lat), got.h - want.h};
}

// The ways of converting: the one the program uses (which picks one of the
// others by the offset's size), then each of them alone.
enum class Path { chosen, series, near, exact };

Place convert(const Place& a, double n, double e, double d, Path path = Path::chosen) {
  const double sL = std::sin(a.lat * kPi / 180), cL = std::cos(a.lat * kPi / 180);
  const EllipsoidFrame f = make_ellipsoid_frame(sL, cL, a.h);
  const GeodeticOffset o = path == Path::exact  ? ned_to_geodetic_exact(f, n, e, d)
                           : path == Path::near ? ned_to_geodetic_near(f, n, e, d)
                           : path == Path::series
                               ? ned_to_geodetic_series(make_series_terms(sL, cL, a.h), n, e, d)
                               : ned_to_geodetic(sL, cL, a.h, n, e, d);
  return {a.lat + o.dlat * kRadToDegExact, a.lon + o.dlon * kRadToDegExact, a.h + o.dh};
}

struct Worst {
  double north = 0, east = 0, up = 0;
  void add(const Misfit& m) {
    north = std::max(north, std::fabs(m.north));
    east = std::max(east, std::fabs(m.east));
    up = std::max(up, std::fabs(m.up));
  }
};

// Random aircraft places at latitudes up to `lat_max` and offsets within
// `reach` metres (a uniform direction, the distance uniform up to reach).
Worst worst_misfit(double lat_min, double lat_max, double reach, Path path, int count) {
  std::mt19937_64 rng(20261210);
  std::uniform_real_distribution<double> lat(lat_min, lat_max), lon(-180, 180), h(-100, 9000),
      unit(-1, 1), dist(0, reach);
  Worst w;
  for (int k = 0; k < count; ++k) {
    const Place a{std::uniform_int_distribution<int>(0, 1)(rng) ? lat(rng) : -lat(rng), lon(rng),
                  h(rng)};
    double n = unit(rng), e = unit(rng), d = unit(rng);
    const double scale = dist(rng) / std::sqrt(n * n + e * e + d * d);
    n *= scale;
    e *= scale;
    d *= scale;
    w.add(misfit(convert(a, n, e, d, path), reference(a, n, e, d)));
  }
  return w;
}

TEST(RigorousGeolocation, WithinHalfAMillimetreOfTheExactConversionWithin2km) {
  struct Band {
    const char* what;
    double lat_min, lat_max, reach;
    Path path;
  };
  const Band bands[] = {
      {"all latitudes", 0, 90, 2000, Path::chosen},
      {"near the poles", 85, 90, 2000, Path::chosen},
      {"within 0.1 degree of a pole", 89.9, 90, 2000, Path::chosen},
      {"within 400 m (mostly the series)", 0, 80, 400, Path::chosen},
      {"closed-form expansion alone, up to 85 degrees", 0, 85, 2000, Path::near},
      {"exact conversion alone", 0, 90, 2000, Path::exact},
  };
  for (const Band& b : bands) {
    SCOPED_TRACE(b.what);
    const Worst w = worst_misfit(b.lat_min, b.lat_max, b.reach, b.path, 100000);
    EXPECT_LE(w.north, kTolerance);
    EXPECT_LE(w.east, kTolerance);
    EXPECT_LE(w.up, kTolerance);
    std::printf("%s: worst misfit north %.2e m, east %.2e m, up %.2e m\n", b.what, w.north, w.east,
                w.up);
  }
}

TEST(RigorousGeolocation, TheSeriesHoldsToItsReach) {
  // The reach shrinks with the distance from the polar axis: 3.5e-4 of it.
  struct Band {
    const char* what;
    double lat, reach;
  };
  const Band bands[] = {{"equator, 2.2 km", 0, 2233},
                        {"45 degrees, 1.6 km", 45, 1581},
                        {"78.5 degrees, 445 m", 78.5, 445},
                        {"88 degrees, 78 m", 88, 78}};
  for (const Band& b : bands) {
    SCOPED_TRACE(b.what);
    const Worst w = worst_misfit(b.lat, b.lat, b.reach / std::sqrt(3.0), Path::series, 20000);
    EXPECT_LE(w.north, kTolerance);
    EXPECT_LE(w.east, kTolerance);
    EXPECT_LE(w.up, kTolerance);
    std::printf("%s: worst misfit north %.2e m, east %.2e m, up %.2e m\n", b.what, w.north, w.east,
                w.up);
  }
}

TEST(RigorousGeolocation, FarOffsetsTakeTheExactPath) {
  // Ranges beyond the local expansion's reach, up to 50 km.
  const Worst w = worst_misfit(0, 90, 50000, Path::chosen, 20000);
  EXPECT_LE(w.north, kTolerance);
  EXPECT_LE(w.east, kTolerance);
  EXPECT_LE(w.up, kTolerance);
}

TEST(RigorousGeolocation, TheSwathEdgeLiesAboveTheEllipsoidAndSouthOfTheParallel) {
  // 1 km east of an aircraft at 78.5 N, 350 m below it along its local down:
  // the ellipsoid falls away under the tangent plane by rho^2 / 2N (78 mm),
  // and the parallel curves north of the east direction by rho^2 tan(lat) / 2N
  // (0.38 m), both of which the flat-earth mode leaves out.
  const Place a{78.5, -15, 350};
  const Place p = convert(a, 0, 1000, 350);
  const double lat = 78.5 * kPi / 180;
  const double w2 = 1 - kWgs84E2 * std::sin(lat) * std::sin(lat);
  const double rn = kWgs84A / std::sqrt(w2), rm = rn * (1 - kWgs84E2) / w2;
  EXPECT_NEAR(p.h, 1000.0 * 1000.0 / (2 * rn), 0.0005);
  const double south = 1000.0 * 1000.0 * std::tan(lat) / (2 * (rn + 350));
  EXPECT_NEAR((p.lat - 78.5) * kPi / 180 * rm, -south, 0.0005);
}

using test::aircraft;

TEST(RigorousGeolocation, UsesTheFlatEarthModesAttitudeConventions) {
  // Offsets derived by hand in the local level frame, as for the flat-earth
  // mode; the rigorous point must be the reference's at those offsets, and
  // xdist the offset across the heading, negative to the right.
  const double k70 = 100 * std::sin(kPi / 4);
  struct Case {
    const char* what;
    double angle, heading, pitch, roll;
    LeverArm arm;
    double north, east, down, xdist;
  };
  const Case cases[] = {
      {"150 gon, heading north", 150, 0, 0, 0, {}, 0, k70, k70, -k70},
      {"150 gon, heading east", 150, 90, 0, 0, {}, -k70, 0, k70, -k70},
      {"50 gon, heading south", 50, 180, 0, 0, {}, 0, k70, k70, k70},
      {"nadir, roll 45 right wing down, heading north", 100, 0, 0, 45, {}, 0, -k70, k70, k70},
      {"lever arm 2 m forward, heading west", 100, -90, 0, 0, {2, 0, 0}, 0, -2, 100, 0},
      {"lever arm 1 m right, heading north", 100, 0, 0, 0, {0, 1, 0}, 0, 1, 100, -1},
  };
  for (double lat : {0.0, 45.0, 78.5, 88.0, -60.0}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(c.what);
      SCOPED_TRACE(lat);
      const AircraftState s = aircraft(c.heading, c.pitch, c.roll, lat);
      const RigorousPoint r = geolocate_rigorous(100, make_beam(c.angle), s, c.arm, nullptr);
      const SurfacePoint& p = r.point;
      const Misfit m = misfit({p.lat, p.lon, p.h},
                              reference({s.lat_a, s.lon_a, s.h_a}, c.north, c.east, c.down));
      EXPECT_LE(std::fabs(m.north), 1e-6);
      EXPECT_LE(std::fabs(m.east), 1e-6);
      EXPECT_LE(std::fabs(m.up), 1e-6);
      EXPECT_NEAR(r.xdist, c.xdist, 1e-9);
      EXPECT_EQ(p.scanang, make_beam(c.angle).scanang);
    }
  }
}

TEST(RigorousGeolocation, NonFiniteInputGivesNonFiniteOutput) {
  const AircraftState s = aircraft(10, 1, 1, 45);
  for (double range : {std::nan(""), HUGE_VAL}) {
    const SurfacePoint p = geolocate_rigorous(range, make_beam(120), s, {}, nullptr).point;
    EXPECT_FALSE(std::isfinite(p.lat) && std::isfinite(p.lon) && std::isfinite(p.h));
  }
}

}  // namespace
}  // namespace bf

namespace bf {
namespace {

// A trajectory heading north-east from 78.5 N: samples `spacing` seconds
// apart at 70 m/s, climbing 1 m a second, gently rolling.
std::unique_ptr<TrajectoryTable> flight(double spacing, int samples) {
  auto t = std::make_unique<TrajectoryTable>();
  for (int k = 1; k <= samples; ++k) {
    const double sec = (k - 1) * spacing;
    t->time[k] = 10 + sec / 3600;
    t->lat[k] = 78.5 + 70 * sec * 0.7071 / 111700;
    t->lon[k] = -15 + 70 * sec * 0.7071 / 22300;
    t->h[k] = 350 + sec;
    t->pitch[k] = 2;
    t->roll[k] = std::sin(sec);
    t->heading[k] = 45;
  }
  t->ngps = samples;
  return t;
}

TEST(SeriesTermsTrack, GivesTheAircraftsOwnTermsAlongTheTrajectory) {
  // 10 Hz and 1 Hz (50 m apart in latitude): the terms are interpolated;
  // 0.05 Hz (1 km apart): computed at the aircraft. Either way the points
  // agree with terms computed at the aircraft within 1e-6 m, at the swath's
  // edge and beyond the series.
  for (double spacing : {0.1, 1.0, 20.0}) {
    SCOPED_TRACE(spacing);
    const auto table = flight(spacing, 50);
    TrajectoryCursor cursor(*table);
    SeriesTermsTrack track(*table);
    AttitudeTrigCache cache;
    double worst = 0;
    for (int k = 0; k < 2000; ++k) {
      const double thr = 10 + (k * 0.0123 * spacing) / 3600;
      AircraftState s;
      cursor.position(thr, s);
      cursor.attitude(Misalignment{}, s);
      AttitudeTrig t;
      cache.eval(s, t);
      for (double angle : {75.0, 100.0, 125.0}) {
        for (double range : {350.0, 3000.0}) {
          const SurfacePoint a = geolocate_rigorous(range, make_beam(angle), s, t,
                                                    track.at(cursor.place(), s, t.cL), {}, nullptr)
                                     .point;
          const SurfacePoint b = geolocate_rigorous(range, make_beam(angle), s, {}, nullptr).point;
          const Misfit m = misfit({a.lat, a.lon, a.h}, {b.lat, b.lon, b.h});
          worst = std::max({worst, std::fabs(m.north), std::fabs(m.east), std::fabs(m.up)});
        }
      }
    }
    EXPECT_LE(worst, 1e-6);
  }
}

}  // namespace
}  // namespace bf

// Each point's covariance against numeric derivatives of the geolocation
// itself: every error source on its own, moved a little each way through
// rotate_to_ned (the offset the flat-earth and the rigorous geolocation both
// place), on attitudes and beams that turn every axis, with and without a
// boresight. A wrong axis, sign or frame in one term shows as a mismatch of
// that term alone. Then the sigma trajectory's interpolation in time, and the
// calibration's covariance with its correlations.
#include "georef/tpu.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <functional>
#include <vector>

#include "textio/units.hpp"

namespace bf {
namespace {

struct Geometry {
  const char* what;
  double roll, pitch, heading;  // degrees
  double angle_gon;
  std::optional<Boresight> bore;
  LeverArm arm;
  double range;
};

const Geometry kGeometries[] = {
    {"level, nadir", 0, 0, 0, 100, std::nullopt, {0, 0, 0}, 350},
    {"level, swath edge", 0, 0, 0, 125, std::nullopt, {0.6, -0.3, 1.4}, 380},
    {"turned every way", 3.5, -2.2, 137, 78, std::nullopt, {0.6, -0.3, 1.4}, 420},
    {"heading across 180", -1.1, 4.0, -179.5, 122, std::nullopt, {-0.4, 0.2, 0.9}, 300},
    {"with a boresight", 2.0, 1.5, 61, 117, Boresight{0.4, -0.7, 1.3}, {0.6, -0.3, 1.4}, 360},
};

// The inputs a point's position depends on, each perturbed in turn.
struct Inputs {
  double roll, pitch, heading;  // radians
  double scan;                  // radians added to the scan angle
  double range;                 // metres
  double bore[3];               // radians added to the boresight's roll, pitch, heading
  double arm[3];                // metres
};

Beam beam_of(const Geometry& g, const Inputs& in) {
  const double gon = g.angle_gon - in.scan / kGonToRad;
  const Boresight b = g.bore.value_or(Boresight{});
  const Boresight turned{b.roll + in.bore[0] / kDegToRad, b.pitch + in.bore[1] / kDegToRad,
                         b.heading + in.bore[2] / kDegToRad};
  const bool any = g.bore || in.bore[0] != 0 || in.bore[1] != 0 || in.bore[2] != 0;
  return any ? make_beam(gon, boresight_trig(turned)) : make_beam(gon);
}

std::array<double, 3> place(const Geometry& g, const Inputs& in) {
  AircraftState s;
  s.roll = g.roll + in.roll / kDegToRad;
  s.pitch = g.pitch + in.pitch / kDegToRad;
  s.heading = g.heading + in.heading / kDegToRad;
  const LeverArm arm{g.arm.dx + in.arm[0], g.arm.dy + in.arm[1], g.arm.dz + in.arm[2]};
  const NedOffset v =
      rotate_to_ned(g.range + in.range, beam_of(g, in), direct_attitude_trig(s), arm);
  return {v.n, v.e, v.d};
}

// The point's change per unit of the input `which` sets, by central differences.
std::array<double, 3> derivative(const Geometry& g,
                                 const std::function<void(Inputs&, double)>& which, double step) {
  Inputs up{}, down{};
  which(up, step);
  which(down, -step);
  const auto a = place(g, up), b = place(g, down);
  return {(a[0] - b[0]) / (2 * step), (a[1] - b[1]) / (2 * step), (a[2] - b[2]) / (2 * step)};
}

PointCovariance outer(const std::array<double, 3>& j, double var) {
  return {var * j[0] * j[0], var * j[0] * j[1], var * j[0] * j[2],
          var * j[1] * j[1], var * j[1] * j[2], var * j[2] * j[2]};
}

void expect_near(const PointCovariance& got, const PointCovariance& want, const char* what) {
  const double scale =
      std::max({std::fabs(want.nn), std::fabs(want.ee), std::fabs(want.dd), 1e-12});
  const double tol = 1e-6 * scale;
  EXPECT_NEAR(got.nn, want.nn, tol) << what;
  EXPECT_NEAR(got.ne, want.ne, tol) << what;
  EXPECT_NEAR(got.nd, want.nd, tol) << what;
  EXPECT_NEAR(got.ee, want.ee, tol) << what;
  EXPECT_NEAR(got.ed, want.ed, tol) << what;
  EXPECT_NEAR(got.dd, want.dd, tol) << what;
}

PointCovariance covariance(const Geometry& g, const NavSigma& nav, SensorNoise sensor) {
  AircraftState s;
  s.roll = g.roll, s.pitch = g.pitch, s.heading = g.heading;
  const Beam beam = beam_of(g, Inputs{});
  sensor = sensor_noise_axes(sensor, g.bore ? &*g.bore : nullptr);
  return point_covariance(g.range, beam, direct_attitude_trig(s), g.arm, nav, sensor);
}

struct Source {
  const char* what;
  std::function<void(Inputs&, double)> set;
  std::function<void(NavSigma&, SensorNoise&, double)> sigma;
};

const Source kSources[] = {
    {"roll", [](Inputs& i, double d) { i.roll = d; },
     [](NavSigma& n, SensorNoise&, double s) { n.roll = s; }},
    {"pitch", [](Inputs& i, double d) { i.pitch = d; },
     [](NavSigma& n, SensorNoise&, double s) { n.pitch = s; }},
    {"heading", [](Inputs& i, double d) { i.heading = d; },
     [](NavSigma& n, SensorNoise&, double s) { n.heading = s; }},
    {"range", [](Inputs& i, double d) { i.range = d; },
     [](NavSigma&, SensorNoise& x, double s) { x.range = s; }},
    {"scan angle", [](Inputs& i, double d) { i.scan = d; },
     [](NavSigma&, SensorNoise& x, double s) { x.angle = s; }},
};

TEST(PointCovariance, EachSourceAgreesWithTheGeolocationsOwnDerivative) {
  for (const Geometry& g : kGeometries)
    for (const Source& src : kSources) {
      NavSigma nav;
      SensorNoise sensor;
      src.sigma(nav, sensor, 0.01);
      const auto j = derivative(g, src.set, 1e-6);
      expect_near(covariance(g, nav, sensor), outer(j, 1e-4),
                  (std::string(g.what) + ": " + src.what).c_str());
    }
}

TEST(PointCovariance, PositionAndLeverArmAddTheirVariancesAsTheyAre) {
  for (const Geometry& g : kGeometries) {
    NavSigma nav;
    nav.n = 0.03, nav.e = 0.04, nav.d = 0.05;
    SensorNoise sensor;
    sensor.lever = 0.02;
    // The lever arm through the attitude: R sigma^2 I R^T, numerically.
    PointCovariance want{0.03 * 0.03, 0, 0, 0.04 * 0.04, 0, 0.05 * 0.05};
    for (int k = 0; k < 3; ++k) {
      const auto j = derivative(
          g, [k](Inputs& i, double d) { i.arm[k] = d; }, 1e-4);
      const PointCovariance a = outer(j, 0.02 * 0.02);
      want.nn += a.nn, want.ne += a.ne, want.nd += a.nd, want.ee += a.ee, want.ed += a.ed,
          want.dd += a.dd;
    }
    expect_near(covariance(g, nav, sensor), want, g.what);
  }
}

TEST(PointCovariance, BoresightCovarianceWithCorrelationsAgreesWithDerivatives) {
  // Roll, pitch, heading in radians and the range offset; correlated.
  const double sigma[4] = {2e-4, 3e-4, 5e-4, 0.01};
  const double corr[4][4] = {
      {1, 0.3, -0.2, 0.5}, {0.3, 1, 0.1, -0.4}, {-0.2, 0.1, 1, 0}, {0.5, -0.4, 0, 1}};
  for (const Geometry& g : kGeometries) {
    SensorNoise sensor;
    sensor.bore.given = true;
    for (int a = 0; a < 4; ++a)
      for (int b = 0; b < 4; ++b)
        sensor.bore.c[a][b] = corr[a][b] * sigma[a] * sigma[b];
    std::array<std::array<double, 3>, 4> j;
    for (int k = 0; k < 3; ++k)
      j[k] = derivative(
          g, [k](Inputs& i, double d) { i.bore[k] = d; }, 1e-6);
    j[3] = derivative(
        g, [](Inputs& i, double d) { i.range = d; }, 1e-4);
    PointCovariance want;
    for (int a = 0; a < 4; ++a)
      for (int b = 0; b < 4; ++b) {
        const double w = sensor.bore.c[a][b];
        want.nn += w * j[a][0] * j[b][0], want.ne += w * j[a][0] * j[b][1];
        want.nd += w * j[a][0] * j[b][2], want.ee += w * j[a][1] * j[b][1];
        want.ed += w * j[a][1] * j[b][2], want.dd += w * j[a][2] * j[b][2];
      }
    expect_near(covariance(g, NavSigma{}, sensor), want, g.what);
  }
}

TEST(PointCovariance, FootprintIsAQuarterOfTheDivergenceAcrossTheBeam) {
  // Nadir on a level aircraft: all of it horizontal, none vertical. At 45 degrees to
  // the right (150 gon): half of it vertical (sin^2 45), the east part the other half.
  SensorNoise sensor;
  sensor.divergence = 0.8e-3;
  const double s = 400 * 0.8e-3 / 4;
  const Geometry nadir{"nadir", 0, 0, 0, 100, std::nullopt, {0, 0, 0}, 400};
  const PointCovariance at_nadir = covariance(nadir, NavSigma{}, sensor);
  EXPECT_NEAR(at_nadir.nn, s * s, 1e-15);
  EXPECT_NEAR(at_nadir.ee, s * s, 1e-15);
  EXPECT_NEAR(at_nadir.dd, 0, 1e-15);
  const Geometry side{"45 right", 0, 0, 0, 150, std::nullopt, {0, 0, 0}, 400};
  const PointCovariance at_side = covariance(side, NavSigma{}, sensor);
  EXPECT_NEAR(at_side.dd, s * s / 2, 1e-9);
  EXPECT_NEAR(at_side.ee, s * s / 2, 1e-9);
  EXPECT_NEAR(at_side.nn, s * s, 1e-9);
  EXPECT_NEAR(point_sigma(at_side).vertical, s * std::sqrt(0.5), 1e-9);
}

TEST(NavSigmaAt, InterpolatesInTimeAndHoldsTheEndsOutside) {
  const std::vector<SigmaEpoch> epochs = {{10.0, 0.02, 0.04, 0.06, 0.01, 0.02, 0.03},
                                          {10.5, 0.04, 0.08, 0.10, 0.03, 0.02, 0.05}};
  struct Case {
    double thr, n, d, roll;
  } cases[] = {{9.0, 0.02, 0.06, 0.01},
               {10.0, 0.02, 0.06, 0.01},
               {10.125, 0.025, 0.07, 0.015},
               {10.5, 0.04, 0.10, 0.03},
               {11.0, 0.04, 0.10, 0.03}};
  for (const Case& c : cases) {
    const NavSigma s = nav_sigma_at(epochs, c.thr);
    EXPECT_NEAR(s.n, c.n, 1e-15) << c.thr;
    EXPECT_NEAR(s.d, c.d, 1e-15) << c.thr;
    EXPECT_NEAR(s.roll, c.roll * kDegToRad, 1e-17) << c.thr;
  }
  // One epoch: that epoch at every time.
  const std::vector<SigmaEpoch> one = {epochs[1]};
  EXPECT_EQ(nav_sigma_at(one, 3.0).e, 0.08);
}

}  // namespace
}  // namespace bf

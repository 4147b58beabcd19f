// The simulator's own geometry and file writing, checked against closed forms, before any of
// it is trusted as the truth for beamfall's end-to-end tests.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include <unistd.h>

#include "beam.hpp"
#include "runfiles/text.hpp"
#include "scanner.hpp"
#include "surface.hpp"
#include "trajectory.hpp"
#include "truth.hpp"
#include "wgs84.hpp"

namespace bsim {

using namespace runfiles;  // the shared readers and text helpers
namespace {

const double kB = kWgs84A * (1.0 - kWgs84F);  // semi-minor axis

TEST(SimWgs84, EcefOfKnownPoints) {
  struct Case {
    double lat, lon, h, x, y, z;
  };
  const double n45 = kWgs84A / std::sqrt(1.0 - kWgs84E2 * 0.5);
  const Case cases[] = {
      {0.0, 0.0, 0.0, kWgs84A, 0.0, 0.0},
      {0.0, 90.0, 100.0, 0.0, kWgs84A + 100.0, 0.0},
      {90.0, 0.0, 0.0, 0.0, 0.0, kB},
      {-90.0, 0.0, 50.0, 0.0, 0.0, -kB - 50.0},
      {45.0, 180.0, 0.0, -n45 * std::sqrt(0.5), 0.0, n45 * (1.0 - kWgs84E2) * std::sqrt(0.5)},
  };
  for (const Case& c : cases) {
    const Vec3 p = to_ecef({c.lat * kDeg, c.lon * kDeg, c.h});
    EXPECT_NEAR(p.x, c.x, 1e-8) << c.lat << " " << c.lon;
    EXPECT_NEAR(p.y, c.y, 1e-8) << c.lat << " " << c.lon;
    EXPECT_NEAR(p.z, c.z, 1e-8) << c.lat << " " << c.lon;
  }
}

TEST(SimWgs84, GeodeticRoundTrip) {
  for (double lat : {-89.999, -60.0, -1e-7, 0.0, 33.3, 45.0, 70.0, 78.5, 84.0, 89.9999}) {
    for (double lon : {-179.9, -15.0, 0.0, 10.0, 179.99}) {
      for (double h : {-200.0, 0.0, 30.0, 380.0, 3000.0, 12000.0}) {
        const Geodetic g = to_geodetic(to_ecef({lat * kDeg, lon * kDeg, h}));
        EXPECT_NEAR(g.h, h, 2e-9) << lat << " " << lon << " " << h;
        EXPECT_NEAR(g.lat * kWgs84A, lat * kDeg * kWgs84A, 2e-9) << lat << " " << lon;
        if (std::abs(lat) < 89.9) {
          EXPECT_NEAR(g.lon * kWgs84A, lon * kDeg * kWgs84A, 2e-9) << lat << " " << lon;
        }
      }
    }
  }
}

TEST(SimWgs84, FrameSinesMatchAngles) {
  const Vec3 p = to_ecef({78.5 * kDeg, -15.0 * kDeg, 380.0});
  const GeoFrame f = to_geodetic_frame(p, true);
  EXPECT_NEAR(f.slat, std::sin(f.g.lat), 1e-15);
  EXPECT_NEAR(f.clat, std::cos(f.g.lat), 1e-15);
  EXPECT_NEAR(f.slon, std::sin(f.g.lon), 1e-15);
  EXPECT_NEAR(f.clon, std::cos(f.g.lon), 1e-15);
}

TEST(SimWgs84, BodyToNedConventions) {
  struct Case {
    double roll, pitch, heading;  // degrees
    Vec3 body;
    Vec3 ned;
  };
  const double s = std::sqrt(0.5);
  const Case cases[] = {
      {0, 0, 90, {1, 0, 0}, {0, 1, 0}},   // heading 90: the nose points east
      {0, 0, 0, {0, 1, 0}, {0, 1, 0}},    // right wing east when flying north
      {90, 0, 0, {0, 1, 0}, {0, 0, 1}},   // positive roll lowers the right wing
      {0, 90, 0, {1, 0, 0}, {0, 0, -1}},  // positive pitch raises the nose
      {0, 0, 45, {1, 0, 0}, {s, s, 0}},  {0, 0, -135, {1, 0, 0}, {-s, -s, 0}},
  };
  for (const Case& c : cases) {
    const Vec3 v = body_to_ned(c.roll * kDeg, c.pitch * kDeg, c.heading * kDeg) * c.body;
    EXPECT_NEAR(v.x, c.ned.x, 1e-15);
    EXPECT_NEAR(v.y, c.ned.y, 1e-15);
    EXPECT_NEAR(v.z, c.ned.z, 1e-15);
  }
  // Composite angles against the row formulas written out.
  const double r = 3.0 * kDeg, p = -2.0 * kDeg, h = 150.0 * kDeg;
  const Vec3 b{0.3, -0.7, 1.1};
  const double sr = std::sin(r), cr = std::cos(r), sp = std::sin(p), cp = std::cos(p);
  const double sh = std::sin(h), ch = std::cos(h);
  const Vec3 v = body_to_ned(r, p, h) * b;
  EXPECT_NEAR(v.x, cp * ch * b.x + (sp * ch * sr - cr * sh) * b.y + (sp * ch * cr + sr * sh) * b.z,
              1e-15);
  EXPECT_NEAR(v.y, cp * sh * b.x + (sh * sp * sr + cr * ch) * b.y + (sh * sp * cr - ch * sr) * b.z,
              1e-15);
  EXPECT_NEAR(v.z, -sp * b.x + cp * sr * b.y + cp * cr * b.z, 1e-15);
}

SurfaceDef level(double lat0, double lon0, double height) {
  SurfaceDef s;
  s.lat0 = lat0;
  s.lon0 = lon0;
  s.height = height;
  return s;
}

// Along the ellipsoid normal the geodetic latitude and longitude do not change, so a beam
// straight down meets a level surface after exactly the height difference.
TEST(SimIntersect, NadirBeamFallsTheHeightDifference) {
  for (double lat : {-70.0, 0.0, 45.0, 78.5, 89.0}) {
    for (double h0 : {0.0, 30.0, 2500.0}) {
      const Surface surface(level(lat, 10.0, h0), nullptr);
      const Geodetic a{lat * kDeg, 10.0 * kDeg, h0 + 350.0};
      const Mat3 c = ned_to_ecef(a.lat, a.lon);
      const Vec3 down{c.m[0][2], c.m[1][2], c.m[2][2]};
      Geodetic origin, foot;
      const double r = intersect(surface, to_ecef(a), down, origin, foot);
      EXPECT_NEAR(r, 350.0, 1e-6) << lat << " " << h0;
      EXPECT_NEAR(foot.h, h0, 1e-6);
      EXPECT_NEAR(foot.lat * kWgs84A, a.lat * kWgs84A, 1e-6);
      EXPECT_NEAR(foot.lon * kWgs84A, a.lon * kWgs84A, 1e-6);
    }
  }
}

// In the equatorial plane the constant-height surface is a circle of radius a + h0, so a
// slanted beam meets it where |O + r u| = a + h0: a quadratic in r.
TEST(SimIntersect, SlantBeamInTheEquatorialPlane) {
  const double h0 = 30.0, ha = 380.0;
  const Surface surface(level(0.0, 0.0, h0), nullptr);
  for (double theta_deg : {-30.0, -12.5, 0.5, 7.0, 25.0}) {
    const double th = theta_deg * kDeg;
    const Vec3 o{kWgs84A + ha, 0.0, 0.0};
    const Vec3 u{-std::cos(th), std::sin(th), 0.0};
    const double ro = kWgs84A + ha, rs = kWgs84A + h0;
    const double expected =
        ro * std::cos(th) - std::sqrt(rs * rs - ro * ro * std::sin(th) * std::sin(th));
    Geodetic origin, foot;
    EXPECT_NEAR(intersect(surface, o, u, origin, foot), expected, 1e-6) << theta_deg;
    EXPECT_NEAR(foot.lat, 0.0, 1e-12);
    EXPECT_NEAR(foot.h, h0, 1e-6);
  }
}

// The Newton step relies on the analytic surface gradient: compare it with differences.
TEST(SimSurface, RidgeGradientMatchesDifferences) {
  SurfaceDef def = level(78.5, -15.0, 30.0);
  def.kind = "ice";
  def.slope_n = 0.001;
  def.slope_e = -0.0005;
  def.ridges.push_back({10.0, -5.0, 35.0, 80.0, 2.0, 5.0});
  def.ridges.push_back({-30.0, 40.0, 120.0, 50.0, 1.0, 3.0});
  const Surface s(def, nullptr);
  const double step = 1e-3;  // metres
  for (double n = -60.0; n <= 60.0; n += 7.3) {
    for (double e = -60.0; e <= 60.0; e += 6.1) {
      const double lat = def.lat0 * kDeg + n / s.n_scale();
      const double lon = def.lon0 * kDeg + e / s.e_scale();
      const Surface::Sample c = s.at(lat, lon);
      const double dn =
          (s.at(lat + step / s.n_scale(), lon).h - s.at(lat - step / s.n_scale(), lon).h) /
          (2 * step);
      const double de =
          (s.at(lat, lon + step / s.e_scale()).h - s.at(lat, lon - step / s.e_scale()).h) /
          (2 * step);
      EXPECT_NEAR(c.dh_dn, dn, 1e-5) << n << " " << e;
      EXPECT_NEAR(c.dh_de, de, 1e-5) << n << " " << e;
    }
  }
}

TEST(SimSurface, GeneratedRidgesStayGentle) {
  std::vector<double> tn, te;
  for (int k = 0; k <= 100; ++k) {
    tn.push_back(70.0 * k);
    te.push_back(10.0 * k);
  }
  const std::vector<Ridge> ridges = generate_ridges(tn, te, 7);
  ASSERT_GT(ridges.size(), 20u);
  for (const Ridge& r : ridges) {
    EXPECT_LE(0.858 * r.height / r.width, 0.4) << "steepest flank";
    EXPECT_GE(r.height, 0.6);
    EXPECT_LE(r.height, 2.5);
  }
}

// A hill of 6 m and a hollow of 4 m: the gradient agrees with differences, the centre has the
// full height, and at and beyond the edge the ground is exactly level.
TEST(SimSurface, HillsAndHollowsAreSmoothAndEndAtTheirEdge) {
  SurfaceDef def = level(78.5, -15.0, 30.0);
  def.kind = "terrain";
  def.hills.push_back({100.0, -50.0, 6.0, 200.0});
  def.hills.push_back({-150.0, 120.0, -4.0, 150.0});
  const Surface s(def, nullptr);
  auto at = [&](double n, double e) {
    return s.at(def.lat0 * kDeg + n / s.n_scale(), def.lon0 * kDeg + e / s.e_scale());
  };
  EXPECT_NEAR(at(100.0, -50.0).h, 36.0, 1e-9);
  EXPECT_NEAR(at(-150.0, 120.0).h, 26.0, 1e-9);
  // (1 - 1/4)^2 of the height halfway out.
  EXPECT_NEAR(at(-150.0 + 75.0, 120.0).h, 30.0 - 4.0 * 0.5625, 1e-9);
  const double step = 1e-3;
  for (double n = -320.0; n <= 320.0; n += 23.7) {
    for (double e = -280.0; e <= 280.0; e += 19.3) {
      const Surface::Sample c = at(n, e);
      EXPECT_NEAR(c.dh_dn, (at(n + step, e).h - at(n - step, e).h) / (2 * step), 1e-6);
      EXPECT_NEAR(c.dh_de, (at(n, e + step).h - at(n, e - step).h) / (2 * step), 1e-6);
      const bool outside =
          std::hypot(n - 100.0, e + 50.0) >= 200.0 && std::hypot(n + 150.0, e - 120.0) >= 150.0;
      if (outside) {
        EXPECT_EQ(c.h, 30.0) << n << " " << e;
      }
      EXPECT_EQ(s.level(def.lat0 * kDeg + n / s.n_scale(), def.lon0 * kDeg + e / s.e_scale()),
                outside)
          << n << " " << e;
    }
  }
}

TEST(SimSurface, GeneratedTerrainStaysGentle) {
  std::vector<Ridge> ridges;
  std::vector<Hill> hills;
  generate_terrain(5, 6000.0, ridges, hills);
  EXPECT_EQ(ridges.size(), 576u);  // one per 250 m x 250 m of the 6 km square
  EXPECT_EQ(hills.size(), 44u);    // one per 900 m x 900 m
  for (const Ridge& r : ridges) {
    EXPECT_LE(0.858 * r.height / r.width, 0.4) << "steepest flank";
    EXPECT_GE(r.height, 0.5);
    EXPECT_LE(r.height, 2.0);
    EXPECT_LE(std::max(std::abs(r.n), std::abs(r.e)), 3000.0);
  }
  int hollows = 0;
  for (const Hill& h : hills) {
    EXPECT_GE(std::abs(h.height), 2.0);
    EXPECT_LE(std::abs(h.height), 8.0);
    EXPECT_LE(1.54 * std::abs(h.height) / h.radius, 0.09) << "steepest slope";
    hollows += h.height < 0;
  }
  EXPECT_GT(hollows, 0);
  EXPECT_LT(hollows, 44);
}

// Lines that name the same terrain origin and seed fly over the same ground wherever they
// start and whatever their own seed; another terrain seed is other ground. The control points
// lie on level ground under the swath, at the level height less the deck's geoid.
TEST(SimTerrain, SameOriginAndSeedGiveTheSameGround) {
  const std::string base =
      (std::filesystem::temp_directory_path() / ("beamfall-terrain-" + std::to_string(::getpid())))
          .string();
  auto fly = [&](const std::string& name, const std::string& args) {
    const std::string cmd = std::string(BEAMFALL_SIM_BIN) + " --out " + base + "/" + name +
                            " --duration 2 --nmeas 20 --surface terrain --surface-height 5"
                            " --terrain-origin 78.51,-15.02 " +
                            args + " > /dev/null";
    EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
    return read_truth(base + "/" + name + "/truth.txt");
  };
  const Truth a = fly("a", "--terrain-seed 4 --seed 1 --control-points 20");
  const Truth b = fly("b", "--terrain-seed 4 --seed 9 --lat 78.52 --lon -15.03 --track 200");
  const Truth c = fly("c", "--terrain-seed 5 --seed 1");
  const Surface sa(a.surface, nullptr), sb(b.surface, nullptr), sc(c.surface, nullptr);
  int differ = 0;
  for (int k = 0; k < 400; ++k) {
    const double lat = (78.51 + 0.0005 * (k % 20 - 10)) * kDeg;
    const double lon = (-15.02 + 0.0025 * (k / 20 - 10)) * kDeg;
    EXPECT_EQ(sa.at(lat, lon).h, sb.at(lat, lon).h);
    differ += sa.at(lat, lon).h != sc.at(lat, lon).h;
  }
  EXPECT_GT(differ, 40);

  const std::string csv = read_file(base + "/a/control.csv");
  const std::vector<std::string_view> lines = split_lines(csv);
  ASSERT_GE(lines.size(), 21u);
  EXPECT_EQ(lines[0], "latitude,longitude,height");
  for (std::size_t k = 1; k <= 20; ++k) {
    const std::vector<std::string_view> f = split_fields(lines[k]);
    ASSERT_EQ(f.size(), 3u) << lines[k];
    double lat = 0, lon = 0, h = 0;
    ASSERT_TRUE(parse_double(f[0], lat) && parse_double(f[1], lon) && parse_double(f[2], h));
    EXPECT_TRUE(sa.level(lat * kDeg, lon * kDeg)) << lines[k];
    EXPECT_EQ(h, 5.0);
    // Under the swath: the 2 s line runs 140 m (and its lead) from 78.5 N, 15 W, and the
    // points lie within 116 m of it.
    EXPECT_LT(std::hypot((lat - 78.5) * 111700, (lon + 15) * 22300), 300.0) << lines[k];
  }
  std::filesystem::remove_all(base);
}

template <typename T>
T get(const std::string& b, std::size_t at) {
  T v;
  std::memcpy(&v, b.data() + at, sizeof v);
  return v;
}

// Runs the simulator on a short turning flight and decodes its scanner file independently:
// header fields, sync words, angles, and the timer counts turned back into times by counting
// the wraps of the fraction of the second, against the scan pattern and the true ranges.
TEST(SimScannerFile, DecodesBackToTheSimulatedMeasurements) {
  const std::string dir =
      (std::filesystem::temp_directory_path() / ("beamfall-sim-test-" + std::to_string(::getpid())))
          .string();
  const std::string cmd = std::string(BEAMFALL_SIM_BIN) + " --out " + dir +
                          " --duration 3 --nmeas 37 --scan-rate 25 --start 23:59:58.5"
                          " --turn 2,0,3 --track 175 --range-bias 0.1 > /dev/null";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  const Truth t = read_truth(dir + "/truth.txt");
  const std::string b = read_file(dir + "/flight.2dd");
  const int nmeas = t.pattern.nmeas;
  ASSERT_EQ(nmeas, 37);
  ASSERT_EQ(b.size(), 47u + static_cast<std::size_t>(t.pattern.nscans) * (2u + 8u * nmeas));
  EXPECT_EQ(65536 * get<std::int16_t>(b, 2) + get<std::int16_t>(b, 0), 47);
  EXPECT_EQ(get<std::int16_t>(b, 4), 2 + 8 * nmeas);
  EXPECT_EQ(get<std::int16_t>(b, 10), 8);
  EXPECT_EQ(get<std::int16_t>(b, 12), nmeas);
  EXPECT_EQ(get<float>(b, 34), 0.008f);
  EXPECT_EQ(get<float>(b, 38), 0.01f);
  EXPECT_EQ(get<float>(b, 42), 0.00001f);
  EXPECT_EQ(b[46], 4);

  const SurfaceDef def = t.surface;
  const Surface surface(def, nullptr);
  const TrajectoryInterp traj(read_trajectory(dir + "/flight.traj"));
  const BeamModel model(t.pattern, traj, surface, t.sensor);
  // The deck's timer reference is the start of the first scan's second (23:59:58).
  const double t0 = 23 * 3600 + 59 * 60 + 58;
  double tprev = 0.0;
  int wraps = 0;
  bool crossed_midnight = false;
  std::size_t at = 47;
  for (std::int64_t k = 0; k < t.pattern.nscans; ++k) {
    ASSERT_EQ(get<std::int16_t>(b, at), 8 * nmeas);
    at += 2;
    for (int i = 1; i <= nmeas; ++i, at += 8) {
      const int timer = static_cast<unsigned char>(b[at + 5]) |
                        static_cast<unsigned char>(b[at + 6]) << 8 |
                        static_cast<unsigned char>(b[at + 7]) << 16;
      const double tsec = static_cast<double>(0.00001f) * timer;
      if (tsec < tprev) ++wraps;
      tprev = tsec;
      const Measurement m = model.measure(k, i);
      EXPECT_DOUBLE_EQ(t0 + wraps + tsec, ScanPattern::seconds(m.tick));
      crossed_midnight = crossed_midnight || t0 + wraps + tsec >= 86400.0;
      const int angle = get<std::uint16_t>(b, at + 3);
      EXPECT_EQ(angle, t.pattern.angle_count(i));
      const double range = static_cast<double>(0.008f) * get<std::uint16_t>(b, at);
      EXPECT_NEAR(range, m.range_true + 0.1, 0.004 + 1e-9);
      EXPECT_GE(get<std::int8_t>(b, at + 2), 20);
    }
  }
  EXPECT_TRUE(crossed_midnight);
  // Rising sweeps about nadir: 100 gon is angle count 5000.
  EXPECT_LT(t.pattern.angle_count(1), 5000);
  EXPECT_GT(t.pattern.angle_count(nmeas), 5000);
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace bsim

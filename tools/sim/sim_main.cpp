// beamfall-sim: simulates an airborne laser scanner flight over a known surface and writes the
// scanner file, trajectory, optional geoid grid, input deck and truth file of one run.
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "beam.hpp"
#include "flight.hpp"
#include "geoid_grid.hpp"
#include "options.hpp"
#include "runfiles/text.hpp"
#include "scanner.hpp"
#include "surface.hpp"
#include "trajectory.hpp"
#include "truth.hpp"
#include "wgs84.hpp"

namespace bsim {

using namespace runfiles;  // the shared readers and text helpers
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

const char* const kUsage = R"(usage: beamfall-sim [options]
Simulates a laser scanner flight and writes, into the output directory: flight.2dd (binary
scanner file), flight.traj (trajectory), geoid.grid (with --geoid), deck.txt (input deck for
beamfall) and truth.txt (surface and every injected error, read by beamfall-check).

flight
  --duration S           seconds of scanning [60]
  --start HH:MM:SS.sss   time of the first scan [14:20:07.25]
  --lat DEG --lon DEG    start position [78.5, -15]
  --track DEG            initial ground track [30]
  --speed M/S            ground speed [70]
  --height M             mean height above the surface's reference height [350]
  --turn RATE,START,DUR  gentle turn: degrees/s, start and duration in s [none]
  --crab DEG             heading minus track [2]
  --pitch DEG            the aircraft's mean pitch (nose up: the beam looks forward) [1.8]
  --wobble X             scale of the attitude and height oscillations, 0 for none [1]
  --traj-rate HZ         trajectory samples per second [10]
  --motion-rate HZ       samples per second of the true motion, a whole multiple of
                         --traj-rate: the aircraft moves linearly between them, and the
                         trajectory file holds every (motion-rate / traj-rate)-th, so that
                         interpolating it misses the motion in between; the motion is written
                         to motion.traj for the checker [--traj-rate: the file is the motion]
  --traj-noise POS_M,ATT_DEG,TAU_S
                         navigation errors in the trajectory file: first-order Gauss-Markov
                         processes on north, east and up (standard deviation POS_M metres) and
                         on roll, pitch and heading (ATT_DEG degrees), each correlated over
                         TAU_S seconds, drawn from --seed; the motion stays as flown [none]
scanner
  --scan-rate HZ         scans per second [20]
  --nmeas N              measurements per scan [208]
  --sweep GON            half width of the rising sweep about nadir (100 gon) [25]
surface
  --surface level|ice|terrain
                         level; sea ice with pressure ridges along the line and a slope;
                         or the shared terrain: ridges of 0.5-2 m and round hills and
                         hollows of 2-8 m fixed to --terrain-origin and --terrain-seed, the
                         same for every line that names them [level]
  --surface-height M     height of the level part (at the start position, or for terrain
                         anywhere) [30]
  --slope N,E            slope of the ice or terrain surface, m/m [ice 0.0002,0; terrain 0,0]
  --terrain-origin LAT,LON  centre of the shared terrain, degrees [the start position]
  --terrain-seed N       the shared terrain's features [1]
  --terrain-size KM      side of the square the terrain's features lie in [6]
  --control-points N     also write control.csv: N points on level ground inside the swath,
                         latitude,longitude,height in the deck's height system [none]
  --geoid FILE           geoid grid; a cropped copy is written and named in the deck
  --on-geoid             surface heights are above the geoid (needs --geoid)
injected errors
  --lever DX,DY,DZ       true scanner lever arm, body frame, metres [0.6,-0.3,1.4]
  --boresight R,P,H      scanner misalignment roll, pitch, heading, degrees [0,0,0]
  --range-bias M         added to every range [0]
  --range-noise M        standard deviation of Gaussian noise on every range, metres [0]
  --seed N               oscillation phases, ridges, range and trajectory noise,
                         amplitudes [1]
input deck
  --deck-lever DX,DY,DZ  lever arm written in the deck [the true one]
  --deck-misalign P,R,H  pitch0, roll0, heading0 written in the deck [0,0,0]
  --text-points          text point file points.txt instead of binary points.bin
  --naver N              averaging span [1]
  --window A,B           processing window from A to B seconds after the first scan's
                         second [the whole flight]
  --out DIR              output directory, created if missing [.]
  --version              the program's version
)";

struct Settings {
  FlightPlan plan;
  ScanPattern pattern;
  SensorModel sensor;
  SurfaceDef surface;
  double start = 14 * 3600 + 20 * 60 + 7.25;
  double height = 350.0;
  double sweep = 25.0;
  std::string geoid_file;
  Vec3 deck_lever;
  bool deck_lever_set = false;
  double deck_misalign[3] = {0.0, 0.0, 0.0};
  bool text_points = false;
  long long naver = 1;
  double window[2] = {-1.0, -1.0};
  std::string out = ".";
  double terrain_origin[2] = {kNaN, kNaN};
  std::uint64_t terrain_seed = 1;
  double terrain_size = 6000.0;  // metres
  long long control_points = 0;
  double motion_rate = 0.0;  // Hz; 0: the trajectory's rate
  TrajectoryNoise traj_noise;
};

Settings parse_settings(int argc, char** argv) {
  Settings s;
  s.sensor.lever = {0.6, -0.3, 1.4};
  Options o;
  s.surface.height = 30.0;
  auto num_opt = [&o](const char* name, double& dst) {
    o.add(name, true, [name, &dst](const std::string& v) { dst = to_double(name, v); });
  };
  o.add("--help", false, [](const std::string&) {
    std::cout << kUsage;
    std::exit(0);
  });
  num_opt("--duration", s.plan.duration);
  o.add("--start", true, [&](const std::string& v) {
    std::string t = v;
    for (char& c : t)
      c = c == ':' ? ',' : c;
    const std::vector<double> hms = to_doubles("--start", t, 3);
    s.start = hms[0] * 3600.0 + hms[1] * 60.0 + hms[2];
  });
  num_opt("--lat", s.plan.lat0);
  num_opt("--lon", s.plan.lon0);
  num_opt("--track", s.plan.track0);
  num_opt("--speed", s.plan.speed);
  num_opt("--height", s.height);
  o.add("--turn", true, [&](const std::string& v) {
    const std::vector<double> t = to_doubles("--turn", v, 3);
    s.plan.turn_rate = t[0];
    s.plan.turn_start = t[1];
    s.plan.turn_duration = t[2];
  });
  num_opt("--crab", s.plan.crab);
  num_opt("--pitch", s.plan.pitch);
  num_opt("--wobble", s.plan.wobble);
  num_opt("--traj-rate", s.plan.rate);
  num_opt("--motion-rate", s.motion_rate);
  o.add("--traj-noise", true, [&](const std::string& v) {
    const std::vector<double> t = to_doubles("--traj-noise", v, 3);
    s.traj_noise = {t[0], t[1], t[2]};
  });
  num_opt("--scan-rate", s.pattern.scan_rate);
  o.add("--nmeas", true, [&](const std::string& v) {
    s.pattern.nmeas = static_cast<int>(to_integer("--nmeas", v));
  });
  num_opt("--sweep", s.sweep);
  o.add("--surface", true, [&](const std::string& v) {
    if (v != "level" && v != "ice" && v != "terrain")
      throw ToolError("--surface is level, ice or terrain");
    s.surface.kind = v;
  });
  num_opt("--surface-height", s.surface.height);
  s.surface.slope_n = std::numeric_limits<double>::quiet_NaN();
  o.add("--slope", true, [&](const std::string& v) {
    const std::vector<double> t = to_doubles("--slope", v, 2);
    s.surface.slope_n = t[0];
    s.surface.slope_e = t[1];
  });
  o.add("--terrain-origin", true, [&](const std::string& v) {
    const std::vector<double> t = to_doubles("--terrain-origin", v, 2);
    s.terrain_origin[0] = t[0];
    s.terrain_origin[1] = t[1];
  });
  o.add("--terrain-seed", true, [&](const std::string& v) {
    s.terrain_seed = static_cast<std::uint64_t>(to_integer("--terrain-seed", v));
  });
  o.add("--terrain-size", true,
        [&](const std::string& v) { s.terrain_size = 1000.0 * to_double("--terrain-size", v); });
  o.add("--control-points", true,
        [&](const std::string& v) { s.control_points = to_integer("--control-points", v); });
  o.add("--geoid", true, [&](const std::string& v) { s.geoid_file = v; });
  o.add("--on-geoid", false, [&](const std::string&) { s.surface.on_geoid = true; });
  o.add("--lever", true, [&](const std::string& v) {
    const std::vector<double> t = to_doubles("--lever", v, 3);
    s.sensor.lever = {t[0], t[1], t[2]};
  });
  o.add("--boresight", true, [&](const std::string& v) {
    const std::vector<double> t = to_doubles("--boresight", v, 3);
    s.sensor.bore_roll = t[0];
    s.sensor.bore_pitch = t[1];
    s.sensor.bore_heading = t[2];
  });
  num_opt("--range-bias", s.sensor.range_bias);
  num_opt("--range-noise", s.sensor.range_noise);
  o.add("--seed", true, [&](const std::string& v) {
    s.sensor.seed = static_cast<std::uint64_t>(to_integer("--seed", v));
  });
  o.add("--deck-lever", true, [&](const std::string& v) {
    const std::vector<double> t = to_doubles("--deck-lever", v, 3);
    s.deck_lever = {t[0], t[1], t[2]};
    s.deck_lever_set = true;
  });
  o.add("--deck-misalign", true, [&](const std::string& v) {
    const std::vector<double> t = to_doubles("--deck-misalign", v, 3);
    for (int k = 0; k < 3; ++k)
      s.deck_misalign[k] = t[static_cast<std::size_t>(k)];
  });
  o.add("--text-points", false, [&](const std::string&) { s.text_points = true; });
  o.add("--naver", true, [&](const std::string& v) { s.naver = to_integer("--naver", v); });
  o.add("--window", true, [&](const std::string& v) {
    const std::vector<double> t = to_doubles("--window", v, 2);
    s.window[0] = t[0];
    s.window[1] = t[1];
  });
  o.add("--out", true, [&](const std::string& v) { s.out = v; });
  if (!o.parse(argc, argv).empty()) throw ToolError("unexpected argument (try --help)");
  return s;
}

// The motion's rate a whole multiple of the trajectory's, up to 1000 Hz; the noise's
// deviations not negative and its correlation time positive.
void validate_motion(Settings& s) {
  if (s.motion_rate != 0.0) {
    const double ratio = s.motion_rate / s.plan.rate;
    if (!(s.motion_rate <= 1000.0 && ratio >= 1.0 &&
          std::abs(ratio - std::round(ratio)) < 1e-9 * ratio))
      throw ToolError("--motion-rate: a whole multiple of --traj-rate, at most 1000");
    s.plan.oversample = static_cast<int>(std::lround(ratio));
  }
  const TrajectoryNoise& n = s.traj_noise;
  if (!(n.position >= 0.0 && n.attitude >= 0.0 && n.tau > 0.0) &&
      !(n.position == 0.0 && n.attitude == 0.0 && n.tau == 0.0))
    throw ToolError("--traj-noise: POS_M,ATT_DEG >= 0 and TAU_S > 0");
}

void validate(Settings& s) {
  ScanPattern& p = s.pattern;
  if (p.nmeas < 1 || p.nmeas > 4095) throw ToolError("--nmeas must be 1 ... 4095");
  if (!(p.scan_rate >= 1.0 && p.scan_rate <= 1000.0)) throw ToolError("--scan-rate: 1 ... 1000");
  if (!(s.sweep > 0.0 && s.sweep < 50.0)) throw ToolError("--sweep must lie in 0 ... 50 gon");
  if (!(s.plan.duration > 0.0)) throw ToolError("--duration must be positive");
  if (!(s.plan.rate > 0.0 && s.plan.rate <= 100.0)) throw ToolError("--traj-rate: 0 ... 100");
  validate_motion(s);
  if (!(s.start >= 0.0)) throw ToolError("--start must not be negative");
  const double sweep_ticks = p.duty * static_cast<double>(kTicksPerSecond) / p.scan_rate;
  if (sweep_ticks < p.nmeas) throw ToolError("measurements closer than the timer's 10 us step");
  if (s.surface.on_geoid && s.geoid_file.empty()) throw ToolError("--on-geoid needs --geoid");
  // Angle counts step 0.02 gon; 100 gon is count 5000.
  const int half = static_cast<int>(std::lround(s.sweep / 0.02));
  p.count_lo = 5000 - half;
  p.count_hi = 5000 + half;
  p.first_tick = std::llround(s.start * static_cast<double>(kTicksPerSecond));
  p.nscans = std::llround(s.plan.duration * p.scan_rate);
  s.plan.t_first = ScanPattern::seconds(p.first_tick);
  s.plan.seed = s.sensor.seed;
  if (std::isnan(s.surface.slope_n)) {
    s.surface.slope_n = s.surface.kind == "ice" ? 0.0002 : 0.0;
    s.surface.slope_e = 0.0;
  }
  if (s.surface.kind == "level" && (s.surface.slope_n != 0.0 || s.surface.slope_e != 0.0)) {
    throw ToolError("--slope applies to --surface ice");
  }
  if (!s.deck_lever_set) s.deck_lever = s.sensor.lever;
  if (!(s.terrain_size > 0.0 && s.terrain_size <= 100000.0))
    throw ToolError("--terrain-size: 0 ... 100 km");
  if (s.control_points < 0 || s.control_points > 100000)
    throw ToolError("--control-points: 0 ... 100000");
  if (!(std::abs(s.plan.pitch) < 30.0)) throw ToolError("--pitch must lie within +-30 degrees");
  // The origin places the shared terrain; any other surface would silently ignore it.
  if (!std::isnan(s.terrain_origin[0]) && s.surface.kind != "terrain")
    throw ToolError("--terrain-origin needs --surface terrain");
}

// A command line that cannot be used: exit status 2, as the other programs give.
struct UsageError : ToolError {
  using ToolError::ToolError;
};

Settings usable_settings(int argc, char** argv) {
  try {
    Settings s = parse_settings(argc, argv);
    validate(s);
    return s;
  } catch (const ToolError& e) {
    throw UsageError(e.what());
  }
}

std::string deck_text(const Settings& s, const Truth& t) {
  const std::int64_t sec = s.pattern.first_tick / kTicksPerSecond;
  const char* sw = s.text_points ? "F" : "T";
  std::string d;
  d += t.scanner + "\n" + t.trajectory + "\n" + t.geoid + "\n";
  d += std::string(s.text_points ? "points.txt" : "points.bin") + "\ncentre.txt\n";
  // Timer reference: the start of the second in which the first scan's timer runs.
  d += std::to_string(sec / 3600) + " " + std::to_string(sec / 60 % 60) + " " +
       std::to_string(sec % 60) + "\n";
  if (s.window[1] > s.window[0]) {
    d += fixed((static_cast<double>(sec) + s.window[0]) / 3600.0, 12) + " " +
         fixed((static_cast<double>(sec) + s.window[1]) / 3600.0, 12) + "\n";
  } else {
    d += "0 48\n";  // the window start is raised to the timer reference
  }
  d += "-90 90 -180 180\n";
  d += std::to_string(s.naver) + " 1 T " + sw + " T T T\n";
  d += exact(s.deck_lever.x) + " " + exact(s.deck_lever.y) + " " + exact(s.deck_lever.z) + "\n";
  d += exact(s.deck_misalign[0]) + " " + exact(s.deck_misalign[1]) + " " +
       exact(s.deck_misalign[2]) + "\n";
  d += "1\n";  // amin: a missing return has amplitude 0
  d += "1 " + std::to_string(s.pattern.nmeas) + "\n";
  d += "1\n";  // rmin, metres
  return d;
}

// N control points on level ground inside the middle 80 % of the swath, during the scanning:
// "latitude,longitude,height" (degrees, metres in the deck's height system, that is less the
// geoid when the deck names a grid).
std::string control_points_csv(const Settings& s, const Surface& surface,
                               const std::vector<TrajSample>& samples, const GeoidGrid* deck_grid) {
  const double t0 = s.plan.t_first / 3600.0, t1 = (s.plan.t_first + s.plan.duration) / 3600.0;
  std::vector<const TrajSample*> flown;
  for (const TrajSample& x : samples)
    if (x.t >= t0 && x.t <= t1) flown.push_back(&x);
  if (flown.empty()) throw ToolError("no trajectory sample inside the scanning for control points");
  const double half = 0.8 * s.height * std::tan(s.sweep * 0.9 * kDeg);
  std::string csv = "latitude,longitude,height\n";
  long long written = 0;
  std::uint64_t draw = 0;
  auto u = [&](double lo, double hi) {
    return lo + (hi - lo) * uniform01(s.sensor.seed, 79, draw++);
  };
  while (written < s.control_points) {
    if (draw > 2000 * static_cast<std::uint64_t>(s.control_points) + 2000)
      throw ToolError("too little level ground under the swath for the control points");
    const TrajSample& a = *flown[std::min(
        flown.size() - 1, static_cast<std::size_t>(u(0.0, static_cast<double>(flown.size()))))];
    const double across = u(-half, half);
    const double right = (a.heading + 90.0) * kDeg, lat = a.lat * kDeg;
    const double plat = lat + across * std::cos(right) / meridian_radius(lat);
    const double plon =
        a.lon * kDeg + across * std::sin(right) / (normal_radius(lat) * std::cos(lat));
    if (!surface.level(plat, plon)) continue;
    double h = surface.at(plat, plon).h;
    if (deck_grid != nullptr) h -= geoid_height(*deck_grid, plat / kDeg, plon / kDeg);
    csv += fixed(plat / kDeg, 9) + "," + fixed(plon / kDeg, 9) + "," + fixed(h, 4) + "\n";
    ++written;
  }
  return csv;
}

std::string trajectory_text(const std::vector<TrajSample>& samples) {
  std::string text;
  for (const TrajSample& x : samples)
    text += format_sample(x) + "\n";
  return text;
}

// Writes the scanner file scan by scan; returns the number of missing returns.
std::int64_t write_scanner(const std::string& path, const BeamModel& model) {
  const ScanPattern& p = model.pattern();
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen(path.c_str(), "wb"), &std::fclose);
  if (!f) throw ToolError("cannot create " + path);
  std::string buf = encode_header(p.nmeas);
  const std::size_t flush_at = 1u << 22;
  buf.reserve(flush_at + 16 * static_cast<std::size_t>(p.nmeas));
  std::int64_t missing = 0;
  const auto sync = static_cast<std::int16_t>(8 * p.nmeas);
  for (std::int64_t k = 0; k < p.nscans; ++k) {
    buf.append(reinterpret_cast<const char*>(&sync), 2);
    for (int i = 1; i <= p.nmeas; ++i) {
      const Measurement m = model.measure(k, i);
      if (!m.returned) ++missing;
      encode_measurement(buf, m.range_count, m.ampl, m.angle_count,
                         static_cast<std::uint32_t>(m.tick % kTicksPerSecond));
    }
    if (buf.size() >= flush_at) {
      if (std::fwrite(buf.data(), 1, buf.size(), f.get()) != buf.size()) {
        throw ToolError("cannot write " + path);
      }
      buf.clear();
    }
  }
  if (std::fwrite(buf.data(), 1, buf.size(), f.get()) != buf.size() ||
      std::fclose(f.release()) != 0) {
    throw ToolError("cannot write " + path);
  }
  return missing;
}

int run(int argc, char** argv) {
  Settings s = usable_settings(argc, argv);
  std::filesystem::create_directories(s.out);
  const std::string dir = s.out + "/";

  GeoidGrid grid;
  Truth t;
  if (!s.geoid_file.empty()) {
    grid = read_geoid_grid(s.geoid_file);
    t.geoid = "geoid.grid";
  }
  s.surface.lat0 = s.plan.lat0;
  s.surface.lon0 = s.plan.lon0;
  if (s.surface.kind == "terrain" && !std::isnan(s.terrain_origin[0])) {
    s.surface.lat0 = s.terrain_origin[0];
    s.surface.lon0 = s.terrain_origin[1];
  }
  double base = s.surface.height;
  if (s.surface.on_geoid) base += geoid_height(grid, s.plan.lat0, s.plan.lon0);
  if (std::isnan(base)) throw ToolError("the start position lies outside the geoid grid");
  s.plan.altitude = base + s.height;

  const std::vector<TrajSample> samples = fly(s.plan);
  const bool own_motion = s.plan.oversample > 1 || s.traj_noise.tau > 0.0;
  if (own_motion) {
    t.motion = "motion.traj";
    write_file(dir + t.motion, trajectory_text(samples));
  }
  std::vector<TrajSample> recorded;
  for (std::size_t k = 0; k < samples.size(); k += static_cast<std::size_t>(s.plan.oversample))
    recorded.push_back(samples[k]);
  recorded = with_noise(std::move(recorded), s.traj_noise, s.sensor.seed);
  write_file(dir + t.trajectory, trajectory_text(recorded));
  double lat_lo = 90.0, lat_hi = -90.0, lon_lo = 180.0, lon_hi = -180.0;
  for (const TrajSample& x : samples) {
    lat_lo = std::min(lat_lo, x.lat);
    lat_hi = std::max(lat_hi, x.lat);
    lon_lo = std::min(lon_lo, x.lon);
    lon_hi = std::max(lon_hi, x.lon);
  }
  if (!s.geoid_file.empty()) {
    write_geoid_crop(grid, lat_lo - 0.05, lat_hi + 0.05, lon_lo - 0.2, lon_hi + 0.2, 1,
                     dir + t.geoid);
    grid = read_geoid_grid(dir + t.geoid);
  }
  if (s.surface.kind == "ice") {
    Surface flat(s.surface, &grid);
    std::vector<double> tn, te;
    for (const TrajSample& x : samples) {
      double n = 0.0, e = 0.0;
      flat.to_ne(x.lat * kDeg, x.lon * kDeg, n, e);
      tn.push_back(n);
      te.push_back(e);
    }
    s.surface.ridges = generate_ridges(tn, te, s.sensor.seed);
  }
  if (s.surface.kind == "terrain")
    generate_terrain(s.terrain_seed, s.terrain_size, s.surface.ridges, s.surface.hills);
  const Surface surface(s.surface, &grid);
  const TrajectoryInterp traj(samples);
  const BeamModel model(s.pattern, traj, surface, s.sensor);

  t.pattern = s.pattern;
  t.sensor = s.sensor;
  t.surface = s.surface;
  t.measurements = s.pattern.nscans * s.pattern.nmeas;
  t.no_returns = write_scanner(dir + t.scanner, model);
  t.notes.push_back("flight: start " + fixed(s.plan.lat0, 6) + " " + fixed(s.plan.lon0, 6) +
                    ", track " + exact(s.plan.track0) + " deg, " + exact(s.plan.speed) + " m/s, " +
                    exact(s.height) + " m above the surface reference, turn " +
                    exact(s.plan.turn_rate) + " deg/s from " + exact(s.plan.turn_start) +
                    " s for " + exact(s.plan.turn_duration) + " s, crab " + exact(s.plan.crab) +
                    " deg, wobble " + exact(s.plan.wobble));
  if (!own_motion) {
    t.notes.push_back("between trajectory samples the aircraft moves linearly");
  } else {
    t.notes.push_back(
        "between the samples of " + t.motion + " (" + exact(s.plan.rate * s.plan.oversample) +
        " Hz) the aircraft moves linearly; " + t.trajectory + " holds every " +
        std::to_string(s.plan.oversample) + "th (" + exact(s.plan.rate) + " Hz)" +
        (s.traj_noise.tau > 0.0
             ? " with Gauss-Markov errors of " + exact(s.traj_noise.position) + " m and " +
                   exact(s.traj_noise.attitude) + " deg over " + exact(s.traj_noise.tau) + " s"
             : std::string()));
  }
  write_file(dir + t.deck, deck_text(s, t));
  if (s.control_points > 0)
    write_file(dir + "control.csv",
               control_points_csv(s, surface, samples, t.geoid == "0" ? nullptr : &grid));
  write_file(dir + "truth.txt", format_truth(t));
  std::cout << "beamfall-sim: " << t.measurements << " measurements in " << s.pattern.nscans
            << " scans (" << t.no_returns << " without return), " << samples.size()
            << " trajectory samples, written to " << s.out << "\n";
  return 0;
}

}  // namespace
}  // namespace bsim

int main(int argc, char** argv) {
  try {
    return bsim::run(argc, argv);
  } catch (const bsim::UsageError& e) {
    std::cerr << "beamfall-sim: " << e.what() << "\n";
    return 2;
  } catch (const std::exception& e) {
    std::cerr << "beamfall-sim: " << e.what() << "\n";
    return 1;
  }
}

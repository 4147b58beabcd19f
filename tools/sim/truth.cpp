#include "truth.hpp"

#include <map>

#include "runfiles/text.hpp"

namespace bsim {

using namespace runfiles;  // the shared readers and text helpers

std::string format_truth(const Truth& t) {
  std::string o;
  o += "# beamfall-sim truth: surface, scanner timing and every injected error\n";
  for (const std::string& n : t.notes)
    o += "# " + n + "\n";
  o += "scanner " + t.scanner + "\n";
  o += "trajectory " + t.trajectory + "\n";
  if (!t.motion.empty())
    o += "motion " + t.motion + "  # the true motion; the trajectory file misses it\n";
  o += "deck " + t.deck + "\n";
  o += "geoid " + t.geoid + "\n";
  const ScanPattern& p = t.pattern;
  o += "first_tick " + std::to_string(p.first_tick) + "  # 1e-5 s since midnight\n";
  o += "scan_rate " + exact(p.scan_rate) + "\n";
  o += "nmeas " + std::to_string(p.nmeas) + "\n";
  o += "angle_counts " + std::to_string(p.count_lo) + " " + std::to_string(p.count_hi) + "\n";
  o += "duty " + exact(p.duty) + "\n";
  o += "scans " + std::to_string(p.nscans) + "\n";
  const SensorModel& s = t.sensor;
  o += "lever " + exact(s.lever.x) + " " + exact(s.lever.y) + " " + exact(s.lever.z) +
       "  # metres forward, right, down\n";
  o += "boresight " + exact(s.bore_roll) + " " + exact(s.bore_pitch) + " " + exact(s.bore_heading) +
       "  # roll pitch heading, degrees, not corrected by the deck\n";
  o += "range_bias " + exact(s.range_bias) + "  # metres\n";
  o += "range_noise " + exact(s.range_noise) + "  # metres, standard deviation\n";
  o += "seed " + std::to_string(s.seed) + "\n";
  o += "measurements " + std::to_string(t.measurements) + "\n";
  o += "no_returns " + std::to_string(t.no_returns) + "\n";
  const SurfaceDef& f = t.surface;
  o += "surface " + f.kind + "\n";
  o += "surface_origin " + exact(f.lat0) + " " + exact(f.lon0) + "  # degrees\n";
  o += "surface_height " + exact(f.height) + "  # metres at the origin\n";
  o += "surface_slope " + exact(f.slope_n) + " " + exact(f.slope_e) + "  # north, east\n";
  o += std::string("surface_on_geoid ") + (f.on_geoid ? "1" : "0") + "\n";
  o += "# ridge: crest centre n e (m), azimuth (deg), half length, height, width (m)\n";
  for (const Ridge& r : f.ridges) {
    o += "ridge " + exact(r.n) + " " + exact(r.e) + " " + exact(r.azimuth) + " " +
         exact(r.half_length) + " " + exact(r.height) + " " + exact(r.width) + "\n";
  }
  if (!f.hills.empty()) o += "# hill: centre n e (m), height (m, negative: a hollow), radius (m)\n";
  for (const Hill& h : f.hills)
    o += "hill " + exact(h.n) + " " + exact(h.e) + " " + exact(h.height) + " " + exact(h.radius) +
         "\n";
  return o;
}

namespace {

struct Fields {
  std::string path;
  std::map<std::string, std::vector<std::string>> one;
  std::vector<std::vector<std::string>> ridges;
  std::vector<std::vector<std::string>> hills;

  const std::vector<std::string>& get(const std::string& key, std::size_t n) const {
    auto it = one.find(key);
    if (it == one.end() || it->second.size() < n) {
      throw ToolError(path + ": missing or short '" + key + "' line");
    }
    return it->second;
  }
  double num(const std::string& key, std::size_t k = 0) const {
    double v = 0.0;
    if (!parse_double(get(key, k + 1)[k], v)) throw ToolError(path + ": bad number in " + key);
    return v;
  }
  std::int64_t integer(const std::string& key, std::size_t k = 0) const {
    std::int64_t v = 0;
    if (!parse_int(get(key, k + 1)[k], v)) throw ToolError(path + ": bad integer in " + key);
    return v;
  }
};

}  // namespace

Truth read_truth(const std::string& path) {
  Fields f;
  f.path = path;
  const std::string text = read_file(path);
  for (std::string_view line : split_lines(text)) {
    line = line.substr(0, line.find('#'));
    const std::vector<std::string_view> w = split_fields(line);
    if (w.empty()) continue;
    std::vector<std::string> vals(w.begin() + 1, w.end());
    if (w[0] == "ridge") {
      f.ridges.push_back(vals);
    } else if (w[0] == "hill") {
      f.hills.push_back(vals);
    } else {
      f.one[std::string(w[0])] = vals;
    }
  }
  Truth t;
  t.scanner = f.get("scanner", 1)[0];
  t.trajectory = f.get("trajectory", 1)[0];
  if (f.one.count("motion") != 0) t.motion = f.get("motion", 1)[0];
  t.deck = f.get("deck", 1)[0];
  t.geoid = f.get("geoid", 1)[0];
  t.pattern.first_tick = f.integer("first_tick");
  t.pattern.scan_rate = f.num("scan_rate");
  t.pattern.nmeas = static_cast<int>(f.integer("nmeas"));
  t.pattern.count_lo = static_cast<int>(f.integer("angle_counts", 0));
  t.pattern.count_hi = static_cast<int>(f.integer("angle_counts", 1));
  t.pattern.duty = f.num("duty");
  t.pattern.nscans = f.integer("scans");
  t.sensor.lever = {f.num("lever", 0), f.num("lever", 1), f.num("lever", 2)};
  t.sensor.bore_roll = f.num("boresight", 0);
  t.sensor.bore_pitch = f.num("boresight", 1);
  t.sensor.bore_heading = f.num("boresight", 2);
  t.sensor.range_bias = f.num("range_bias");
  t.sensor.range_noise = f.num("range_noise");
  t.sensor.seed = static_cast<std::uint64_t>(f.integer("seed"));
  t.measurements = f.integer("measurements");
  t.no_returns = f.integer("no_returns");
  t.surface.kind = f.get("surface", 1)[0];
  t.surface.lat0 = f.num("surface_origin", 0);
  t.surface.lon0 = f.num("surface_origin", 1);
  t.surface.height = f.num("surface_height");
  t.surface.slope_n = f.num("surface_slope", 0);
  t.surface.slope_e = f.num("surface_slope", 1);
  t.surface.on_geoid = f.integer("surface_on_geoid") != 0;
  for (const std::vector<std::string>& r : f.ridges) {
    double v[6];
    for (std::size_t k = 0; k < 6; ++k) {
      if (r.size() < 6 || !parse_double(r[k], v[k])) throw ToolError(path + ": bad ridge line");
    }
    t.surface.ridges.push_back({v[0], v[1], v[2], v[3], v[4], v[5]});
  }
  for (const std::vector<std::string>& h : f.hills) {
    double v[4];
    for (std::size_t k = 0; k < 4; ++k) {
      if (h.size() < 4 || !parse_double(h[k], v[k])) throw ToolError(path + ": bad hill line");
    }
    t.surface.hills.push_back({v[0], v[1], v[2], v[3]});
  }
  return t;
}

}  // namespace bsim

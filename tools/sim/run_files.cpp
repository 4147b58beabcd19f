#include "run_files.hpp"

#include <cstring>
#include <limits>

#include "text.hpp"

namespace bsim {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

std::string name_field(std::string_view line) {
  std::string s(line.substr(0, 36));
  while (!s.empty() && s.back() == ' ')
    s.pop_back();
  return s;
}

// Free-format reads: each read starts on a new line and may continue over lines.
class DeckReader {
 public:
  DeckReader(const std::string& path, std::vector<std::string_view> lines, std::size_t first)
      : path_(path), lines_(std::move(lines)), next_(first) {}

  std::vector<std::string_view> read(std::size_t n) {
    std::vector<std::string_view> out;
    while (out.size() < n) {
      if (next_ >= lines_.size()) throw ToolError(path_ + ": input deck ends early");
      for (std::string_view f : split_fields(lines_[next_]))
        out.push_back(f);
      ++next_;
    }
    out.resize(n);
    return out;
  }

  double num(std::string_view s) const {
    double v = 0.0;
    if (!parse_double(s, v)) throw ToolError(path_ + ": bad number '" + std::string(s) + "'");
    return v;
  }
  long long integer(std::string_view s) const {
    std::int64_t v = 0;
    if (!parse_int(s, v)) throw ToolError(path_ + ": bad integer '" + std::string(s) + "'");
    return v;
  }
  bool logical(std::string_view s) const {
    if (s == "T" || s == "t") return true;
    if (s == "F" || s == "f") return false;
    throw ToolError(path_ + ": bad switch '" + std::string(s) + "'");
  }

 private:
  std::string path_;
  std::vector<std::string_view> lines_;
  std::size_t next_;
};

}  // namespace

Deck read_deck(const std::string& path) {
  const std::string text = read_file(path);
  const std::vector<std::string_view> lines = split_lines(text);
  if (lines.size() < 5) throw ToolError(path + ": input deck needs five name lines");
  Deck d;
  d.scanner = name_field(lines[0]);
  d.trajectory = name_field(lines[1]);
  d.geoid = name_field(lines[2]);
  d.points = name_field(lines[3]);
  d.centre = name_field(lines[4]);
  DeckReader r(path, lines, 5);
  auto v = r.read(3);
  d.hh = r.num(v[0]);
  d.mm = static_cast<double>(r.integer(v[1]));
  d.ss = r.num(v[2]);
  v = r.read(2);
  d.tstart = r.num(v[0]);
  d.tend = r.num(v[1]);
  v = r.read(4);
  d.latmin = r.num(v[0]);
  d.latmax = r.num(v[1]);
  d.lonmin = r.num(v[2]);
  d.lonmax = r.num(v[3]);
  v = r.read(7);
  d.naver = r.integer(v[0]);
  d.nthin = r.integer(v[1]);
  d.bin2dd = r.logical(v[2]);
  d.binout = r.logical(v[3]);
  d.gpsatt = r.logical(v[4]);
  d.calib = r.logical(v[5]);
  d.useatt = r.logical(v[6]);
  v = r.read(3);
  d.dx = r.num(v[0]);
  d.dy = r.num(v[1]);
  d.dz = r.num(v[2]);
  v = r.read(3);
  d.pitch0 = r.num(v[0]);
  d.roll0 = r.num(v[1]);
  d.heading0 = r.num(v[2]);
  d.amin = r.integer(r.read(1)[0]);
  v = r.read(2);
  d.ilo = r.integer(v[0]);
  d.ihi = r.integer(v[1]);
  d.rmin = r.num(r.read(1)[0]);
  if (d.points == "0") d.calib = false;
  return d;
}

namespace {

// A fixed-column field, blanks around it allowed.
bool column(std::string_view line, std::size_t from, std::size_t width, double& v) {
  if (line.size() < from + width) return false;
  std::string_view f = line.substr(from, width);
  while (!f.empty() && f.front() == ' ')
    f.remove_prefix(1);
  return parse_double(f, v);
}

bool column_int(std::string_view line, std::size_t from, std::size_t width, int& v) {
  double d = 0.0;
  if (!column(line, from, width, d)) return false;
  v = static_cast<int>(d);
  return static_cast<double>(v) == d;
}

template <typename T>
T get(const char* p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

}  // namespace

std::vector<PointRecord> read_points(const std::string& path, bool binary, bool averaged,
                                     std::int64_t& bad) {
  const std::string data = read_file(path);
  std::vector<PointRecord> out;
  bad = 0;
  if (binary) {
    if (data.size() % 18 != 0) ++bad;
    for (std::size_t at = 0; at + 18 <= data.size(); at += 18) {
      const char* p = data.data() + at;
      PointRecord r;
      r.thr = get<std::int32_t>(p) * 1e-7;
      r.lat = get<std::int32_t>(p + 4) * 1e-7;
      r.lon = get<std::int32_t>(p + 8) * 1e-7;
      r.h = get<std::int32_t>(p + 12) * 1e-3;
      r.ampl = get<std::int8_t>(p + 16);
      r.i = static_cast<unsigned char>(p[17]);
      out.push_back(r);
    }
    return out;
  }
  const std::size_t width = averaged ? 50 : 47;
  for (std::string_view line : split_lines(data)) {
    PointRecord r;
    const bool ok = line.size() == width && column(line, 0, 9, r.thr) &&
                    column(line, 9, 10, r.lat) && column(line, 19, 12, r.lon) &&
                    column(line, 31, 8, r.h) && line[39] == ' ' &&
                    column_int(line, 40, 3, r.ampl) && column_int(line, 43, 4, r.i) &&
                    (!averaged || column_int(line, 47, 3, r.gcount));
    if (!ok) {
      ++bad;
      continue;
    }
    out.push_back(r);
  }
  return out;
}

std::vector<CentreRecord> read_centre(const std::string& path, std::int64_t& bad) {
  const std::string data = read_file(path);
  std::vector<CentreRecord> out;
  bad = 0;
  for (std::string_view line : split_lines(data)) {
    CentreRecord r;
    const bool ok = line.size() == 62 && line[0] == ' ' && column(line, 1, 11, r.thr) &&
                    column(line, 12, 10, r.lat) && column(line, 22, 12, r.lon) &&
                    column(line, 34, 8, r.h) && line[42] == ' ' &&
                    column_int(line, 43, 3, r.ampl) && column(line, 46, 8, r.airh) &&
                    column(line, 54, 8, r.range);
    if (!ok) {
      ++bad;
      continue;
    }
    out.push_back(r);
  }
  return out;
}

namespace {

long long count_after(std::string_view line, std::string_view label) {
  const std::size_t at = line.find(label);
  if (at == std::string_view::npos) return -1;
  const std::vector<std::string_view> f = split_fields(line.substr(at + label.size()));
  std::int64_t v = -1;
  if (f.empty() || !parse_int(f[0], v)) return -1;
  return v;
}

double number_between(std::string_view line, std::string_view from, std::string_view to) {
  const std::size_t a = line.find(from);
  if (a == std::string_view::npos) return kNaN;
  const std::size_t b = line.find(to, a + from.size());
  if (b == std::string_view::npos) return kNaN;
  const std::vector<std::string_view> f =
      split_fields(line.substr(a + from.size(), b - a - from.size()));
  double v = kNaN;
  if (f.size() != 1 || !parse_double(f[0], v)) return kNaN;
  return v;
}

}  // namespace

Report read_report(const std::string& path) {
  const std::string text = read_file(path);
  Report r;
  r.bias = kNaN;
  r.roll = kNaN;
  for (std::string_view line : split_lines(text)) {
    if (line.find("Total number of scans read:") != std::string_view::npos) {
      r.scans = count_after(line, "Total number of scans read:");
    } else if (line.find("Total number of points output:") != std::string_view::npos) {
      r.npout = count_after(line, "Total number of points output:");
    } else if (line.find("no of points:") != std::string_view::npos) {
      r.ncal = count_after(line, "no of points:");
    } else if (line.rfind(" bias:", 0) == 0) {
      r.bias = number_between(line, "bias:", " m,");
      r.roll = number_between(line, "(roll0):", " degrees");
    }
  }
  return r;
}

}  // namespace bsim

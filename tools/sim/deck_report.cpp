#include "deck_report.hpp"

#include <initializer_list>
#include <limits>
#include <string_view>
#include <vector>

#include "runfiles/block_reader.hpp"
#include "runfiles/text.hpp"

namespace bsim {

using runfiles::parse_double;
using runfiles::parse_int;
using runfiles::read_file;
using runfiles::split_fields;
using runfiles::split_lines;
using runfiles::ToolError;

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

// `count` numbers of `width` columns right after `label`; NaN where a field is not a number.
void fixed_fields(std::string_view line, std::string_view label, std::size_t width,
                  std::initializer_list<double*> out) {
  const std::size_t at = line.find(label);
  std::size_t from = at + label.size();
  for (double* v : out) {
    *v = kNaN;
    if (at == std::string_view::npos || line.size() < from + width) continue;
    const std::vector<std::string_view> f = split_fields(line.substr(from, width));
    if (f.size() != 1 || !parse_double(f[0], *v)) *v = kNaN;
    from += width;
  }
}

// The `index`-th whole number after `label`, or -1.
long long nth_count_after(std::string_view line, std::string_view label, std::size_t index) {
  const std::size_t at = line.find(label);
  if (at == std::string_view::npos) return -1;
  const std::vector<std::string_view> f = split_fields(line.substr(at + label.size()));
  std::int64_t v = -1;
  if (f.size() <= index || !parse_int(f[index], v)) return -1;
  return v;
}

void read_summary_line(std::string_view line, Report& r) {
  constexpr std::string_view kRange = " min and max laser range measured: ";
  constexpr std::string_view kElev = " min and max flight elevation: ";
  constexpr std::string_view kArea = " aircraft positions within area: ";
  if (line.rfind(kRange, 0) == 0) {
    fixed_fields(line, kRange, 9, {&r.range_min, &r.range_max});
  } else if (line.rfind(kElev, 0) == 0) {
    fixed_fields(line, kElev, 9, {&r.elev_min, &r.elev_max});
  } else if (line.rfind(kArea, 0) == 0) {
    fixed_fields(line, kArea, 9, {&r.lat_min, &r.lat_max, &r.lon_min, &r.lon_max});
  } else if (line.rfind(" amplitude lower than ", 0) == 0) {
    r.rej_ampl = nth_count_after(line, "amplitude lower than ", 1);
  } else if (line.rfind(" scan out of range", 0) == 0) {
    r.rej_scan = nth_count_after(line, "scan out of range", 2);
  } else if (line.rfind(" measurements less than ", 0) == 0) {
    r.rej_range = nth_count_after(line, " meters", 0);
  }
}

}  // namespace

Report read_report(const std::string& path) {
  const std::string text = read_file(path);
  Report r;
  r.bias = r.roll = kNaN;
  r.range_min = r.range_max = r.elev_min = r.elev_max = kNaN;
  r.lat_min = r.lat_max = r.lon_min = r.lon_max = kNaN;
  for (std::string_view line : split_lines(text)) {
    if (line.find("Total number of scans read:") != std::string_view::npos) {
      r.scans = nth_count_after(line, "Total number of scans read:", 0);
    } else if (line.find("Total number of points output:") != std::string_view::npos) {
      r.npout = nth_count_after(line, "Total number of points output:", 0);
    } else if (line.find("no of points:") != std::string_view::npos) {
      r.ncal = nth_count_after(line, "no of points:", 0);
    } else if (line.rfind(" bias:", 0) == 0) {
      r.bias = number_between(line, "bias:", " m,");
      r.roll = number_between(line, "(roll0):", " degrees");
    } else {
      read_summary_line(line, r);
    }
  }
  return r;
}

}  // namespace bsim

// beamfall-campaign summary: the table of a campaign's lines (summary.csv), the campaign's
// roll estimate, and the cross-line check with its figures (summary.html).
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <mutex>
#include <span>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "campaign/folder/lines.hpp"
#include "campaign_run.hpp"
#include "geo/gdal_io.hpp"
#include "kit/command_line.hpp"
#include "kit/html.hpp"
#include "line_info.hpp"
#include "overlap.hpp"
#include "plots.hpp"
#include "run_options.hpp"
#include "textio/wholefile.hpp"

namespace campaign {
namespace {

namespace fs = std::filesystem;

// Fewer common cells than this is a corner touching, not an overlap.
constexpr std::size_t kMinOverlapCells = 10;
// A difference grid's bounding box beyond this (a long diagonal overlap) gets no GeoTIFF.
constexpr std::int64_t kMaxTiffCells = 50'000'000;

struct Pair {
  PairOverlap o;
  std::string tiff;  // file name under overlaps/
};

struct Campaign {
  std::string dir;
  double cell = 5.0;
  std::vector<LineInfo> lines;
  std::vector<Track> tracks;
  std::vector<Pair> pairs;
  std::string crs;
  std::vector<TiledGrid> grids;  // every line's, on scratch files, until the page is drawn
};

std::string fmt(double v, int decimals) {
  if (!std::isfinite(v)) return "";
  char buf[48];
  std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
  std::string s = buf;
  // No minus on a value that rounds to zero.
  if (s[0] == '-' && s.find_first_not_of("-0.") == std::string::npos) s.erase(0, 1);
  return s;
}

std::string count(long long v) {
  return v < 0 ? "" : std::to_string(v);
}

std::string csv_field(const std::string& s) {
  if (s.find_first_of(",\"\n\r") == std::string::npos) return s;
  std::string q = "\"";
  for (char c : s)
    q += c == '"' ? std::string("\"\"") : std::string(1, c);
  return q + "\"";
}

using kit::html_escape;

// A unique temporary name, so that a summary beside a run never meets another writer's.
void write_atomically(const std::string& path, const std::string& text) {
  bf::WholeFile out;
  out.open(path);
  out.commit(text);
}

struct Spread {
  std::size_t n = 0;
  double median = NAN, sd = NAN, lo = NAN, hi = NAN;
};

Spread spread_of(std::vector<double> v) {
  Spread s;
  s.n = v.size();
  if (v.empty()) return s;
  std::sort(v.begin(), v.end());
  const std::size_t m = v.size() / 2;
  s.median = v.size() % 2 ? v[m] : 0.5 * (v[m - 1] + v[m]);
  double mean = 0.0, ss = 0.0;
  for (double x : v)
    mean += x / static_cast<double>(v.size());
  for (double x : v)
    ss += (x - mean) * (x - mean);
  s.sd = v.size() > 1 ? std::sqrt(ss / static_cast<double>(v.size() - 1)) : 0.0;
  s.lo = v.front();
  s.hi = v.back();
  return s;
}

// A line's report estimates the roll left over after its deck's roll0; the misalignment
// itself, the value to enter, is the two added.
struct RollEstimate {
  Spread total;     // deck roll0 + estimate, degrees
  Spread residual;  // the reports' estimates alone, degrees
};

RollEstimate roll_estimate(const std::vector<LineInfo>& lines) {
  std::vector<double> total, residual;
  for (const LineInfo& l : lines) {
    if (!l.succeeded() || !std::isfinite(l.roll) || !std::isfinite(l.roll0)) continue;
    total.push_back(l.roll0 + l.roll);
    residual.push_back(l.roll);
  }
  return {spread_of(std::move(total)), spread_of(std::move(residual))};
}

std::string roll_sentence(const RollEstimate& r) {
  if (r.total.n == 0) return "campaign roll estimate (roll0): none (no line with a regression)";
  const Spread& s = r.total;
  return "campaign roll estimate (roll0): " + fmt(s.median, 3) +
         " degrees, to enter with run --roll0 (median over " + std::to_string(s.n) +
         " lines of the deck's roll0 plus the line's estimate; spread: sd " + fmt(s.sd, 3) +
         ", range " + fmt(s.lo, 3) + " to " + fmt(s.hi, 3) + ")";
}

// The lines that ran and failed, named: they are out of the roll estimate and the cross-line
// check. Empty when there is none.
std::string failed_sentence(const std::vector<LineInfo>& lines) {
  std::string names;
  for (const LineInfo& l : lines) {
    if (!l.record || l.succeeded()) continue;
    names += (names.empty() ? "" : ", ") + l.name + " (" +
             failure_text(l.failure, l.record->status) + ")";
  }
  if (names.empty()) return "";
  return "failed lines, left out of the roll estimate and the cross-line check: " + names;
}

std::string residual_sentence(const RollEstimate& r) {
  if (r.residual.n == 0) return "";
  return "residual roll after the decks' roll0: " + fmt(r.residual.median, 3) +
         " degrees (median of the lines' estimates)";
}

// A line's points, a batch at a time, projected and summed into its grid, whose finished tiles
// go to a scratch file in `scratch`: memory follows the tiles around the line's front, not its
// points or the area it covers.
TiledGrid grid_line(const LineInfo& l, const LocalProjection& proj, double cell,
                    const std::string& scratch) {
  if (l.points_file.empty() || !fs::exists(l.points_file)) return {};
  return grid_to_file(point_source(l, proj), cell, scratch);
}

// A line whose points cannot be read stays out of the check; the others go on. A scratch file
// that fails ends the summary.
TiledGrid grid_or_warn(const LineInfo& l, const LocalProjection& proj, double cell,
                       const std::string& scratch) {
  try {
    return grid_line(l, proj, cell, scratch);
  } catch (const ScratchError&) {
    throw;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "beamfall-campaign: %s: left out of the cross-line check: %s\n",
                 l.name.c_str(), e.what());
    return {};
  }
}

// job(k, state) for every k below n, shared out among the cores; each thread makes its own
// state first (a PROJ object or a plot folder serves one thread only). The first exception
// is rethrown here once every thread has ended.
template <class MakeState, class Job>
void on_every_core(std::size_t n, const MakeState& make_state, const Job& job) {
  if (n == 0) return;
  std::atomic<std::size_t> next{0};
  std::exception_ptr failure;
  std::mutex failure_mutex;
  const auto worker = [&] {
    try {
      auto state = make_state();
      for (std::size_t k; (k = next++) < n;)
        job(k, *state);
    } catch (...) {
      const std::lock_guard<std::mutex> lock(failure_mutex);
      if (!failure) failure = std::current_exception();
    }
  };
  const std::size_t threads = std::clamp<std::size_t>(std::thread::hardware_concurrency(), 1, n);
  std::vector<std::thread> pool;
  for (std::size_t t = 1; t < threads; ++t)
    pool.emplace_back(worker);
  worker();
  for (std::thread& t : pool)
    t.join();
  if (failure) std::rethrow_exception(failure);
}

// Each line's grid keeps its scratch file open until the page is drawn: a campaign of a
// thousand lines needs more descriptors than the usual soft limit of 1024.
void allow_open_files(std::size_t lines) {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return;
  const rlim_t wanted = static_cast<rlim_t>(lines) + 256;
  if (limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur >= wanted) return;
  limit.rlim_cur = limit.rlim_max == RLIM_INFINITY ? wanted : std::min(wanted, limit.rlim_max);
  ::setrlimit(RLIMIT_NOFILE, &limit);
}

// Every line's grid; each is the line's alone, the same whichever thread makes it.
std::vector<TiledGrid> grid_lines(const Campaign& c, double lat0, double lon0) {
  allow_open_files(c.lines.size());
  // The run's state folder when there is one; the files are unlinked as soon as made.
  const fs::path state = fs::path(c.dir) / ".campaign";
  const std::string scratch = fs::is_directory(state) ? state.string() : c.dir;
  std::vector<TiledGrid> grids(c.lines.size());
  on_every_core(
      c.lines.size(), [&] { return std::make_unique<LocalProjection>(lat0, lon0); },
      [&](std::size_t k, const LocalProjection& proj) {
        if (c.lines[k].succeeded()) grids[k] = grid_or_warn(c.lines[k], proj, c.cell, scratch);
      });
  return grids;
}

// The previous summary's grids: a pair that no longer overlaps must not keep one.
void remove_old_tiffs(const fs::path& dir) {
  std::error_code ec;
  if (!fs::is_directory(dir, ec)) return;
  for (const fs::directory_entry& e : fs::directory_iterator(dir)) {
    const std::string name = e.path().filename().string();
    if (name.rfind("line", 0) == 0 && name.find("-line") != std::string::npos &&
        e.path().extension() == ".tif") {
      fs::remove(e.path());
    }
  }
}

void cross_check(Campaign& c) {
  double lat0 = 0.0, lon0 = 0.0;
  if (!campaign_centre(c.lines, lat0, lon0)) return;
  const LocalProjection proj(lat0, lon0);
  c.crs = proj.crs();
  for (const LineInfo& l : c.lines) {
    Track t{l.name, l.track_lon, l.track_lat};
    proj.forward(t.x, t.y);
    c.tracks.push_back(std::move(t));
  }
  c.grids = grid_lines(c, lat0, lon0);
  const std::vector<TiledGrid>& grids = c.grids;
  const fs::path tiff_dir = fs::path(c.dir) / "overlaps";
  remove_old_tiffs(tiff_dir);
  for (std::size_t a = 0; a < grids.size(); ++a) {
    for (std::size_t b = a + 1; b < grids.size(); ++b) {
      Pair p;
      p.o = compare_grids(grids[a], grids[b], c.cell);
      if (p.o.cells < kMinOverlapCells) continue;
      p.o.a = a;
      p.o.b = b;
      fs::create_directories(tiff_dir);
      p.tiff = "line" + std::to_string(a + 1) + "-line" + std::to_string(b + 1) + ".tif";
      if (!write_overlap_tiff((tiff_dir / p.tiff).string(), grids[a], grids[b], p.o, c.crs,
                              kMaxTiffCells)) {
        p.tiff.clear();
      }
      c.pairs.push_back(std::move(p));
    }
  }
}

std::string csv_text(const Campaign& c) {
  std::string t =
      "line,status,scans,points,time_first_h,time_last_h,flight_height_min_m,"
      "flight_height_max_m,bias_m,roll_deg,rejected_amplitude,rejected_index,rejected_range,"
      "seconds\n";
  for (const LineInfo& l : c.lines) {
    const kit::ManifestSummary& r = l.summary;
    t += csv_field(l.name) + "," + status_text(l) + "," + count(r.scans_read) + "," +
         count(r.points_output) + "," + fmt(l.t_first, 7) + "," + fmt(l.t_last, 7) + "," +
         fmt(r.flight_height_min, 2) + "," + fmt(r.flight_height_max, 2) + "," + fmt(l.bias, 2) +
         "," + fmt(l.roll, 2) + "," + count(r.rejected_amplitude) + "," +
         count(r.rejected_scan_angle) + "," + count(r.rejected_range) + "," +
         (l.record ? fmt(l.record->seconds, 3) : "") + "\n";
  }
  return t;
}

std::string line_table_html(const Campaign& c) {
  std::vector<std::vector<std::string>> rows;
  for (const LineInfo& l : c.lines) {
    const kit::ManifestSummary& r = l.summary;
    rows.push_back({html_escape(l.name), status_text(l), count(r.scans_read),
                    count(r.points_output), fmt(l.t_first, 4) + " &ndash; " + fmt(l.t_last, 4),
                    fmt(r.flight_height_min, 2) + " &ndash; " + fmt(r.flight_height_max, 2),
                    fmt(l.bias, 2), fmt(l.roll, 2),
                    count(r.rejected_amplitude) + " / " + count(r.rejected_scan_angle) + " / " +
                        count(r.rejected_range),
                    l.record ? fmt(l.record->seconds, 2) : ""});
  }
  return kit::html_table(
      {"line", "status", "scans", "points", "time (h)", "flight height (m)", "bias (m)",
       "roll (&deg;)", "rejected: amplitude / index / range", "seconds"},
      rows);
}

std::string pair_title(const Campaign& c, const Pair& p) {
  return c.lines[p.o.a].name + " minus " + c.lines[p.o.b].name;
}

// Each pair's figure (a gnuplot run apiece), the pairs shared out among the cores.
std::vector<std::string> overlap_figures(const Campaign& c) {
  std::vector<std::string> figures(c.pairs.size());
  on_every_core(
      c.pairs.size(), [] { return std::make_unique<PlotDir>(); },
      [&](std::size_t k, const PlotDir& dir) {
        const PairOverlap& o = c.pairs[k].o;
        figures[k] = overlap_svg(dir, o, c.grids[o.a], c.grids[o.b], pair_title(c, c.pairs[k]));
      });
  return figures;
}

std::string overlap_html(const Campaign& c) {
  std::string t = "<h2>Cross-line check</h2>\n";
  if (c.pairs.empty()) return t + "<p>No two lines overlap.</p>\n";
  t += "<p>Mean heights on a common grid of " + fmt(c.cell, 1) + " m cells (" + html_escape(c.crs) +
       "); each overlapping pair's difference, first line minus second. The grids are in "
       "<code>overlaps/</code> as GeoTIFF.</p>\n";
  std::vector<std::vector<std::string>> rows;
  for (const Pair& p : c.pairs) {
    rows.push_back({html_escape(pair_title(c, p)), std::to_string(p.o.cells), fmt(p.o.mean, 3),
                    fmt(p.o.rms, 3),
                    p.tiff.empty() ? "too large for one GeoTIFF" : "overlaps/" + p.tiff});
  }
  t += kit::html_table({"lines", "cells", "mean (m)", "RMS (m)", "grid"}, rows);
  for (const std::string& figure : overlap_figures(c))
    t += "<figure>" + figure + "</figure>\n";
  return t;
}

std::string failed_html(const Campaign& c) {
  const std::string failed = failed_sentence(c.lines);
  if (failed.empty()) return "";
  return "<p><strong>" + html_escape(failed) + "</strong></p>\n";
}

std::string html_text(const Campaign& c, const RollEstimate& roll) {
  const PlotDir plots;
  std::vector<std::string> names;
  std::vector<double> bias, rolls;
  for (const LineInfo& l : c.lines) {
    names.push_back(l.name);
    bias.push_back(l.bias);
    rolls.push_back(l.roll);
  }
  std::string t =
      "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Campaign summary</title>\n"
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
      "<style>body{font-family:sans-serif;margin:2em}table{border-collapse:collapse}"
      "td,th{border:1px solid #999;padding:2px 8px;text-align:right}"
      "td:first-child{text-align:left}svg "
      "image{image-rendering:pixelated}figure{margin:1em 0}"
      "figure svg{display:block;width:100%;max-width:900px;height:auto}"
      "@media (max-width:600px){body{margin:1em}table{display:block;overflow-x:auto}}"
      "</style></head><body>\n<h1>Campaign " +
      html_escape(fs::path(c.dir).filename().string()) + "</h1>\n" + failed_html(c) + "<p>" +
      html_escape(roll_sentence(roll)) + "<br>" + html_escape(residual_sentence(roll)) +
      "</p>\n<h2>Lines</h2>\n" + line_table_html(c);
  t += "<h2>Tracks</h2>\n<figure>" + track_map_svg(plots, c.tracks) + "</figure>\n";
  t += "<h2>Bias and roll per line</h2>\n<figure>" + per_line_svg(plots, names, bias, "bias (m)") +
       "</figure>\n<figure>" +
       per_line_svg(plots, names, rolls, "roll left after the deck's roll0 (degrees)") +
       "</figure>\n";
  return t + overlap_html(c) + "</body></html>\n";
}

void print_overlaps(const Campaign& c) {
  for (const Pair& p : c.pairs) {
    std::printf("overlap %s: %zu cells, mean %s m, RMS %s m\n", pair_title(c, p).c_str(), p.o.cells,
                fmt(p.o.mean, 3).c_str(), fmt(p.o.rms, 3).c_str());
  }
}

}  // namespace

int summary_main(const std::vector<std::string>& arguments) {
  const std::vector<std::string> args = kit::parse_command_line(arguments, {});
  if (args.size() != 1) throw kit::UsageError("summary needs exactly one campaign folder");
  if (!fs::is_directory(args[0])) throw kit::ToolError(args[0] + ": no such campaign folder");
  Campaign c;
  c.dir = fs::canonical(args[0]).string();
  geo::start_gdal();
  for (const std::string& name : list_lines(c.dir))
    c.lines.push_back(read_line(c.dir, name));
  cross_check(c);
  const RollEstimate roll = roll_estimate(c.lines);
  write_atomically(c.dir + "/summary.csv", csv_text(c));
  write_atomically(c.dir + "/summary.html", html_text(c, roll));
  if (const std::string failed = failed_sentence(c.lines); !failed.empty())
    std::printf("%s\n", failed.c_str());
  std::printf("%s\n", roll_sentence(roll).c_str());
  if (roll.residual.n > 0) std::printf("%s\n", residual_sentence(roll).c_str());
  print_overlaps(c);
  std::printf("summary: %s/summary.csv, %s/summary.html\n", c.dir.c_str(), c.dir.c_str());
  return std::fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace campaign

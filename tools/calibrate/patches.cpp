#include "patches.hpp"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <map>
#include <mutex>
#include <numeric>
#include <unordered_map>

#include "georef/wgs84.hpp"
#include "kit/median.hpp"
#include "parallel.hpp"
#include "textio/error.hpp"

namespace bfcal {

LocalFrame local_frame(double lat0, double lon0, double h0) {
  const double s = std::sin(lat0 * M_PI / 180), c = std::cos(lat0 * M_PI / 180);
  const double w = std::sqrt(1 - bf::kWgs84E2 * s * s);
  LocalFrame f;
  f.lat0 = lat0;
  f.lon0 = lon0;
  f.h0 = h0;
  f.m_lat = bf::kWgs84A * (1 - bf::kWgs84E2) / (w * w * w) * M_PI / 180;
  f.m_lon = bf::kWgs84A / w * c * M_PI / 180;
  return f;
}

namespace {

// The middle value, 0 of none (a line with no block covered has no typical count).
double median(std::vector<double> v) {
  return v.empty() ? 0 : kit::median(std::move(v));
}

constexpr double kBlock = 20;              // metres: the coverage map's cells
constexpr std::int64_t kSamples = 200000;  // first pass: measurements a line

std::int64_t cell_key(std::int64_t i, std::int64_t j) {
  return static_cast<std::int64_t>(static_cast<std::uint64_t>(i) << 32 ^
                                   (static_cast<std::uint64_t>(j) & 0xffffffffu));
}

// A regular grid of square cells over the campaign, `size` metres a side.
struct Grid {
  LocalFrame ref;
  double size = 1;
  // Cell indices are clamped in double to the 32 bits a key holds, so a far-off
  // point lands in an edge cell instead of overflowing the cast; callers skip
  // points whose position is not finite.
  static std::int64_t index(double v) {
    return static_cast<std::int64_t>(std::clamp(std::floor(v), -2147483648.0, 2147483647.0));
  }
  static bool finite(double lat, double lon) { return std::isfinite(lat) && std::isfinite(lon); }
  std::int64_t row(double lat) const { return index((lat - ref.lat0) * ref.m_lat / size); }
  std::int64_t col(double lon) const { return index((lon - ref.lon0) * ref.m_lon / size); }
  std::int64_t key(double lat, double lon) const { return cell_key(row(lat), col(lon)); }
  double lat(double row_coord) const { return ref.lat0 + row_coord * size / ref.m_lat; }
  double lon(double col_coord) const { return ref.lon0 + col_coord * size / ref.m_lon; }
};

struct LatLon {
  double lat, lon;
};

// First pass: a subsample of each line's surface points with no correction.
std::vector<std::vector<LatLon>> sample_lines(const std::vector<Line>& lines, int threads,
                                              std::vector<std::int64_t>& strides,
                                              const std::function<void(int, std::int64_t)>& tick) {
  std::vector<std::vector<LatLon>> samples(lines.size());
  strides.assign(lines.size(), 1);
  parallel_for(static_cast<int>(lines.size()), threads, [&](int k) {
    const Line& line = lines[k];
    strides[k] = std::max<std::int64_t>(1, line.measurements_at_most / kSamples);
    for_each_measurement(
        line, strides[k],
        [&](const RawMeasurement& m) {
          const bf::SurfacePoint p = locate(m, line, Params{});
          samples[k].push_back({p.lat, p.lon});
        },
        [&](std::int64_t bytes) { tick(k, bytes); });
  });
  return samples;
}

struct Coverage {
  std::vector<std::unordered_map<std::int64_t, double>> counts;  // per line: block -> points
  std::vector<double> typical;                                   // per line: median block count
};

Coverage map_coverage(const Grid& blocks, const std::vector<std::vector<LatLon>>& samples,
                      const std::vector<std::int64_t>& strides) {
  Coverage c;
  c.counts.resize(samples.size());
  for (std::size_t k = 0; k < samples.size(); ++k) {
    for (const LatLon& p : samples[k])
      if (Grid::finite(p.lat, p.lon))
        c.counts[k][blocks.key(p.lat, p.lon)] += static_cast<double>(strides[k]);
    std::vector<double> v;
    for (const auto& [key, n] : c.counts[k])
      v.push_back(n);
    c.typical.push_back(median(v));
  }
  return c;
}

// The blocks two or more lines cover well (a quarter of their typical count).
std::vector<std::int64_t> overlap_blocks(const Coverage& c, std::vector<std::vector<bool>>& pairs) {
  const std::size_t n = c.counts.size();
  pairs.assign(n, std::vector<bool>(n, false));
  std::map<std::int64_t, std::vector<int>> holders;
  for (std::size_t k = 0; k < n; ++k)
    for (const auto& [key, count] : c.counts[k])
      if (count >= 0.25 * c.typical[k]) holders[key].push_back(static_cast<int>(k));
  std::vector<std::int64_t> out;
  for (const auto& [key, ks] : holders) {
    if (ks.size() < 2) continue;
    out.push_back(key);
    for (int a : ks)
      for (int b : ks)
        pairs[a][b] = pairs[a][b] || a != b;
  }
  return out;
}

// Candidate patches: a spread random choice of the fine cells whose centres
// lie in overlap blocks, at most `wanted`.
std::unordered_map<std::int64_t, int> choose_candidates(const std::vector<std::int64_t>& blocks,
                                                        const Grid& fine, std::int64_t wanted) {
  const double per_block = (kBlock / fine.size) * (kBlock / fine.size);
  const double keep =
      std::min(1.0, static_cast<double>(wanted) / (per_block * static_cast<double>(blocks.size())));
  // A cell is kept when the top 53 bits of its hash, as a fraction, fall below `keep`.
  const double threshold = keep * 9007199254740992.0;  // 2^53
  std::unordered_map<std::int64_t, int> cands;
  for (std::int64_t key : blocks) {
    const auto bi = static_cast<std::int32_t>(static_cast<std::uint64_t>(key) >> 32);
    const auto bj = static_cast<std::int32_t>(static_cast<std::uint64_t>(key) & 0xffffffffu);
    const auto lo = [&](std::int64_t b) {
      return Grid::index(std::ceil(static_cast<double>(b) * kBlock / fine.size - 0.5));
    };
    for (std::int64_t i = lo(bi); i < lo(bi + 1); ++i)
      for (std::int64_t j = lo(bj); j < lo(bj + 1); ++j) {
        const std::int64_t k = cell_key(i, j);
        if (keep >= 1 || static_cast<double>(mix(static_cast<std::uint64_t>(k)) >> 11) < threshold)
          cands.emplace(k, static_cast<int>(cands.size()));
      }
  }
  return cands;
}

struct Kept {
  int cand = 0;
  RawMeasurement m;
};

// Second pass: every measurement in a candidate cell, up to `cap` a line
// and cell.
std::vector<std::vector<Kept>> collect(const std::vector<Line>& lines, const Grid& fine,
                                       const std::unordered_map<std::int64_t, int>& cands, int cap,
                                       int threads,
                                       const std::function<void(int, std::int64_t)>& tick) {
  std::vector<std::vector<Kept>> kept(lines.size());
  parallel_for(static_cast<int>(lines.size()), threads, [&](int k) {
    const Line& line = lines[k];
    std::vector<std::uint16_t> counts(cands.size(), 0);
    for_each_measurement(
        line, 1,
        [&](const RawMeasurement& m) {
          const bf::SurfacePoint p = locate(m, line, Params{});
          if (!Grid::finite(p.lat, p.lon)) return;
          const auto it = cands.find(fine.key(p.lat, p.lon));
          if (it == cands.end() || counts[it->second] >= cap) return;
          ++counts[it->second];
          kept[k].push_back({it->second, m});
        },
        [&](std::int64_t bytes) { tick(k, bytes); });
  });
  return kept;
}

// Every step-th of n items, spread evenly, at most `most`.
std::vector<std::size_t> evenly(std::size_t n, std::size_t most) {
  std::vector<std::size_t> idx;
  for (std::size_t k = 0; k < std::min(n, most); ++k)
    idx.push_back(k * n / std::min(n, most));
  return idx;
}

struct Candidate {
  Patch patch;
  std::vector<double> line_rms;  // per line in the patch
  int aspect_class = 0;          // 0 level, 1-8 the octant the slope faces
  std::vector<int> scan_bins;    // per line in the patch: where across its swath
  std::vector<int> line_ids;
  double worst_rms = 0;
  std::uint64_t order = 0;  // a fixed pseudo-random order within a bucket
};

// The patch of a candidate cell: its lines with enough points, each
// subsampled to settings.max_points, and their plane fits.
bool build_candidate(const Grid& fine, std::int64_t key, std::vector<TiePoint> pts,
                     const std::vector<Line>& lines, const PatchSettings& s, int min_lines,
                     Candidate& out) {
  std::stable_sort(pts.begin(), pts.end(),
                   [](const TiePoint& a, const TiePoint& b) { return a.line < b.line; });
  const auto bi = static_cast<std::int32_t>(static_cast<std::uint64_t>(key) >> 32);
  const auto bj = static_cast<std::int32_t>(static_cast<std::uint64_t>(key) & 0xffffffffu);
  std::vector<double> hs;
  for (const TiePoint& t : pts)
    hs.push_back(locate(t.m, lines[t.line], Params{}).h);
  out.patch.frame = local_frame(fine.lat(bi + 0.5), fine.lon(bj + 0.5), median(hs));
  out.patch.size = fine.size;
  for (std::size_t b = 0; b < pts.size();) {
    std::size_t e = b;
    while (e < pts.size() && pts[e].line == pts[b].line)
      ++e;
    if (e - b >= static_cast<std::size_t>(s.min_points)) {
      std::vector<TiePoint> chosen;
      std::vector<Local> loc;
      double angle = 0;
      for (std::size_t k : evenly(e - b, static_cast<std::size_t>(s.max_points))) {
        const TiePoint& t = pts[b + k];
        chosen.push_back(t);
        loc.push_back(to_local(out.patch.frame, locate(t.m, lines[t.line], Params{})));
        angle += t.m.angle - 100;
      }
      const PlaneFit f = fit_plane(loc);
      // A line whose points give no plane here (they lie along one scan line) leaves the
      // patch; the patch stays for the others.
      if (!f.ok) {
        b = e;
        continue;
      }
      out.patch.points.insert(out.patch.points.end(), chosen.begin(), chosen.end());
      out.line_rms.push_back(f.rms);
      out.line_ids.push_back(pts[b].line);
      angle /= static_cast<double>(loc.size());
      out.scan_bins.push_back(
          static_cast<int>(std::clamp(std::floor((angle + 50) / 20), 0.0, 4.0)));
      if (out.line_ids.size() == 1) {
        const double slope = std::atan(std::hypot(f.b, f.c)) * 180 / M_PI;
        const double facing = std::atan2(-f.b, -f.c) * 180 / M_PI + 360;
        out.aspect_class = slope < 1 ? 0 : 1 + static_cast<int>(std::fmod(facing + 22.5, 360) / 45);
      }
    }
    b = e;
  }
  if (static_cast<int>(out.line_ids.size()) < min_lines) return false;
  out.worst_rms = *std::max_element(out.line_rms.begin(), out.line_rms.end());
  out.order = mix(static_cast<std::uint64_t>(key));
  return true;
}

// Why a control point's patch (its points `pts`, by line) could give no plane: told
// before the patch is built, in the words of calibration.json's "reason".
std::string why_no_plane(const std::vector<TiePoint>& pts, const PatchSettings& s, double size) {
  if (pts.empty()) return "outside every swath (no line measured around it)";
  std::map<int, int> per_line;
  for (const TiePoint& t : pts)
    ++per_line[t.line];
  int most = 0;
  for (const auto& [line, n] : per_line)
    most = std::max(most, n);
  char buf[200];
  if (most < s.min_points) {
    std::snprintf(buf, sizeof buf,
                  "too few points around it (at most %d of one line in the %.2g m patch, %d "
                  "needed)",
                  most, size, s.min_points);
    return buf;
  }
  return "its lines' points around it give no plane (they lie along one scan line; a larger "
         "--patch-size may help)";
}

// Patches from every bucket of (slope direction, line pair, places across
// the two swaths) in turn, up to `most`. Within a bucket every planar patch is
// as good as another: they are taken in a fixed pseudo-random order, so that
// gross errors in a few points change which patches are planar, never the
// order of the others.
std::vector<Patch> spread_choice(std::vector<Candidate>& cands, int most) {
  std::map<std::vector<int>, std::vector<Candidate*>> buckets;
  for (Candidate& c : cands) {
    std::vector<int> key{c.aspect_class, c.line_ids[0], c.line_ids[1], c.scan_bins[0],
                         c.scan_bins[1]};
    buckets[key].push_back(&c);
  }
  for (auto& [key, v] : buckets)
    std::stable_sort(v.begin(), v.end(),
                     [](const Candidate* a, const Candidate* b) { return a->order < b->order; });
  std::vector<Patch> out;
  for (std::size_t round = 0; static_cast<int>(out.size()) < most; ++round) {
    bool any = false;
    for (auto& [key, v] : buckets) {
      if (round >= v.size() || static_cast<int>(out.size()) >= most) continue;
      out.push_back(std::move(v[round]->patch));
      any = true;
    }
    if (!any) break;
  }
  return out;
}

// The pass's progress as the share of all scanner bytes read.
class PassTicker {
 public:
  PassTicker(const std::vector<Line>& lines, int pass, const PassProgress& report)
      : read_(lines.size()), pass_(pass), report_(report) {
    for (const Line& l : lines)
      total_ += static_cast<double>(std::max<std::int64_t>(1, l.scanner_bytes));
  }
  void operator()(int line, std::int64_t bytes) {
    if (!report_) return;
    std::lock_guard<std::mutex> lock(mutex_);
    read_[line] = static_cast<double>(bytes);
    report_(pass_, std::accumulate(read_.begin(), read_.end(), 0.0) / total_);
  }

 private:
  std::vector<double> read_;
  double total_ = 0;
  int pass_;
  const PassProgress& report_;
  std::mutex mutex_;
};

double patch_size_from_density(const Coverage& c, const PatchSettings& s) {
  if (s.patch_size > 0) return s.patch_size;
  double dens = 1e300;
  for (double t : c.typical)
    dens = std::min(dens, t / (kBlock * kBlock));
  if (!(dens > 0)) return kBlock;
  return std::clamp(std::sqrt(s.target_points / dens), 0.5, kBlock);
}

double planarity_limit(const std::vector<Candidate>& cands, const PatchSettings& s) {
  if (s.planarity > 0) return s.planarity;
  std::vector<double> rms;
  for (const Candidate& c : cands)
    rms.insert(rms.end(), c.line_rms.begin(), c.line_rms.end());
  if (rms.empty()) return 0.005;
  const auto p20 = rms.begin() + static_cast<std::ptrdiff_t>(rms.size() / 5);
  std::nth_element(rms.begin(), p20, rms.end());
  return std::max(0.005, 1.5 * *p20);
}

// Stops on a line that shares ground with no other: nothing ties it to them. Told after the
// first pass, before the second reads every line again.
void check_overlaps(const std::vector<Line>& lines, const std::vector<std::vector<bool>>& pairs) {
  for (std::size_t i = 0; i < lines.size(); ++i)
    if (std::none_of(pairs[i].begin(), pairs[i].end(), [](bool b) { return b; }))
      bf::stop(lines[i].name + " overlaps no other line: nothing ties it to them");
}

}  // namespace

std::vector<Patch> find_patches(const std::vector<Line>& lines,
                                const std::vector<ControlPoint>& control, const PatchSettings& s,
                                PatchReport& report, const PassProgress& progress) {
  std::vector<std::int64_t> strides;
  PassTicker tick1(lines, 1, progress);
  const auto samples = sample_lines(lines, s.threads, strides, std::ref(tick1));
  for (std::size_t k = 0; k < lines.size(); ++k)
    if (samples[k].empty())
      bf::stop(lines[k].name + ": no measurement with a range passes the deck's limits");
  Grid blocks{local_frame(samples[0][0].lat, samples[0][0].lon, 0), kBlock};
  const Coverage coverage = map_coverage(blocks, samples, strides);
  const std::vector<std::int64_t> shared = overlap_blocks(coverage, report.overlaps);
  check_overlaps(lines, report.overlaps);

  Grid fine{blocks.ref, patch_size_from_density(coverage, s)};
  report.patch_size = fine.size;
  auto cands = choose_candidates(shared, fine, 8 * static_cast<std::int64_t>(s.max_patches));
  std::map<int, std::vector<ControlPoint>> control_of;
  for (const ControlPoint& cp : control) {
    if (!Grid::finite(cp.lat, cp.lon)) {
      report.unused_control.push_back({cp, "its position is not a number"});
      continue;
    }
    const auto it = cands.emplace(fine.key(cp.lat, cp.lon), static_cast<int>(cands.size())).first;
    control_of[it->second].push_back(cp);
  }
  PassTicker tick2(lines, 2, progress);
  const auto kept = collect(lines, fine, cands, 4 * s.max_points, s.threads, std::ref(tick2));

  std::vector<std::vector<TiePoint>> by_cand(cands.size());
  for (std::size_t k = 0; k < kept.size(); ++k)
    for (const Kept& t : kept[k])
      by_cand[t.cand].push_back({t.m, static_cast<int>(k)});
  std::vector<Candidate> built, controls;
  for (const auto& [key, idx] : cands) {
    const auto cp = control_of.find(idx);
    const std::string refusal =
        cp == control_of.end() ? std::string() : why_no_plane(by_cand[idx], s, fine.size);
    Candidate c;
    if (!build_candidate(fine, key, std::move(by_cand[idx]), lines, s,
                         cp == control_of.end() ? 2 : 1, c)) {
      if (cp != control_of.end())
        for (const ControlPoint& point : cp->second)
          report.unused_control.push_back({point, refusal});
      continue;
    }
    if (cp != control_of.end()) {
      c.patch.control = cp->second;
      controls.push_back(std::move(c));
    } else {
      built.push_back(std::move(c));
    }
  }
  report.candidates = static_cast<std::int64_t>(built.size());
  report.planarity = planarity_limit(built, s);
  std::erase_if(built, [&](const Candidate& c) { return c.worst_rms > report.planarity; });
  report.planar = static_cast<std::int64_t>(built.size());
  // Candidates in a fixed order, whatever the hash map's.
  std::sort(built.begin(), built.end(), [](const Candidate& a, const Candidate& b) {
    return std::tie(a.patch.frame.lat0, a.patch.frame.lon0) <
           std::tie(b.patch.frame.lat0, b.patch.frame.lon0);
  });
  std::vector<Patch> out = spread_choice(built, s.max_patches);
  for (Candidate& c : controls)
    out.push_back(std::move(c.patch));
  std::sort(
      report.unused_control.begin(), report.unused_control.end(),
      [](const UnusedControl& a, const UnusedControl& b) { return a.point.row < b.point.row; });
  return out;
}

}  // namespace bfcal

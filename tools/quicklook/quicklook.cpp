#include "quicklook.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "dem_grid.hpp"
#include "gdal_products.hpp"
#include "geo/gdal_io.hpp"
#include "histogram.hpp"
#include "kit/error.hpp"
#include "kit/manifest.hpp"
#include "kit/median.hpp"
#include "map_projection.hpp"
#include "page.hpp"
#include "plots.hpp"
#include "product_folder.hpp"
#include "projection.hpp"
#include "run/session.hpp"
#include "runfiles/block_reader.hpp"
#include "runfiles/las_reader.hpp"
#include "runfiles/run_files.hpp"
#include "runfiles/text.hpp"
#include "textio/error.hpp"
#include "tile_grid.hpp"

namespace quicklook {

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kCrossPoints = 10000;  // points of the cross-profile plot
constexpr std::size_t kTrackPoints = 4000;   // centre points of the along-track plot and map
constexpr int kHillshadeSide = 2000;         // pixels, at most
constexpr int kMapSide = 1000;               // pixels of the page's map picture, at most

// What the products need of the deck, as beamfall read it.
// The run's figures, from its manifest; NaN or -1 where it has none.
struct RunFigures {
  long long scans = -1, npout = -1, ncal = -1;
  double bias = NAN, roll = NAN;
  double range_min = NAN, range_max = NAN, elev_min = NAN, elev_max = NAN;
  double lat_min = NAN, lat_max = NAN, lon_min = NAN, lon_max = NAN;
  long long rej_ampl = -1, rej_scan = -1, rej_range = -1;
};

// The DEM's CRS and grid, decided from the centre track before any product is made.
struct DemPlan {
  int epsg = 0;
  TrackGeometry track;
  GridFrame frame;
};

struct Run {
  Options options;
  bf::RunPar deck;  // the deck, finished as the run finishes it (wrtpts, calib, usegeoid)
  RunFigures figures;
  fs::path base;  // the deck's folder: the run's file names are relative to it
  fs::path out;   // the product folder
  fs::path work;  // where the products are made, moved to `out` at the end
  std::vector<runfiles::CentreRecord> centre;
  bool has_points = false;
  std::optional<DemPlan> dem;  // for the map products
  std::string height_kind;
  PageContent page;
};

std::string f2(double v) {
  return std::isfinite(v) ? runfiles::fixed(v, 2) : "-";
}
std::string f4(double v) {
  return std::isfinite(v) ? runfiles::fixed(v, 4) : "-";
}
std::string count(long long v) {
  return v < 0 ? "-" : std::to_string(v);
}

// Every k-th element so that about `keep` remain.
std::size_t stride_for(std::size_t n, std::size_t keep) {
  return std::max<std::size_t>(1, n / keep);
}

// The files the products are made from: the centre file, the points (the deck's or the LAS
// file) and the cross profiles.
std::vector<std::string> run_inputs(const Run& r) {
  std::vector<std::string> inputs = {(r.base / bf::file_name(r.deck.cenname)).string()};
  if (!r.options.las.empty()) {
    inputs.push_back(r.options.las);
  } else if (r.deck.wrtpts) {
    inputs.push_back((r.base / bf::file_name(r.deck.ptname)).string());
  }
  if (r.has_points && r.deck.calib) inputs.push_back((r.base / "scan.cal").string());
  return inputs;
}

// Every input is opened before anything is written: a missing one stops the run with its
// name and leaves no half-made products.
void check_inputs(const Run& r) {
  for (const std::string& path : run_inputs(r))
    runfiles::BlockReader probe(path, 1);
}

bf::RunPar read_deck(const std::string& path) {
  runfiles::BlockReader probe(path, 1);  // a missing deck named as every missing input is
  try {
    return bf::finish_parameters(bf::read_deck_file(path)).par;
  } catch (const bf::Stop& e) {
    std::string why = e.what();
    why.erase(0, why.find_first_not_of(' '));
    throw kit::ToolError(path + ": " + why);
  }
}

kit::Manifest read_run_manifest(const std::string& path) {
  // A manifest is a few kilobytes: a large file given by mistake (a report, a point file) is
  // refused before it is read.
  constexpr std::uintmax_t kLargestManifest = 16u << 20;
  std::error_code ec;
  const std::uintmax_t size = std::filesystem::file_size(path, ec);
  std::optional<kit::Manifest> m;
  if (ec || size <= kLargestManifest) m = kit::read_manifest(runfiles::read_file(path));
  if (!m)
    throw kit::ToolError(path +
                         ": not a beamfall manifest; run beamfall with --manifest FILE "
                         "and give that file");
  return std::move(*m);
}

RunFigures figures_of(const kit::Manifest& m) {
  RunFigures f;
  if (const auto& s = m.summary) {
    f.scans = s->scans_read;
    f.npout = s->points_output;
    f.range_min = s->range_min;
    f.range_max = s->range_max;
    f.elev_min = s->flight_height_min;
    f.elev_max = s->flight_height_max;
    f.lat_min = s->aircraft_lat_min;
    f.lat_max = s->aircraft_lat_max;
    f.lon_min = s->aircraft_lon_min;
    f.lon_max = s->aircraft_lon_max;
    f.rej_ampl = s->rejected_amplitude;
    f.rej_scan = s->rejected_scan_angle;
    f.rej_range = s->rejected_range;
  }
  if (const auto& g = m.regression) {
    f.ncal = g->points;
    f.bias = g->bias;
    f.roll = g->roll;
  }
  return f;
}

// The manifest must be of a run of this deck: the same point and centre files.
void check_same_run(const bf::RunPar& d, const kit::Manifest& m, const std::string& deck,
                    const std::string& manifest) {
  if (m.deck &&
      (m.deck->ptname != bf::file_name(d.ptname) || m.deck->cenname != bf::file_name(d.cenname)))
    throw kit::ToolError(manifest + " is the manifest of another deck than " + deck);
}

// A run that stopped is shown when the files the products are made from are its own: the
// whole records it wrote before the stop. One that stopped before writing them (an input it
// could not read) left none, or an earlier run's, which are not this run's to show: such a
// file is older than the run's start (the manifest is written at its end).
void check_stopped_run_wrote(const Run& r, const kit::Manifest& m, const std::string& path) {
  if (m.status == 0) return;
  std::error_code ec;
  const auto ended = fs::last_write_time(path, ec);
  const double seconds = std::isfinite(m.elapsed_seconds) ? m.elapsed_seconds : 0.0;
  // A second's slack for file systems with coarse times.
  const auto started = ended - std::chrono::duration_cast<fs::file_time_type::duration>(
                                   std::chrono::duration<double>(seconds + 1.0));
  for (const std::string& input : run_inputs(r)) {
    if (input == r.options.las) continue;  // made by the user, not by the run
    const auto written = fs::last_write_time(input, ec);
    if (ec || written < started)
      throw kit::ToolError(path + ": the run stopped before writing " +
                           fs::path(input).filename().string() + " (" + m.stop +
                           "); it has nothing to show");
  }
}

// What the page says first of a run that stopped.
std::string stop_banner(const kit::Manifest& m) {
  return "This run stopped (exit status " + std::to_string(m.status) + ")" +
         (m.stop.empty() ? "" : ": " + m.stop) +
         ". Its files hold the whole records written before the stop; the figures it had not "
         "reached are shown as -.";
}

// Streams every point of the run (the deck's point file or the LAS file) as batches of
// longitude, latitude (degrees) and height (metres).
void stream_points(const Run& r, const runfiles::LonLatHeightFn& batch) {
  const bool las = !r.options.las.empty();
  runfiles::for_each_lon_lat_height(
      las ? r.options.las : (r.base / bf::file_name(r.deck.ptname)).string(), las, r.deck.binout,
      r.deck.naver > 1, batch);
}

// ---- the DEM's frame -------------------------------------------------------------------

// Half the swath width from the geometry of the run: the longest range against the
// typical nadir range of the centre file.
double half_swath(const Run& r) {
  std::vector<double> ranges;
  for (const runfiles::CentreRecord& c : r.centre)
    if (std::isfinite(c.range)) ranges.push_back(c.range);
  const double rmax = r.figures.range_max, nadir = kit::median(ranges);
  if (!std::isfinite(rmax)) return 1000.0;
  if (!std::isfinite(nadir) || nadir >= rmax) return rmax;
  return std::sqrt(rmax * rmax - nadir * nadir);
}

TrackGeometry project_track(const Run& r, const MapProjection& proj) {
  TrackGeometry t;
  for (const runfiles::CentreRecord& c : r.centre) {
    t.x.push_back(c.lon);
    t.y.push_back(c.lat);
  }
  proj.forward(t.x, t.y);
  for (std::size_t k = 1; k < t.x.size(); ++k) {
    const double d = std::hypot(t.x[k] - t.x[k - 1], t.y[k] - t.y[k - 1]);
    if (std::isfinite(d)) t.length += d;
  }
  t.half_swath = half_swath(r);
  return t;
}

DemPlan plan_dem(const Run& r) {
  if (r.centre.empty())
    throw kit::ToolError(bf::file_name(r.deck.cenname) + ": no centre point to place the DEM");
  double lat = 0.0, lon = 0.0;
  for (const runfiles::CentreRecord& c : r.centre) {
    lat += c.lat / static_cast<double>(r.centre.size());
    lon += c.lon / static_cast<double>(r.centre.size());
  }
  DemPlan plan;
  plan.epsg = choose_epsg(lat, lon);
  plan.track = project_track(r, MapProjection(plan.epsg));
  const double cell =
      r.options.cell > 0.0
          ? r.options.cell
          : default_cell(plan.track, static_cast<double>(std::max(r.figures.npout, 1LL)));
  plan.frame = checked_frame(plan.track, cell);
  return plan;
}

// Reads what the products need (deck, manifest, centre file) and decides the DEM's grid:
// everything that can refuse the run does so here, before any product is begun.
Run open_run(const Options& o) {
  Run r;
  r.options = o;
  r.deck = read_deck(o.deck);
  const std::string manifest = o.manifest.empty() ? o.report : o.manifest;
  const kit::Manifest m = read_run_manifest(manifest);
  check_same_run(r.deck, m, o.deck, manifest);
  r.figures = figures_of(m);
  r.base = fs::path(o.deck).parent_path();
  r.out = o.out.empty() ? r.base / "quicklook" : fs::path(o.out);
  r.has_points = !o.las.empty() || r.deck.wrtpts;
  check_stopped_run_wrote(r, m, manifest);
  check_inputs(r);
  if (m.status != 0) r.page.banner = stop_banner(m);
  std::int64_t bad = 0;
  r.centre = runfiles::read_centre((r.base / bf::file_name(r.deck.cenname)).string(), bad);
  if (bad > 0)
    r.page.notes.push_back(std::to_string(bad) + " lines of the centre file " +
                           bf::file_name(r.deck.cenname) + " could not be read and are left out.");
  if (m.status != 0 && r.centre.empty())
    throw kit::ToolError(manifest + ": the run stopped before writing a centre point (" + m.stop +
                         "); it has nothing to show");
  r.height_kind = r.deck.usegeoid ? "above the geoid" : "ellipsoidal";
  if (r.has_points && r.deck.useatt) r.dem = plan_dem(r);
  return r;
}

// ---- products ---------------------------------------------------------------------------

struct Gridded {
  kit::GridStats stats;
  HeightHistogram histogram;
};

// Streams the points through the grid into the DEM writer; the histogram on the first pass.
// Projected on every core (the closed forms: the same coordinates as PROJ's to a micrometre,
// at a fraction of its cost), gridded in file order.
Gridded grid_points(const Run& r, int epsg, const GridFrame& frame, DemWriter& dem) {
  Gridded g;
  const MapProjection projection(epsg);
  const std::vector<geo::ProjectingPipe::Projection> projections(
      geo::worker_threads(),
      [&projection](std::span<double> x, std::span<double> y) { projection.forward(x, y); });
  const kit::GridSource source = [&](int pass, const kit::GridBatchFn& batch) {
    geo::ProjectingPipe pipe(
        projections, [&](std::vector<double>& x, std::vector<double>& y, std::vector<double>& h) {
          if (pass == 0)
            for (double v : h)
              g.histogram.add(v);
          batch(x, y, h);
        });
    stream_points(r, [&](std::vector<double>& lon, std::vector<double>& lat,
                         std::vector<double>& h) { pipe.push(lon, lat, h); });
    pipe.flush();
  };
  g.stats = kit::stream_grid(
      frame, kStreamMargin, source,
      [&](std::int64_t tx, std::int64_t ty, const TileGrid::Tile& t) { dem.add_tile(tx, ty, t); });
  return g;
}

HeightHistogram histogram_only(const Run& r) {
  HeightHistogram hist;
  stream_points(r, [&](std::vector<double>&, std::vector<double>&, std::vector<double>& h) {
    for (double v : h)
      hist.add(v);
  });
  return hist;
}

void add_figure(PageContent& page, const std::string& caption, const Plotter::Picture& pic) {
  page.figures.push_back({caption, "image/svg+xml", pic.svg});
}

void add_histogram(Run& r, Plotter& plot, const HeightHistogram& hist) {
  if (hist.count() == 0) {
    r.page.notes.push_back("The point file holds no point: no height histogram.");
    return;
  }
  const double lo = hist.quantile(0.001), hi = hist.quantile(0.999);
  add_figure(r.page, "Histogram of the point heights (0.1 to 99.9 percentile).",
             plot.histogram(hist.rebinned(lo, hi, 80), r.height_kind));
}

// dem.tif and the hillshade side by side: the one mostly compresses on GDAL's threads, the
// other is one thread's work from the reduced raster. Their extents, the page's picture's.
std::pair<RasterExtent, RasterExtent> dem_and_hillshade(const DemWriter& dem, int epsg, double lo,
                                                        double hi, const fs::path& work) {
  RasterExtent page;
  std::exception_ptr shade_error;
  std::jthread shade([&] {
    try {
      page = dem.write_hillshade(lo, hi, epsg, (work / "hillshade.png").string(),
                                 (work / "plots" / "map_hillshade.png").string(), kMapSide)
                 .page;
    } catch (...) {
      shade_error = std::current_exception();
    }
  });
  const RasterExtent extent = dem.write_dem(epsg, (work / "dem.tif").string());
  shade.join();
  if (shade_error) std::rethrow_exception(shade_error);
  return {extent, page};
}

// DEM, hillshade, GeoPackage and map; returns the histogram of the heights.
HeightHistogram map_products(Run& r, Plotter& plot) {
  const DemPlan& plan = *r.dem;
  const int epsg = plan.epsg;
  const TrackGeometry& track = plan.track;
  const GridFrame& frame = plan.frame;
  DemWriter dem(frame, r.work.string(), kHillshadeSide);
  const std::string crs = "EPSG:" + std::to_string(epsg);
  const Gridded g = grid_points(r, epsg, frame, dem);
  const std::int64_t points = g.stats.points, outside = g.stats.outside;
  r.page.summary.push_back(
      {"DEM (dem.tif)", crs + ", " + runfiles::exact(frame.cell) + " m cells"});
  r.page.summary.push_back(
      {"Points gridded", std::to_string(points - outside) + " of " + std::to_string(points)});
  if (outside > 0)
    r.page.notes.push_back(std::to_string(outside) +
                           " points lay outside the DEM frame around the centre track and are "
                           "not in the DEM.");
  if (g.stats.ix_lo > g.stats.ix_hi) {
    r.page.notes.push_back("No point could be gridded: no DEM and no hillshade.");
    return g.histogram;
  }
  dem.set_occupied(g.stats.ix_lo, g.stats.ix_hi, g.stats.iy_lo, g.stats.iy_hi);
  const double lo = g.histogram.quantile(0.01), hi = g.histogram.quantile(0.99);
  const auto [dem_extent, png] = dem_and_hillshade(dem, epsg, lo, hi, r.work);
  r.page.summary.push_back({"DEM size", std::to_string(dem_extent.width) + " x " +
                                            std::to_string(dem_extent.height) + " cells"});
  Rows xy;
  for (std::size_t k = 0; k < track.x.size(); k += stride_for(track.x.size(), kTrackPoints))
    if (std::isfinite(track.x[k]) && std::isfinite(track.y[k]))
      xy.push_back({track.x[k], track.y[k]});
  add_figure(r.page,
             "Colour-relief hillshade of the DEM (colours from " + f2(lo) + " to " + f2(hi) +
                 " m) with the centre track.",
             plot.map({"map_hillshade.png", png.width, png.height, png.west, png.east, png.south,
                       png.north},
                      xy, crs));
  return g.histogram;
}

// "every point", "every 2nd point", "every 37th point".
std::string every_nth(std::size_t n) {
  if (n == 1) return "every point";
  const std::size_t tens = n % 100, ones = n % 10;
  const char* suffix = tens >= 11 && tens <= 13 ? "th"
                       : ones == 1              ? "st"
                       : ones == 2              ? "nd"
                       : ones == 3              ? "rd"
                                                : "th";
  return "every " + std::to_string(n) + suffix + " point";
}

void cross_profiles(const Run& r, Plotter& plot, PageContent& page) {
  if (!r.deck.calib) {
    page.notes.push_back("The deck does not ask for cross profiles: no cross-profile plot.");
    return;
  }
  const std::size_t expected = static_cast<std::size_t>(std::max(r.figures.ncal, 1LL));
  const std::size_t stride = stride_for(expected, kCrossPoints);
  Rows kept;
  double n = 0.0, sx = 0.0, sxx = 0.0, sz = 0.0, sxz = 0.0;
  std::size_t seen = 0;
  runfiles::for_each_cal((r.base / "scan.cal").string(), [&](const runfiles::CalRecord& c) {
    n += 1.0;
    sx += c.xdist;
    sxx += c.xdist * c.xdist;
    sz += c.h;
    sxz += c.xdist * c.h;
    if (seen++ % stride == 0) kept.push_back({c.xdist, c.h});
  });
  // The same least-squares line as the run's regression, from the file's rounded values.
  const double det = sxx * n - sx * sx;
  const double bias = det != 0.0 ? (sxx * sz - sx * sxz) / det : sz / std::max(n, 1.0);
  const double slope = det != 0.0 ? (n * sxz - sx * sz) / det : 0.0;
  const std::string label =
      "bias " + f2(r.figures.bias) + " m, roll " + f2(r.figures.roll) + " degrees (report)";
  add_figure(page,
             "Cross profiles: " + every_nth(stride) + " of scan.cal and the least-squares line; " +
                 label + ".",
             plot.cross_profiles(kept, bias, slope, label));
}

void along_track(const Run& r, Plotter& plot, PageContent& page) {
  if (r.centre.empty()) return;
  Rows rows;
  const double t0 = r.centre.front().thr;
  for (std::size_t k = 0; k < r.centre.size(); k += stride_for(r.centre.size(), kTrackPoints)) {
    const runfiles::CentreRecord& c = r.centre[k];
    rows.push_back({(c.thr - t0) * 3600.0, c.h, c.airh});
  }
  add_figure(page, "Surface height at the track centre and aircraft height along the flight.",
             plot.along_track(rows, r.height_kind));
}

// The products that need none of the points: the track's GeoPackage, the cross profiles and
// the heights along track. They run on a thread of their own beside the gridding, into a page
// of their own.
void side_products(const Run& r, Plotter& plot, PageContent& page) {
  if (r.has_points && r.deck.useatt) write_track(r.centre, (r.work / "track.gpkg").string());
  if (r.has_points) cross_profiles(r, plot, page);
  along_track(r, plot, page);
}

void summary_rows(Run& r) {
  const RunFigures& p = r.figures;
  auto& s = r.page.summary;
  s.push_back({"Mode", r.deck.useatt ? "full geolocation" : "profile mode (no attitude)"});
  s.push_back({"Heights", r.height_kind});
  s.push_back({"Scans read", count(p.scans)});
  s.push_back({"Points output", count(p.npout)});
  s.push_back({"Laser range (m)", f2(p.range_min) + " to " + f2(p.range_max)});
  s.push_back({"Flight elevation (m)", f2(p.elev_min) + " to " + f2(p.elev_max)});
  s.push_back({"Aircraft latitude (deg)", f4(p.lat_min) + " to " + f4(p.lat_max)});
  s.push_back({"Aircraft longitude (deg)", f4(p.lon_min) + " to " + f4(p.lon_max)});
  s.push_back({"Rejected: amplitude, scan index, range",
               count(p.rej_ampl) + ", " + count(p.rej_scan) + ", " + count(p.rej_range)});
  if (r.deck.calib) {
    s.push_back({"Regression points", count(p.ncal)});
    s.push_back({"Bias (m), roll (degrees)", f2(p.bias) + ", " + f2(p.roll)});
  }
  s.push_back({"Centre points", std::to_string(r.centre.size())});
}

// The products of a run into `r.work`.
void make_products(Run& r) {
  std::error_code ec;
  fs::create_directory(r.work / "plots", ec);
  if (ec)
    throw kit::ToolError("cannot create " + (r.work / "plots").string() + ": " + ec.message());
  Plotter plot((r.work / "plots").string());
  PageContent side;
  std::exception_ptr side_error;
  std::jthread beside([&] {
    try {
      side_products(r, plot, side);
    } catch (...) {
      side_error = std::current_exception();
    }
  });
  std::optional<HeightHistogram> hist;
  if (!r.has_points) {
    r.page.notes.push_back("The run wrote no point file: no DEM, hillshade or histogram.");
  } else if (r.deck.useatt) {
    hist = map_products(r, plot);
  } else {
    r.page.notes.push_back(
        "Profile mode (the deck's useatt is F): the points carry no real "
        "coordinates, so there is no DEM, hillshade, map or GeoPackage; only "
        "the plots that need no coordinates.");
    hist = histogram_only(r);
  }
  beside.join();
  if (side_error) std::rethrow_exception(side_error);
  r.page.notes.insert(r.page.notes.end(), side.notes.begin(), side.notes.end());
  r.page.figures.insert(r.page.figures.end(), side.figures.begin(), side.figures.end());
  if (hist) add_histogram(r, plot, *hist);
  runfiles::write_file((r.work / "index.html").string(), render_page(r.page));
}

}  // namespace

void run(const Options& options) {
  const auto started = std::chrono::steady_clock::now();
  geo::start_gdal(16);
  Run r = open_run(options);
  r.page.title = "Quick look: " + (r.base / bf::file_name(r.deck.scanname)).filename().string();
  summary_rows(r);
  ProductFolder folder(r.out);
  r.work = folder.work();
  make_products(r);
  folder.commit({"dem.tif", "hillshade.png", "track.gpkg", "index.html", "plots"});
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  std::printf("quick-look products in %s (%.1f s):\n", r.out.string().c_str(), seconds);
  for (const char* name : {"dem.tif", "hillshade.png", "track.gpkg", "index.html"})
    if (fs::exists(r.out / name)) std::printf("  %s\n", (r.out / name).string().c_str());
  if (!r.page.banner.empty()) std::printf("note: %s\n", r.page.banner.c_str());
  for (const std::string& note : r.page.notes)
    std::printf("note: %s\n", note.c_str());
}

}  // namespace quicklook

#include "overlap.hpp"

#include <gdal_priv.h>
#include <ogr_spatialref.h>
#include <proj.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <stdexcept>

namespace campaign {

namespace {

PJ_CONTEXT* as_ctx(void* p) {
  return static_cast<PJ_CONTEXT*>(p);
}
PJ* as_pj(void* p) {
  return static_cast<PJ*>(p);
}

std::string tmerc_crs(double lat0, double lon0) {
  char buf[160];
  std::snprintf(buf, sizeof buf,
                "+proj=tmerc +lat_0=%.6f +lon_0=%.6f +k=1 +x_0=0 +y_0=0 +ellps=WGS84 +units=m "
                "+no_defs +type=crs",
                lat0, lon0);
  return buf;
}

}  // namespace

LocalProjection::LocalProjection(double lat0, double lon0) : crs_(tmerc_crs(lat0, lon0)) {
  ctx_ = proj_context_create();
  PJ* raw = proj_create_crs_to_crs(as_ctx(ctx_), "EPSG:4326", crs_.c_str(), nullptr);
  // Longitude first, whatever the CRS's own axis order.
  if (raw) pj_ = proj_normalize_for_visualization(as_ctx(ctx_), raw);
  proj_destroy(raw);
  if (!pj_) {
    const std::string why =
        proj_context_errno_string(as_ctx(ctx_), proj_context_errno(as_ctx(ctx_)));
    proj_context_destroy(as_ctx(ctx_));
    throw std::runtime_error("cannot set up the projection " + crs_ + ": " + why);
  }
}

LocalProjection::~LocalProjection() {
  proj_destroy(as_pj(pj_));
  proj_context_destroy(as_ctx(ctx_));
}

void LocalProjection::forward(std::vector<double>& lon_x, std::vector<double>& lat_y) const {
  const std::size_t n = std::min(lon_x.size(), lat_y.size());
  if (n == 0) return;
  const std::size_t done =
      proj_trans_generic(as_pj(pj_), PJ_FWD, lon_x.data(), sizeof(double), n, lat_y.data(),
                         sizeof(double), n, nullptr, 0, 0, nullptr, 0, 0);
  if (done != n) throw std::runtime_error("projection of the points failed");
}

namespace {

bool by_row_then_column(const GridCell& a, const GridCell& b) {
  return a.j != b.j ? a.j < b.j : a.i < b.i;
}

// Cell index of a coordinate; a flight line's points lie within +-2^31 cells of the centre.
bool cell_of(double v, double cell, std::int32_t& k) {
  const double c = std::floor(v / cell);
  if (!(c >= -2147483648.0 && c < 2147483647.0)) return false;
  k = static_cast<std::int32_t>(c);
  return true;
}

std::uint64_t cell_key(std::int32_t j, std::int32_t i) {
  return std::uint64_t{static_cast<std::uint32_t>(j)} << 32 | static_cast<std::uint32_t>(i);
}

GridCell cell_at(std::uint64_t key) {
  GridCell c;
  c.j = static_cast<std::int32_t>(static_cast<std::uint32_t>(key >> 32));
  c.i = static_cast<std::int32_t>(static_cast<std::uint32_t>(key));
  return c;
}

void set_box(LineGrid& g) {
  if (g.empty()) return;
  g.jlo = g.cells.front().j;
  g.jhi = g.cells.back().j;
  g.ilo = g.ihi = g.cells.front().i;
  for (const GridCell& c : g.cells) {
    g.ilo = std::min(g.ilo, c.i);
    g.ihi = std::max(g.ihi, c.i);
  }
}

}  // namespace

void GridAccumulator::add(std::span<const double> x, std::span<const double> y,
                          std::span<const double> h) {
  const std::size_t n = std::min({x.size(), y.size(), h.size()});
  for (std::size_t k = 0; k < n; ++k) {
    std::int32_t i = 0, j = 0;
    if (!std::isfinite(h[k]) || !cell_of(x[k], cell_, i) || !cell_of(y[k], cell_, j)) continue;
    Sum& s = sums_[cell_key(j, i)];
    s.h += h[k];
    ++s.n;
  }
}

LineGrid GridAccumulator::grid() const {
  LineGrid g;
  g.cells.reserve(sums_.size());
  for (const auto& [key, s] : sums_) {
    GridCell c = cell_at(key);
    c.mean = static_cast<float>(s.h / static_cast<double>(s.n));
    g.cells.push_back(c);
  }
  std::sort(g.cells.begin(), g.cells.end(), by_row_then_column);
  set_box(g);
  return g;
}

LineGrid grid_points(const std::vector<double>& x, const std::vector<double>& y,
                     const std::vector<double>& h, double cell) {
  GridAccumulator acc(cell);
  acc.add(x, y, h);
  return acc.grid();
}

Overlap compare_lines(const LineGrid& ga, const LineGrid& gb, double cell) {
  Overlap o;
  o.cell = cell;
  if (!ga.box_meets(gb)) return o;
  double sum = 0.0, sum2 = 0.0;
  std::size_t ka = 0, kb = 0;
  while (ka < ga.cells.size() && kb < gb.cells.size()) {
    const GridCell& a = ga.cells[ka];
    const GridCell& b = gb.cells[kb];
    if (by_row_then_column(a, b)) {
      ++ka;
    } else if (by_row_then_column(b, a)) {
      ++kb;
    } else {
      const double dh = static_cast<double>(a.mean) - static_cast<double>(b.mean);
      o.cells.push_back({a.j, a.i, dh});
      sum += dh;
      sum2 += dh * dh;
      ++ka;
      ++kb;
    }
  }
  if (!o.cells.empty()) {
    const auto n = static_cast<double>(o.cells.size());
    o.mean = sum / n;
    o.rms = std::sqrt(sum2 / n);
  }
  return o;
}

namespace {

void check(CPLErr e, const std::string& what) {
  if (e != CE_None) throw std::runtime_error(what + ": " + CPLGetLastErrorMsg());
}

}  // namespace

bool write_overlap_tiff(const std::string& path, const Overlap& o, const std::string& crs,
                        std::int64_t max_cells) {
  if (o.cells.empty()) return false;
  std::int32_t ilo = o.cells.front().i, ihi = ilo;
  const std::int32_t jlo = o.cells.front().j, jhi = o.cells.back().j;
  for (const OverlapCell& c : o.cells) {
    ilo = std::min(ilo, c.i);
    ihi = std::max(ihi, c.i);
  }
  const std::int64_t nx64 = std::int64_t{ihi} - ilo + 1, ny64 = std::int64_t{jhi} - jlo + 1;
  if (nx64 * ny64 > max_cells || nx64 > INT32_MAX || ny64 > INT32_MAX) return false;
  const int nx = static_cast<int>(nx64), ny = static_cast<int>(ny64);
  std::vector<float> band(static_cast<std::size_t>(nx64 * ny64),
                          std::numeric_limits<float>::quiet_NaN());
  for (const OverlapCell& c : o.cells) {  // north row first
    const std::int64_t r = std::int64_t{jhi} - c.j, col = std::int64_t{c.i} - ilo;
    band[static_cast<std::size_t>(r * nx64 + col)] = static_cast<float>(c.dh);
  }
  const double cell = o.cell;
  GDALAllRegister();
  GDALDriver* drv = GetGDALDriverManager()->GetDriverByName("GTiff");
  if (!drv) throw std::runtime_error("GDAL has no GTiff driver");
  GDALDatasetUniquePtr ds(drv->Create(path.c_str(), nx, ny, 1, GDT_Float32, nullptr));
  if (!ds) throw std::runtime_error("cannot create " + path + ": " + CPLGetLastErrorMsg());
  double gt[6] = {static_cast<double>(ilo) * cell,         cell, 0.0,
                  (static_cast<double>(jhi) + 1.0) * cell, 0.0,  -cell};
  check(ds->SetGeoTransform(gt), path);
  OGRSpatialReference srs;
  if (srs.importFromProj4(crs.c_str()) != OGRERR_NONE) throw std::runtime_error("bad CRS " + crs);
  check(ds->SetSpatialRef(&srs), path);
  GDALRasterBand* b = ds->GetRasterBand(1);
  check(b->SetNoDataValue(std::numeric_limits<double>::quiet_NaN()), path);
  check(b->RasterIO(GF_Write, 0, 0, nx, ny, band.data(), nx, ny, GDT_Float32, 0, 0, nullptr), path);
  CPLErrorReset();
  ds.reset();  // closing writes the file
  if (CPLGetLastErrorType() == CE_Failure) {
    throw std::runtime_error("cannot write " + path + ": " + CPLGetLastErrorMsg());
  }
  return true;
}

}  // namespace campaign

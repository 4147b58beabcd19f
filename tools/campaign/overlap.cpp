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

float LineGrid::at(std::int64_t i, std::int64_t j) const {
  const std::int64_t c = i - i0, r = j - j0;
  if (c < 0 || r < 0 || c >= nx || r >= ny) return std::numeric_limits<float>::quiet_NaN();
  return mean[static_cast<std::size_t>(r * nx + c)];
}

namespace {

// Cell index of a coordinate; points beyond +-1e12 cells cannot occur in a flight line.
std::int64_t cell_of(double v, double cell) {
  return static_cast<std::int64_t>(std::floor(v / cell));
}

}  // namespace

LineGrid grid_points(const std::vector<double>& x, const std::vector<double>& y,
                     const std::vector<double>& h, double cell) {
  LineGrid g;
  double xlo = INFINITY, xhi = -INFINITY, ylo = INFINITY, yhi = -INFINITY;
  for (std::size_t k = 0; k < x.size(); ++k) {
    if (!std::isfinite(x[k]) || !std::isfinite(y[k]) || !std::isfinite(h[k])) continue;
    xlo = std::min(xlo, x[k]);
    xhi = std::max(xhi, x[k]);
    ylo = std::min(ylo, y[k]);
    yhi = std::max(yhi, y[k]);
  }
  if (!(xlo <= xhi)) return g;
  if ((xhi - xlo) / cell > 1e5 || (yhi - ylo) / cell > 1e5) {
    throw std::runtime_error("a line spans more than 100000 cells; give a larger cell size");
  }
  g.i0 = cell_of(xlo, cell);
  g.j0 = cell_of(ylo, cell);
  g.nx = cell_of(xhi, cell) - g.i0 + 1;
  g.ny = cell_of(yhi, cell) - g.j0 + 1;
  const auto ncell = static_cast<std::size_t>(g.nx * g.ny);
  std::vector<double> sum(ncell, 0.0);
  std::vector<std::uint32_t> count(ncell, 0);
  for (std::size_t k = 0; k < x.size(); ++k) {
    if (!std::isfinite(x[k]) || !std::isfinite(y[k]) || !std::isfinite(h[k])) continue;
    const auto c = static_cast<std::size_t>((cell_of(y[k], cell) - g.j0) * g.nx +
                                            (cell_of(x[k], cell) - g.i0));
    sum[c] += h[k];
    ++count[c];
  }
  g.mean.assign(ncell, std::numeric_limits<float>::quiet_NaN());
  for (std::size_t c = 0; c < ncell; ++c) {
    if (count[c] > 0) g.mean[c] = static_cast<float>(sum[c] / count[c]);
  }
  return g;
}

Overlap compare_lines(const LineGrid& ga, const LineGrid& gb, double cell) {
  Overlap o;
  if (ga.empty() || gb.empty()) return o;
  const std::int64_t ilo = std::max(ga.i0, gb.i0), ihi = std::min(ga.i0 + ga.nx, gb.i0 + gb.nx);
  const std::int64_t jlo = std::max(ga.j0, gb.j0), jhi = std::min(ga.j0 + ga.ny, gb.j0 + gb.ny);
  double sum = 0.0, sum2 = 0.0;
  for (std::int64_t j = jlo; j < jhi; ++j) {
    for (std::int64_t i = ilo; i < ihi; ++i) {
      const float a = ga.at(i, j), b = gb.at(i, j);
      if (std::isnan(a) || std::isnan(b)) continue;
      const double dh = static_cast<double>(a) - static_cast<double>(b);
      o.cells.push_back(
          {(static_cast<double>(i) + 0.5) * cell, (static_cast<double>(j) + 0.5) * cell, dh});
      sum += dh;
      sum2 += dh * dh;
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

void write_overlap_tiff(const std::string& path, const LineGrid& ga, const LineGrid& gb,
                        double cell, const std::string& crs) {
  const std::int64_t ilo = std::max(ga.i0, gb.i0), ihi = std::min(ga.i0 + ga.nx, gb.i0 + gb.nx);
  const std::int64_t jlo = std::max(ga.j0, gb.j0), jhi = std::min(ga.j0 + ga.ny, gb.j0 + gb.ny);
  if (ihi <= ilo || jhi <= jlo) return;
  const int nx = static_cast<int>(ihi - ilo), ny = static_cast<int>(jhi - jlo);
  std::vector<float> band(static_cast<std::size_t>(nx) * static_cast<std::size_t>(ny));
  for (int r = 0; r < ny; ++r) {  // north row first
    const std::int64_t j = jhi - 1 - r;
    for (int c = 0; c < nx; ++c)
      band[static_cast<std::size_t>(r) * static_cast<std::size_t>(nx) +
           static_cast<std::size_t>(c)] = ga.at(ilo + c, j) - gb.at(ilo + c, j);
  }
  GDALAllRegister();
  GDALDriver* drv = GetGDALDriverManager()->GetDriverByName("GTiff");
  if (!drv) throw std::runtime_error("GDAL has no GTiff driver");
  GDALDatasetUniquePtr ds(drv->Create(path.c_str(), nx, ny, 1, GDT_Float32, nullptr));
  if (!ds) throw std::runtime_error("cannot create " + path + ": " + CPLGetLastErrorMsg());
  double gt[6] = {static_cast<double>(ilo) * cell, cell, 0.0,
                  static_cast<double>(jhi) * cell, 0.0,  -cell};
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
}

}  // namespace campaign

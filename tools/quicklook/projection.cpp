#include "projection.hpp"

#include <proj.h>

#include <cmath>

#include "text.hpp"

namespace quicklook {

int choose_epsg(double lat_deg, double lon_deg) {
  if (lat_deg > 60.0) return 3413;
  if (lat_deg < -60.0) return 3031;
  // Into [-180, 180): 180 E is 180 W, zone 1.
  const double wrapped = lon_deg - 360.0 * std::floor((lon_deg + 180.0) / 360.0);
  int zone = static_cast<int>(std::floor((wrapped + 180.0) / 6.0)) + 1;
  if (zone > 60) zone = 60;  // rounding just below +180
  return (lat_deg >= 0.0 ? 32600 : 32700) + zone;
}

Projector::Projector(int epsg) : epsg_(epsg) {
  ctx_ = proj_context_create();
  const std::string target = "EPSG:" + std::to_string(epsg);
  PJ* raw = proj_create_crs_to_crs(ctx_, "EPSG:4326", target.c_str(), nullptr);
  // Longitude first whatever the CRS's axis order, as the batches hold it.
  pj_ = raw != nullptr ? proj_normalize_for_visualization(ctx_, raw) : nullptr;
  proj_destroy(raw);
  if (pj_ == nullptr) {
    const std::string why = proj_context_errno_string(ctx_, proj_context_errno(ctx_));
    proj_context_destroy(ctx_);
    throw runfiles::ToolError("PROJ cannot transform to " + target + ": " + why);
  }
}

Projector::~Projector() {
  proj_destroy(pj_);
  proj_context_destroy(ctx_);
}

void Projector::forward(std::span<double> lon_x, std::span<double> lat_y) const {
  proj_trans_generic(pj_, PJ_FWD, lon_x.data(), sizeof(double), lon_x.size(), lat_y.data(),
                     sizeof(double), lat_y.size(), nullptr, 0, 0, nullptr, 0, 0);
}

}  // namespace quicklook

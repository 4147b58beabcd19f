#include "projector.hpp"

#include <proj.h>

#include <algorithm>

#include "error.hpp"

namespace kit {

Projector::Projector(const std::string& crs) : crs_(crs) {
  ctx_ = proj_context_create();
  PJ* raw = proj_create_crs_to_crs(ctx_, "EPSG:4326", crs.c_str(), nullptr);
  // Longitude first whatever the CRS's axis order, as the batches hold it.
  pj_ = raw != nullptr ? proj_normalize_for_visualization(ctx_, raw) : nullptr;
  proj_destroy(raw);
  if (pj_ == nullptr) {
    const std::string why = proj_context_errno_string(ctx_, proj_context_errno(ctx_));
    proj_context_destroy(ctx_);
    throw ToolError("PROJ cannot transform to " + crs + ": " + why);
  }
}

Projector::~Projector() {
  proj_destroy(pj_);
  proj_context_destroy(ctx_);
}

void Projector::forward(std::span<double> lon_x, std::span<double> lat_y) const {
  const std::size_t n = std::min(lon_x.size(), lat_y.size());
  if (n == 0) return;
  proj_trans_generic(pj_, PJ_FWD, lon_x.data(), sizeof(double), n, lat_y.data(), sizeof(double), n,
                     nullptr, 0, 0, nullptr, 0, 0);
}

}  // namespace kit

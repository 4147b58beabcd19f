// The projected CRS of the quick-look products and the PROJ transformation into it: one
// transformation object per run, applied to whole batches of points.
#pragma once

#include <span>
#include <string>

struct PJconsts;
struct pj_ctx;

namespace quicklook {

// EPSG:3413 (polar stereographic north) beyond 60 N, EPSG:3031 beyond 60 S, otherwise the
// WGS84 UTM zone (EPSG:326zz north, 327zz south) of the given track centre (degrees).
int choose_epsg(double lat_deg, double lon_deg);

class Projector {
 public:
  explicit Projector(int epsg);  // throws runfiles::ToolError when PROJ cannot make it
  ~Projector();
  Projector(const Projector&) = delete;
  Projector& operator=(const Projector&) = delete;

  // In place: longitude, latitude (degrees, WGS84) become easting, northing (metres).
  // A point PROJ cannot transform becomes infinite.
  void forward(std::span<double> lon_x, std::span<double> lat_y) const;
  int epsg() const { return epsg_; }

 private:
  int epsg_;
  pj_ctx* ctx_ = nullptr;
  PJconsts* pj_ = nullptr;
};

}  // namespace quicklook

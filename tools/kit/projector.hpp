// Geodetic WGS84 longitude and latitude into a projected CRS by PROJ: one transformation object
// per projector, applied to whole batches. A projector owns its PROJ context, so threads that
// project at the same time each take their own.
#pragma once

#include <span>
#include <string>

struct PJconsts;
struct pj_ctx;

namespace kit {

class Projector {
 public:
  // `crs`: anything PROJ takes ("EPSG:3413", a "+proj=..." string). Throws kit::ToolError when
  // PROJ cannot make the transformation.
  explicit Projector(const std::string& crs);
  explicit Projector(int epsg) : Projector("EPSG:" + std::to_string(epsg)) {}
  ~Projector();
  Projector(const Projector&) = delete;
  Projector& operator=(const Projector&) = delete;

  // In place: longitude, latitude (degrees) become easting, northing (metres). A point PROJ
  // cannot transform becomes infinite.
  void forward(std::span<double> lon_x, std::span<double> lat_y) const;
  const std::string& crs() const { return crs_; }

 private:
  std::string crs_;
  pj_ctx* ctx_ = nullptr;
  PJconsts* pj_ = nullptr;
};

}  // namespace kit

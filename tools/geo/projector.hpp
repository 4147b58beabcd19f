// Geodetic WGS84 longitude and latitude into a projected CRS by PROJ: one transformation object
// per projector, applied to whole batches. A projector owns its PROJ context, so threads that
// project at the same time each take their own.
#pragma once

#include <functional>
#include <future>
#include <memory>
#include <span>
#include <string>
#include <vector>

struct PJconsts;
struct pj_ctx;

namespace geo {

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

}  // namespace geo

namespace geo {

// Projects batches of points on several threads, one projector (and PROJ context) each, and
// hands them on in the order they came: the consumer sees the same sequence as from a single
// projector, on one thread (the caller's). While one group of batches is projected, the
// caller reads the next and consumes the one before.
class ProjectingPipe {
 public:
  using Consumer =
      std::function<void(std::vector<double>& x, std::vector<double>& y, std::vector<double>& h)>;
  // Projects in place longitude, latitude (degrees) into easting, northing (metres).
  using Projection = std::function<void(std::span<double> lon_x, std::span<double> lat_y)>;
  // One PROJ projector into `crs` for each of `threads` threads.
  ProjectingPipe(const std::string& crs, unsigned threads, Consumer consume);
  // One thread for each projection, which it alone calls.
  ProjectingPipe(std::vector<Projection> projections, Consumer consume);
  ~ProjectingPipe();
  ProjectingPipe(const ProjectingPipe&) = delete;
  ProjectingPipe& operator=(const ProjectingPipe&) = delete;

  // Takes the batch's contents (longitude, latitude in degrees; height passed through); the
  // vectors come back holding other, spare buffers.
  void push(std::vector<double>& lon, std::vector<double>& lat, std::vector<double>& h);
  // Projects and hands on every batch still held.
  void flush();

 private:
  struct Batch {
    std::vector<double> x, y, h;
  };
  struct Group {
    std::vector<Batch> batches;
    std::size_t held = 0;
    std::future<void> projected;  // valid while the group is being projected
  };
  void project(Group& g);
  void consume(Group& g);

  std::vector<std::unique_ptr<Projector>> proj_;  // PROJ's, when made from a CRS
  std::vector<Projection> projectors_;
  Consumer consume_;
  Group groups_[2];  // destroyed first: a projection in flight is waited for
  int filling_ = 0;
};

// The threads the tools may use: every core the machine has.
unsigned worker_threads();

}  // namespace geo

// The GDAL products: dem.tif (GeoTIFF, written from the tiles of the streaming grid),
// hillshade.png (GDAL's DEM processing of a reduced raster) and track.gpkg (GeoPackage).
// Every GDAL failure becomes a kit::ToolError.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "runfiles/run_files.hpp"
#include "tile_grid.hpp"

namespace quicklook {

// Extent of a raster in projected metres and its size in pixels.
struct RasterExtent {
  double west = 0.0, east = 0.0, south = 0.0, north = 0.0;
  int width = 0, height = 0;
};

// Takes the grid's tiles as the points leave them (each tile's mean heights and counts go to a
// scratch file in the product folder, unlinked at once, and into a reduced raster of at most
// about `max_side` pixels a side), then writes the occupied cells as dem.tif and the reduced
// raster as the hillshade. A tile given again replaces its first values.
class DemWriter {
 public:
  DemWriter(const GridFrame& frame, const std::string& scratch_dir, int max_side);
  ~DemWriter();
  DemWriter(const DemWriter&) = delete;
  DemWriter& operator=(const DemWriter&) = delete;

  void add_tile(std::int64_t tx, std::int64_t ty, const TileGrid::Tile& tile);

  // The cells holding points, [ix_lo, ix_hi] x [iy_lo, iy_hi]: what both products cover. Set
  // once every tile is in; the two products may then be written at the same time, on two
  // threads (dem.tif reads the scratch file, the hillshade the reduced raster).
  void set_occupied(std::int64_t ix_lo, std::int64_t ix_hi, std::int64_t iy_lo, std::int64_t iy_hi);
  // The occupied cells as a tiled, compressed two-band Float32 GeoTIFF: band 1 mean height
  // (metres), band 2 point count, nodata -9999 where no point fell.
  RasterExtent write_dem(int epsg, const std::string& path) const;
  // The colour-relief hillshade of the reduced raster over the same cells, colours spread over
  // [low, high] metres; transparent where no point fell. The same picture at most `page_side`
  // pixels a side goes to `page_png` for the page's map (whose plot is no larger).
  struct Hillshade {
    RasterExtent png, page;
  };
  Hillshade write_hillshade(double low, double high, int epsg, const std::string& png_path,
                            const std::string& page_png, int page_side) const;

 private:
  void read_tile(std::int64_t offset, std::vector<float>& cells) const;
  void add_to_overview(std::int64_t tx, std::int64_t ty, const std::vector<float>& cells,
                       float sign);

  GridFrame frame_;
  std::string scratch_path_;
  int fd_ = -1;
  std::unordered_map<std::uint64_t, std::int64_t> offsets_;  // tile key to its scratch record
  std::int64_t next_offset_ = 0;
  std::vector<float> record_;  // one tile: means then counts, row by row from the south
  // The reduced raster: factor_ x factor_ cells a pixel, the mean of their means.
  std::int64_t factor_ = 1, ov_nx_ = 0, ov_ny_ = 0;
  std::vector<float> ov_sum_;
  std::vector<std::uint32_t> ov_count_;
  std::int64_t ix_lo_ = 0, ix_hi_ = -1, iy_lo_ = 0, iy_hi_ = -1;
};

// The centre track as one line (a LineStringM with the time in decimal hours as M) with its
// first and last time, and the centre points with their fields, in WGS84 longitude/latitude.
void write_track(const std::vector<runfiles::CentreRecord>& centre, const std::string& path);

}  // namespace quicklook

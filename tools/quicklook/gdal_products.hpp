// The GDAL products: dem.tif (GeoTIFF), hillshade.png (GDAL's DEM processing) and
// track.gpkg (GeoPackage through OGR). Every GDAL failure becomes a runfiles::ToolError.
#pragma once

#include <string>
#include <vector>

#include "run_files.hpp"
#include "tile_grid.hpp"

namespace quicklook {

// GDAL's drivers registered and its own messages kept quiet: failures reach the user as
// our one-line error.
void start_gdal();

// Extent of a raster in projected metres and its size in pixels.
struct RasterExtent {
  double west = 0.0, east = 0.0, south = 0.0, north = 0.0;
  int width = 0, height = 0;
};

// Writes the occupied cells of the grid as a tiled, compressed two-band Float32 GeoTIFF:
// band 1 mean height (metres), band 2 point count, nodata -9999 where no point fell.
RasterExtent write_dem(const TileGrid& grid, int epsg, const std::string& path);

// The colour-relief hillshade of band 1 of the DEM, at most `max_side` pixels a side,
// colours spread over [low, high] metres; transparent where the DEM has no data.
RasterExtent write_hillshade(const std::string& dem_path, double low, double high, int max_side,
                             const std::string& png_path);

// The centre track as one line (a LineStringM with the time in decimal hours as M) with its
// first and last time, and the centre points with their fields, in WGS84 longitude/latitude.
void write_track(const std::vector<runfiles::CentreRecord>& centre, const std::string& path);

}  // namespace quicklook

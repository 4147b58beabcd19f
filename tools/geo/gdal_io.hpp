// One GeoTIFF and GeoPackage writer for the tools, on GDAL: every GDAL failure becomes a
// kit::ToolError with GDAL's own message after ours.
#pragma once

#include <gdal_priv.h>
#include <ogrsf_frmts.h>

#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

namespace geo {

// GDAL's drivers registered, its block cache bounded (`cache_mb`) and its own messages kept
// quiet: failures reach the user as our one-line error.
void start_gdal(int cache_mb = 64);

[[noreturn]] void gdal_failed(const std::string& what);

// A CRS from anything GDAL takes ("EPSG:3413", a PROJ string), longitude first.
OGRSpatialReference spatial_ref(const std::string& crs);

struct RasterLayout {
  int width = 0, height = 0, bands = 1;
  double geotransform[6] = {0.0, 1.0, 0.0, 0.0, 0.0, -1.0};  // north-up, metres
  std::string crs;
  double nodata = 0.0;
  std::vector<std::string> band_names;        // band descriptions, band 1 first
  std::vector<std::string> creation_options;  // GTiff's KEY=VALUE options
};

// A Float32 GeoTIFF, georeferenced, its bands named and their nodata set.
GDALDatasetUniquePtr create_geotiff(const std::string& path, const RasterLayout& layout);

// The window's values of every band at once, band after band in `data` (row by row from the
// north, `w` x `h` each).
void write_window(GDALDataset& ds, int xoff, int yoff, int w, int h, const float* data,
                  const std::string& path);

// The blocks GDAL holds written out; its write errors are recorded only as GDAL's last error,
// so they are looked for there.
void flush_checked(GDALDataset& ds, const std::string& path);

// Closing writes the last blocks: its errors are write errors.
void close_checked(GDALDatasetUniquePtr ds, const std::string& path);

// Argument list for the GDAL utility functions, freed on scope exit.
class ArgList {
 public:
  explicit ArgList(std::initializer_list<std::string> args);
  ~ArgList();
  ArgList(const ArgList&) = delete;
  ArgList& operator=(const ArgList&) = delete;
  char** get() { return list_; }

 private:
  char** list_ = nullptr;
};

// gdal_translate and gdaldem as library calls.
GDALDatasetUniquePtr translate(GDALDataset* src, const std::string& out, ArgList& args);
GDALDatasetUniquePtr dem_processing(GDALDataset* src, const char* mode, const std::string& out,
                                    const char* colours, ArgList& args);

// A new GeoPackage (an old file of that name replaced) whose table timestamps come from
// SOURCE_DATE_EPOCH when that is set, so that the same input gives the same file.
GDALDatasetUniquePtr create_gpkg(const std::string& path);

// A vector layer with the given fields.
OGRLayer* new_layer(GDALDataset& ds, const char* name, OGRwkbGeometryType type,
                    OGRSpatialReference& srs,
                    std::initializer_list<std::pair<const char*, OGRFieldType>> fields);

void add_feature(OGRLayer& layer, OGRFeature& feature, const std::string& path);

}  // namespace geo

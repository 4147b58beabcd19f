#include "geo/gdal_io.hpp"

#include <cpl_conv.h>
#include <cpl_error.h>
#include <cpl_string.h>
#include <gdal_utils.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>

#include "kit/error.hpp"

namespace geo {

void start_gdal(int cache_mb) {
  // GDAL's default block cache (5 % of the memory) would dominate a tool's footprint; the
  // tools write block by block and read each block about once.
  CPLSetConfigOption("GDAL_CACHEMAX", std::to_string(cache_mb).c_str());
  GDALAllRegister();
  CPLSetErrorHandler(CPLQuietErrorHandler);
}

void gdal_failed(const std::string& what) {
  const std::string why = CPLGetLastErrorMsg();
  throw kit::ToolError(what + (why.empty() ? "" : ": " + why));
}

OGRSpatialReference spatial_ref(const std::string& crs) {
  OGRSpatialReference srs;
  srs.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
  if (srs.SetFromUserInput(crs.c_str()) != OGRERR_NONE) gdal_failed("no CRS " + crs);
  return srs;
}

ArgList::ArgList(std::initializer_list<std::string> args) {
  for (const std::string& a : args)
    list_ = CSLAddString(list_, a.c_str());
}

ArgList::~ArgList() {
  CSLDestroy(list_);
}

GDALDatasetUniquePtr create_geotiff(const std::string& path, const RasterLayout& layout) {
  GDALDriver* gtiff = GetGDALDriverManager()->GetDriverByName("GTiff");
  if (gtiff == nullptr) throw kit::ToolError("GDAL has no GTiff driver");
  char** options = nullptr;
  for (const std::string& o : layout.creation_options)
    options = CSLAddString(options, o.c_str());
  GDALDatasetUniquePtr ds(
      gtiff->Create(path.c_str(), layout.width, layout.height, layout.bands, GDT_Float32, options));
  CSLDestroy(options);
  if (!ds) gdal_failed("cannot create " + path);
  double transform[6];
  std::copy(std::begin(layout.geotransform), std::end(layout.geotransform), transform);
  const OGRSpatialReference srs = spatial_ref(layout.crs);
  if (ds->SetGeoTransform(transform) != CE_None || ds->SetSpatialRef(&srs) != CE_None)
    gdal_failed("cannot georeference " + path);
  for (int b = 1; b <= layout.bands; ++b) {
    GDALRasterBand* band = ds->GetRasterBand(b);
    if (static_cast<std::size_t>(b) <= layout.band_names.size())
      band->SetDescription(layout.band_names[static_cast<std::size_t>(b - 1)].c_str());
    if (band->SetNoDataValue(layout.nodata) != CE_None) gdal_failed("cannot write " + path);
  }
  return ds;
}

void write_window(GDALDataset& ds, int xoff, int yoff, int w, int h, const float* data,
                  const std::string& path) {
  if (ds.RasterIO(GF_Write, xoff, yoff, w, h, const_cast<float*>(data), w, h, GDT_Float32,
                  ds.GetRasterCount(), nullptr, 0, 0, 0, nullptr) != CE_None)
    gdal_failed("cannot write " + path);
}

void flush_checked(GDALDataset& ds, const std::string& path) {
  CPLErrorReset();
  ds.FlushCache();
  if (CPLGetLastErrorType() >= CE_Failure) gdal_failed("cannot write " + path);
}

void close_checked(GDALDatasetUniquePtr ds, const std::string& path) {
  CPLErrorReset();
  GDALClose(GDALDataset::ToHandle(ds.release()));
  if (CPLGetLastErrorType() >= CE_Failure) gdal_failed("cannot write " + path);
}

GDALDatasetUniquePtr translate(GDALDataset* src, const std::string& out, ArgList& args) {
  GDALTranslateOptions* o = GDALTranslateOptionsNew(args.get(), nullptr);
  int usage_error = 0;
  GDALDatasetH ds = GDALTranslate(out.c_str(), GDALDataset::ToHandle(src), o, &usage_error);
  GDALTranslateOptionsFree(o);
  if (ds == nullptr) gdal_failed("cannot write " + out);
  return GDALDatasetUniquePtr(GDALDataset::FromHandle(ds));
}

GDALDatasetUniquePtr dem_processing(GDALDataset* src, const char* mode, const std::string& out,
                                    const char* colours, ArgList& args) {
  GDALDEMProcessingOptions* o = GDALDEMProcessingOptionsNew(args.get(), nullptr);
  int usage_error = 0;
  GDALDatasetH ds =
      GDALDEMProcessing(out.c_str(), GDALDataset::ToHandle(src), mode, colours, o, &usage_error);
  GDALDEMProcessingOptionsFree(o);
  if (ds == nullptr) gdal_failed(std::string("GDAL ") + mode + " failed");
  return GDALDatasetUniquePtr(GDALDataset::FromHandle(ds));
}

namespace {

// The GeoPackage records when its tables last changed: with SOURCE_DATE_EPOCH set, that
// moment instead of now (unless the user has set GDAL's own OGR_CURRENT_DATE).
void pin_gpkg_timestamp() {
  const char* epoch = std::getenv("SOURCE_DATE_EPOCH");
  if (epoch == nullptr || *epoch == '\0' || CPLGetConfigOption("OGR_CURRENT_DATE", nullptr)) return;
  char* end = nullptr;
  const long long seconds = std::strtoll(epoch, &end, 10);
  if (*end != '\0' || seconds < 0) return;
  const std::time_t t = static_cast<std::time_t>(seconds);
  std::tm utc{};
  if (gmtime_r(&t, &utc) == nullptr) return;
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S.000Z", &utc);
  CPLSetConfigOption("OGR_CURRENT_DATE", stamp);
}

}  // namespace

GDALDatasetUniquePtr create_gpkg(const std::string& path) {
  pin_gpkg_timestamp();
  // A new file written once and closed, like every other product: SQLite need not wait for
  // the disk after each step (unless the user has said otherwise).
  if (CPLGetConfigOption("OGR_SQLITE_SYNCHRONOUS", nullptr) == nullptr)
    CPLSetConfigOption("OGR_SQLITE_SYNCHRONOUS", "OFF");
  std::error_code ignored;
  std::filesystem::remove(path, ignored);  // the GeoPackage driver would add to an old one
  GDALDriver* gpkg = GetGDALDriverManager()->GetDriverByName("GPKG");
  if (gpkg == nullptr) throw kit::ToolError("GDAL has no GPKG driver");
  GDALDatasetUniquePtr ds(gpkg->Create(path.c_str(), 0, 0, 0, GDT_Unknown, nullptr));
  if (!ds) gdal_failed("cannot create " + path);
  return ds;
}

OGRLayer* new_layer(GDALDataset& ds, const char* name, OGRwkbGeometryType type,
                    OGRSpatialReference& srs,
                    std::initializer_list<std::pair<const char*, OGRFieldType>> fields) {
  OGRLayer* layer = ds.CreateLayer(name, &srs, type, nullptr);
  if (layer == nullptr) gdal_failed(std::string("cannot create layer ") + name);
  for (const auto& [field, kind] : fields) {
    OGRFieldDefn d(field, kind);
    if (layer->CreateField(&d) != OGRERR_NONE)
      gdal_failed(std::string("cannot add field ") + field);
  }
  return layer;
}

void add_feature(OGRLayer& layer, OGRFeature& feature, const std::string& path) {
  if (layer.CreateFeature(&feature) != OGRERR_NONE) gdal_failed("cannot write " + path);
}

}  // namespace geo

#include "gdal_products.hpp"

#include <cpl_conv.h>
#include <cpl_error.h>
#include <cpl_string.h>
#include <cpl_vsi.h>
#include <gdal_priv.h>
#include <gdal_utils.h>
#include <ogrsf_frmts.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <filesystem>

#include "text.hpp"

namespace quicklook {

namespace {

constexpr double kNodata = -9999.0;

[[noreturn]] void gdal_failed(const std::string& what) {
  const std::string why = CPLGetLastErrorMsg();
  throw runfiles::ToolError(what + (why.empty() ? "" : ": " + why));
}

// Argument list for the GDAL utility functions, freed on scope exit.
class ArgList {
 public:
  explicit ArgList(std::initializer_list<std::string> args) {
    for (const std::string& a : args)
      list_ = CSLAddString(list_, a.c_str());
  }
  ~ArgList() { CSLDestroy(list_); }
  ArgList(const ArgList&) = delete;
  ArgList& operator=(const ArgList&) = delete;
  char** get() { return list_; }

 private:
  char** list_ = nullptr;
};

OGRSpatialReference srs_from_epsg(int epsg) {
  OGRSpatialReference srs;
  srs.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
  if (srs.importFromEPSG(epsg) != OGRERR_NONE) gdal_failed("no CRS EPSG:" + std::to_string(epsg));
  return srs;
}

void write_window(GDALDataset& ds, int band, int xoff, int yoff, int w, int h,
                  std::vector<float>& data, const std::string& path) {
  if (ds.GetRasterBand(band)->RasterIO(GF_Write, xoff, yoff, w, h, data.data(), w, h, GDT_Float32,
                                       0, 0) != CE_None)
    gdal_failed("cannot write " + path);
}

// The part of tile (tx, ty) inside the occupied cells, north row first.
void write_tile(GDALDataset& ds, const TileGrid& grid, std::int64_t tx, std::int64_t ty,
                const std::string& path) {
  const TileGrid::Tile* t = grid.tile(tx, ty);
  if (t == nullptr) return;
  constexpr std::int64_t n = TileGrid::kTile;
  const std::int64_t x_lo = std::max(tx * n, grid.ix_lo),
                     x_hi = std::min(tx * n + n - 1, grid.ix_hi);
  const std::int64_t y_lo = std::max(ty * n, grid.iy_lo),
                     y_hi = std::min(ty * n + n - 1, grid.iy_hi);
  if (x_lo > x_hi || y_lo > y_hi) return;
  const int w = static_cast<int>(x_hi - x_lo + 1), h = static_cast<int>(y_hi - y_lo + 1);
  std::vector<float> mean(static_cast<std::size_t>(w) * static_cast<std::size_t>(h));
  std::vector<float> count(mean.size());
  for (int r = 0; r < h; ++r) {
    const std::int64_t iy = y_hi - r;
    for (int c = 0; c < w; ++c) {
      const std::size_t at = static_cast<std::size_t>((iy - ty * n) * n + (x_lo + c - tx * n));
      const std::size_t o =
          static_cast<std::size_t>(r) * static_cast<std::size_t>(w) + static_cast<std::size_t>(c);
      const std::uint32_t k = t->count[at];
      mean[o] = k == 0 ? static_cast<float>(kNodata) : static_cast<float>(t->sum[at] / k);
      count[o] = k == 0 ? static_cast<float>(kNodata) : static_cast<float>(k);
    }
  }
  const int xoff = static_cast<int>(x_lo - grid.ix_lo), yoff = static_cast<int>(grid.iy_hi - y_hi);
  write_window(ds, 1, xoff, yoff, w, h, mean, path);
  write_window(ds, 2, xoff, yoff, w, h, count, path);
}

// Closing writes the last blocks: its errors are write errors.
void close_checked(GDALDatasetUniquePtr ds, const std::string& path) {
  CPLErrorReset();
  GDALClose(GDALDataset::ToHandle(ds.release()));
  if (CPLGetLastErrorType() >= CE_Failure) gdal_failed("cannot write " + path);
}

void set_band(GDALDataset& ds, int band, const char* description) {
  GDALRasterBand* b = ds.GetRasterBand(band);
  b->SetDescription(description);
  b->SetNoDataValue(kNodata);
}

}  // namespace

void start_gdal() {
  // The DEM is written tile by tile and read once for the hillshade: a small block cache
  // is enough, and GDAL's default (5 % of the memory) would dominate the footprint.
  CPLSetConfigOption("GDAL_CACHEMAX", "256");
  GDALAllRegister();
  CPLSetErrorHandler(CPLQuietErrorHandler);
}

RasterExtent write_dem(const TileGrid& grid, int epsg, const std::string& path) {
  const GridFrame& f = grid.frame();
  RasterExtent e;
  e.width = static_cast<int>(grid.ix_hi - grid.ix_lo + 1);
  e.height = static_cast<int>(grid.iy_hi - grid.iy_lo + 1);
  e.west = f.x0 + static_cast<double>(grid.ix_lo) * f.cell;
  e.east = e.west + e.width * f.cell;
  e.south = f.y0 + static_cast<double>(grid.iy_lo) * f.cell;
  e.north = e.south + e.height * f.cell;
  GDALDriver* gtiff = GetGDALDriverManager()->GetDriverByName("GTiff");
  ArgList options{"TILED=YES",   "BLOCKXSIZE=256", "BLOCKYSIZE=256",  "COMPRESS=DEFLATE",
                  "PREDICTOR=3", "SPARSE_OK=TRUE", "BIGTIFF=IF_SAFER"};
  GDALDatasetUniquePtr ds(
      gtiff->Create(path.c_str(), e.width, e.height, 2, GDT_Float32, options.get()));
  if (!ds) gdal_failed("cannot create " + path);
  double transform[6] = {e.west, f.cell, 0.0, e.north, 0.0, -f.cell};
  const OGRSpatialReference srs = srs_from_epsg(epsg);
  if (ds->SetGeoTransform(transform) != CE_None || ds->SetSpatialRef(&srs) != CE_None)
    gdal_failed("cannot georeference " + path);
  set_band(*ds, 1, "mean height (m)");
  set_band(*ds, 2, "point count");
  for (std::int64_t ty = 0; ty < grid.tiles_y(); ++ty)
    for (std::int64_t tx = 0; tx < grid.tiles_x(); ++tx)
      write_tile(*ds, grid, tx, ty, path);
  close_checked(std::move(ds), path);
  return e;
}

namespace {

// Blue through green and yellow to red and white: low to high.
void write_colour_ramp(const std::string& path, double low, double high) {
  static constexpr int kStops[][3] = {
      {49, 54, 149},   {69, 117, 180}, {116, 173, 209}, {171, 217, 233}, {255, 255, 191},
      {254, 224, 144}, {253, 174, 97}, {244, 109, 67},  {215, 48, 39},   {165, 0, 38}};
  constexpr int n = 10;
  if (!(high > low)) high = low + 1.0;
  std::string text;
  for (int k = 0; k < n; ++k) {
    const double v = low + (high - low) * k / (n - 1);
    text += runfiles::exact(v) + " " + std::to_string(kStops[k][0]) + " " +
            std::to_string(kStops[k][1]) + " " + std::to_string(kStops[k][2]) + " 255\n";
  }
  text += "nv 0 0 0 0\n";
  VSILFILE* f = VSIFOpenL(path.c_str(), "wb");
  if (f == nullptr || VSIFWriteL(text.data(), 1, text.size(), f) != text.size())
    gdal_failed("cannot write " + path);
  VSIFCloseL(f);
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

GDALDatasetUniquePtr translate(GDALDataset* src, const std::string& out, ArgList& args) {
  GDALTranslateOptions* o = GDALTranslateOptionsNew(args.get(), nullptr);
  int usage_error = 0;
  GDALDatasetH ds = GDALTranslate(out.c_str(), GDALDataset::ToHandle(src), o, &usage_error);
  GDALTranslateOptionsFree(o);
  if (ds == nullptr) gdal_failed("cannot write " + out);
  return GDALDatasetUniquePtr(GDALDataset::FromHandle(ds));
}

// Colour times shade / 255 for the three colour bands, the colour's alpha as the fourth:
// GDAL's pixel function "mul" on a virtual raster.
std::string shaded_relief_vrt(const std::string& colour, const std::string& shade, int w, int h) {
  std::string x = "<VRTDataset rasterXSize=\"" + std::to_string(w) + "\" rasterYSize=\"" +
                  std::to_string(h) + "\">";
  for (int b = 1; b <= 3; ++b) {
    x += "<VRTRasterBand dataType=\"Byte\" band=\"" + std::to_string(b) +
         "\" subClass=\"VRTDerivedRasterBand\"><PixelFunctionType>mul</PixelFunctionType>"
         "<SourceTransferType>Float32</SourceTransferType><SimpleSource><SourceFilename>" +
         colour + "</SourceFilename><SourceBand>" + std::to_string(b) +
         "</SourceBand></SimpleSource><ComplexSource><SourceFilename>" + shade +
         "</SourceFilename><SourceBand>1</SourceBand><ScaleRatio>0.00392156862745098"
         "</ScaleRatio></ComplexSource></VRTRasterBand>";
  }
  x += "<VRTRasterBand dataType=\"Byte\" band=\"4\"><ColorInterp>Alpha</ColorInterp>"
       "<SimpleSource><SourceFilename>" +
       colour +
       "</SourceFilename><SourceBand>4</SourceBand></SimpleSource></VRTRasterBand></VRTDataset>";
  return x;
}

}  // namespace

RasterExtent write_hillshade(const std::string& dem_path, double low, double high, int max_side,
                             const std::string& png_path) {
  GDALDatasetUniquePtr dem(GDALDataset::Open(dem_path.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY));
  if (!dem) gdal_failed("cannot open " + dem_path);
  const int w = dem->GetRasterXSize(), h = dem->GetRasterYSize();
  const double shrink = std::max(1.0, static_cast<double>(std::max(w, h)) / max_side);
  const int ow = std::max(1, static_cast<int>(std::lround(w / shrink)));
  const int oh = std::max(1, static_cast<int>(std::lround(h / shrink)));
  const std::string mem = "/vsimem/beamfall-quicklook/";
  ArgList mean_args{"-b", "1", "-outsize", std::to_string(ow), std::to_string(oh), "-r", "average"};
  GDALDatasetUniquePtr mean = translate(dem.get(), mem + "mean.tif", mean_args);
  ArgList shade_args{"-of", "GTiff", "-z", "3", "-compute_edges"};
  GDALDatasetUniquePtr shade =
      dem_processing(mean.get(), "hillshade", mem + "shade.tif", nullptr, shade_args);
  write_colour_ramp(mem + "colours.txt", low, high);
  ArgList colour_args{"-of", "GTiff", "-alpha"};
  GDALDatasetUniquePtr colour = dem_processing(mean.get(), "color-relief", mem + "colour.tif",
                                               (mem + "colours.txt").c_str(), colour_args);
  shade.reset();
  colour.reset();
  GDALDatasetUniquePtr vrt(GDALDataset::Open(
      shaded_relief_vrt(mem + "colour.tif", mem + "shade.tif", ow, oh).c_str(), GDAL_OF_RASTER));
  if (!vrt) gdal_failed("cannot combine colour relief and hillshade");
  ArgList png_args{"-of", "PNG"};
  translate(vrt.get(), png_path, png_args).reset();
  vrt.reset();
  mean.reset();
  VSIRmdirRecursive(mem.c_str());
  double t[6];
  dem->GetGeoTransform(t);
  return {t[0], t[0] + t[1] * w, t[3] + t[5] * h, t[3], ow, oh};
}

namespace {

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

void add_feature(OGRLayer& layer, OGRFeature& f, const std::string& path) {
  if (layer.CreateFeature(&f) != OGRERR_NONE) gdal_failed("cannot write " + path);
}

// The GeoPackage records when its tables last changed: with SOURCE_DATE_EPOCH set, that
// moment instead of now, so the same run gives the same file (unless the user has set
// GDAL's own OGR_CURRENT_DATE).
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

void write_track(const std::vector<runfiles::CentreRecord>& centre, const std::string& path) {
  pin_gpkg_timestamp();
  std::error_code ignored;
  std::filesystem::remove(path, ignored);  // the GeoPackage driver would add to an old one
  GDALDriver* gpkg = GetGDALDriverManager()->GetDriverByName("GPKG");
  GDALDatasetUniquePtr ds(gpkg->Create(path.c_str(), 0, 0, 0, GDT_Unknown, nullptr));
  if (!ds) gdal_failed("cannot create " + path);
  OGRSpatialReference wgs84 = srs_from_epsg(4326);
  OGRLayer* line =
      new_layer(*ds, "track", wkbLineStringM, wgs84,
                {{"first_thr", OFTReal}, {"last_thr", OFTReal}, {"points", OFTInteger}});
  OGRLayer* points = new_layer(*ds, "centre_points", wkbPoint, wgs84,
                               {{"thr", OFTReal},
                                {"h", OFTReal},
                                {"ampl", OFTInteger},
                                {"airh", OFTReal},
                                {"range", OFTReal}});
  if (ds->StartTransaction() != OGRERR_NONE) gdal_failed("cannot write " + path);
  OGRLineString track;
  for (const runfiles::CentreRecord& c : centre) {
    track.addPointM(c.lon, c.lat, c.thr);
    OGRFeature f(points->GetLayerDefn());
    f.SetField("thr", c.thr);
    f.SetField("h", c.h);
    f.SetField("ampl", c.ampl);
    f.SetField("airh", c.airh);
    f.SetField("range", c.range);
    f.SetGeometry(std::make_unique<OGRPoint>(c.lon, c.lat).get());
    add_feature(*points, f, path);
  }
  if (!centre.empty()) {
    OGRFeature f(line->GetLayerDefn());
    f.SetField("first_thr", centre.front().thr);
    f.SetField("last_thr", centre.back().thr);
    f.SetField("points", static_cast<int>(centre.size()));
    f.SetGeometry(&track);
    add_feature(*line, f, path);
  }
  if (ds->CommitTransaction() != OGRERR_NONE) gdal_failed("cannot write " + path);
  close_checked(std::move(ds), path);
}

}  // namespace quicklook

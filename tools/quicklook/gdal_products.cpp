#include "gdal_products.hpp"

#include <cpl_vsi.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <set>
#include <utility>

#include "geo/gdal_io.hpp"
#include "kit/error.hpp"
#include "runfiles/text.hpp"

namespace quicklook {

namespace {

constexpr float kNodata = -9999.0f;
constexpr std::int64_t kTile = TileGrid::kTile;
constexpr std::int64_t kCells = kTile * kTile;
constexpr int kBlock = 256;  // dem.tif's blocks, cells a side

std::string errno_text() {
  return std::strerror(errno);
}

}  // namespace

DemWriter::DemWriter(const GridFrame& frame, const std::string& scratch_dir, int max_side)
    : frame_(frame), record_(static_cast<std::size_t>(2 * kCells)) {
  std::string name = scratch_dir + "/.dem-tiles.XXXXXX";
  fd_ = mkostemp(name.data(), O_CLOEXEC);  // not inherited by gnuplot
  if (fd_ < 0)
    throw kit::ToolError("cannot create a scratch file in " + scratch_dir + ": " + errno_text());
  unlink(name.c_str());  // gone with the process, whatever happens
  scratch_path_ = name;
  const std::int64_t side = std::max(frame.nx, frame.ny);
  factor_ = std::max<std::int64_t>(1, (side + max_side - 1) / max_side);
  ov_nx_ = (frame.nx + factor_ - 1) / factor_;
  ov_ny_ = (frame.ny + factor_ - 1) / factor_;
  ov_sum_.assign(static_cast<std::size_t>(ov_nx_ * ov_ny_), 0.0f);
  ov_count_.assign(ov_sum_.size(), 0);
}

DemWriter::~DemWriter() {
  if (fd_ >= 0) close(fd_);
}

void DemWriter::read_tile(std::int64_t offset, std::vector<float>& cells) const {
  const auto bytes = static_cast<std::size_t>(2 * kCells) * sizeof(float);
  if (pread(fd_, cells.data(), bytes, offset) != static_cast<ssize_t>(bytes))
    throw kit::ToolError("cannot read back " + scratch_path_ + ": " + errno_text());
}

void DemWriter::add_to_overview(std::int64_t tx, std::int64_t ty, const std::vector<float>& cells,
                                float sign) {
  for (std::int64_t r = 0; r < kTile; ++r) {
    const std::int64_t iy = ty * kTile + r;
    for (std::int64_t c = 0; c < kTile; ++c) {
      const auto at = static_cast<std::size_t>(r * kTile + c);
      if (cells[at + kCells] == kNodata) continue;
      const std::int64_t ix = tx * kTile + c;
      const auto o = static_cast<std::size_t>((iy / factor_) * ov_nx_ + ix / factor_);
      ov_sum_[o] += sign * cells[at];
      ov_count_[o] = sign > 0 ? ov_count_[o] + 1 : ov_count_[o] - 1;
    }
  }
}

void DemWriter::add_tile(std::int64_t tx, std::int64_t ty, const TileGrid::Tile& tile) {
  const std::uint64_t key = TileGrid::key(tx, ty);
  const auto known = offsets_.find(key);
  if (known != offsets_.end()) {  // a revisited tile: its first values leave the overview
    read_tile(known->second, record_);
    add_to_overview(tx, ty, record_, -1.0f);
  }
  for (std::size_t k = 0; k < static_cast<std::size_t>(kCells); ++k) {
    const std::uint32_t n = tile.count[k];
    record_[k] = n == 0 ? kNodata : static_cast<float>(tile.sum[k] / n);
    record_[k + kCells] = n == 0 ? kNodata : static_cast<float>(n);
  }
  add_to_overview(tx, ty, record_, 1.0f);
  const std::int64_t offset = known != offsets_.end() ? known->second : next_offset_;
  const auto bytes = record_.size() * sizeof(float);
  if (pwrite(fd_, record_.data(), bytes, offset) != static_cast<ssize_t>(bytes))
    throw kit::ToolError("cannot write " + scratch_path_ + ": " + errno_text());
  if (known == offsets_.end()) {
    offsets_.emplace(key, offset);
    next_offset_ += static_cast<std::int64_t>(bytes);
  }
}

namespace {

struct Window {
  std::int64_t ix_lo, ix_hi, iy_lo, iy_hi;  // occupied cells
  std::int64_t width() const { return ix_hi - ix_lo + 1; }
  std::int64_t height() const { return iy_hi - iy_lo + 1; }
};

// dem.tif's blocks (row, column; north row first) that hold a cell of some tile.
std::set<std::pair<std::int64_t, std::int64_t>> blocks_with_data(
    const std::unordered_map<std::uint64_t, std::int64_t>& offsets, const Window& w) {
  std::set<std::pair<std::int64_t, std::int64_t>> blocks;
  for (const auto& entry : offsets) {
    std::int64_t tx = 0, ty = 0;
    TileGrid::tile_of(entry.first, tx, ty);
    const std::int64_t c0 = std::max(tx * kTile, w.ix_lo) - w.ix_lo;
    const std::int64_t c1 = std::min(tx * kTile + kTile - 1, w.ix_hi) - w.ix_lo;
    const std::int64_t r0 = w.iy_hi - std::min(ty * kTile + kTile - 1, w.iy_hi);
    const std::int64_t r1 = w.iy_hi - std::max(ty * kTile, w.iy_lo);
    if (c0 > c1 || r0 > r1) continue;
    for (std::int64_t br = r0 / kBlock; br <= r1 / kBlock; ++br)
      for (std::int64_t bc = c0 / kBlock; bc <= c1 / kBlock; ++bc)
        blocks.emplace(br, bc);
  }
  return blocks;
}

}  // namespace

void DemWriter::set_occupied(std::int64_t ix_lo, std::int64_t ix_hi, std::int64_t iy_lo,
                             std::int64_t iy_hi) {
  ix_lo_ = ix_lo, ix_hi_ = ix_hi, iy_lo_ = iy_lo, iy_hi_ = iy_hi;
}

RasterExtent DemWriter::write_dem(int epsg, const std::string& path) const {
  const std::int64_t ix_lo = ix_lo_, iy_hi = iy_hi_, iy_lo = iy_lo_;
  const Window win{ix_lo, ix_hi_, iy_lo, iy_hi};
  const GridFrame& f = frame_;
  RasterExtent e;
  e.width = static_cast<int>(win.width());
  e.height = static_cast<int>(win.height());
  e.west = f.x0 + static_cast<double>(ix_lo) * f.cell;
  e.east = e.west + e.width * f.cell;
  e.south = f.y0 + static_cast<double>(iy_lo) * f.cell;
  e.north = e.south + e.height * f.cell;
  geo::RasterLayout layout;
  layout.width = e.width;
  layout.height = e.height;
  layout.bands = 2;
  const double transform[6] = {e.west, f.cell, 0.0, e.north, 0.0, -f.cell};
  std::copy(std::begin(transform), std::end(transform), layout.geotransform);
  layout.crs = "EPSG:" + std::to_string(epsg);
  layout.nodata = kNodata;
  layout.band_names = {"mean height (m)", "point count"};
  layout.creation_options = {"TILED=YES",        "BLOCKXSIZE=256",       "BLOCKYSIZE=256",
                             "COMPRESS=DEFLATE", "PREDICTOR=3",          "SPARSE_OK=TRUE",
                             "BIGTIFF=IF_SAFER", "NUM_THREADS=ALL_CPUS", "ZLEVEL=1"};
  GDALDatasetUniquePtr ds = geo::create_geotiff(path, layout);
  std::vector<float> block, tile(static_cast<std::size_t>(2 * kCells));
  for (const auto& [br, bc] : blocks_with_data(offsets_, win)) {
    const std::int64_t c0 = bc * kBlock, r0 = br * kBlock;
    const std::int64_t bw = std::min<std::int64_t>(kBlock, win.width() - c0);
    const std::int64_t bh = std::min<std::int64_t>(kBlock, win.height() - r0);
    block.assign(static_cast<std::size_t>(2 * bw * bh), kNodata);
    // Cells of the block: ix from ix_lo + c0, iy from iy_hi - r0 southwards.
    const std::int64_t x_lo = ix_lo + c0, x_hi = x_lo + bw - 1;
    const std::int64_t y_hi = iy_hi - r0, y_lo = y_hi - bh + 1;
    for (std::int64_t ty = y_lo >> 7; ty <= y_hi >> 7; ++ty) {
      for (std::int64_t tx = x_lo >> 7; tx <= x_hi >> 7; ++tx) {
        const auto at = offsets_.find(TileGrid::key(tx, ty));
        if (at == offsets_.end()) continue;
        read_tile(at->second, tile);
        for (std::int64_t iy = std::max(y_lo, ty * kTile);
             iy <= std::min(y_hi, ty * kTile + kTile - 1); ++iy) {
          for (std::int64_t ix = std::max(x_lo, tx * kTile);
               ix <= std::min(x_hi, tx * kTile + kTile - 1); ++ix) {
            const auto src =
                static_cast<std::size_t>((iy - ty * kTile) * kTile + (ix - tx * kTile));
            const auto dst = static_cast<std::size_t>((y_hi - iy) * bw + (ix - x_lo));
            block[dst] = tile[src];
            block[dst + static_cast<std::size_t>(bw * bh)] = tile[src + kCells];
          }
        }
      }
    }
    geo::write_window(*ds, static_cast<int>(c0), static_cast<int>(r0), static_cast<int>(bw),
                      static_cast<int>(bh), block.data(), path);
  }
  geo::close_checked(std::move(ds), path);
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
    geo::gdal_failed("cannot write " + path);
  VSIFCloseL(f);
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

DemWriter::Hillshade DemWriter::write_hillshade(double low, double high, int epsg,
                                                const std::string& png_path,
                                                const std::string& page_png, int page_side) const {
  // The reduced raster's pixels over the occupied cells.
  const std::int64_t cx_lo = ix_lo_ / factor_, cx_hi = ix_hi_ / factor_;
  const std::int64_t cy_lo = iy_lo_ / factor_, cy_hi = iy_hi_ / factor_;
  const int ow = static_cast<int>(cx_hi - cx_lo + 1), oh = static_cast<int>(cy_hi - cy_lo + 1);
  const double pixel = static_cast<double>(factor_) * frame_.cell;
  RasterExtent e;
  e.width = ow;
  e.height = oh;
  e.west = frame_.x0 + static_cast<double>(cx_lo) * pixel;
  e.east = e.west + ow * pixel;
  e.south = frame_.y0 + static_cast<double>(cy_lo) * pixel;
  e.north = e.south + oh * pixel;
  const std::string mem = "/vsimem/beamfall-quicklook/";
  geo::RasterLayout layout;
  layout.width = ow;
  layout.height = oh;
  const double transform[6] = {e.west, pixel, 0.0, e.north, 0.0, -pixel};
  std::copy(std::begin(transform), std::end(transform), layout.geotransform);
  layout.crs = "EPSG:" + std::to_string(epsg);
  layout.nodata = kNodata;
  GDALDatasetUniquePtr mean = geo::create_geotiff(mem + "mean.tif", layout);
  std::vector<float> rows(static_cast<std::size_t>(ow) * static_cast<std::size_t>(oh));
  for (int r = 0; r < oh; ++r) {
    for (int c = 0; c < ow; ++c) {
      const auto o = static_cast<std::size_t>((cy_hi - r) * ov_nx_ + cx_lo + c);
      rows[static_cast<std::size_t>(r) * static_cast<std::size_t>(ow) +
           static_cast<std::size_t>(c)] =
          ov_count_[o] == 0 ? kNodata : ov_sum_[o] / static_cast<float>(ov_count_[o]);
    }
  }
  geo::write_window(*mean, 0, 0, ow, oh, rows.data(), mem + "mean.tif");
  geo::ArgList shade_args{"-of", "GTiff", "-z", "3", "-compute_edges"};
  GDALDatasetUniquePtr shade =
      geo::dem_processing(mean.get(), "hillshade", mem + "shade.tif", nullptr, shade_args);
  write_colour_ramp(mem + "colours.txt", low, high);
  geo::ArgList colour_args{"-of", "GTiff", "-alpha"};
  GDALDatasetUniquePtr colour = geo::dem_processing(mean.get(), "color-relief", mem + "colour.tif",
                                                    (mem + "colours.txt").c_str(), colour_args);
  shade.reset();
  colour.reset();
  GDALDatasetUniquePtr vrt(GDALDataset::Open(
      shaded_relief_vrt(mem + "colour.tif", mem + "shade.tif", ow, oh).c_str(), GDAL_OF_RASTER));
  if (!vrt) geo::gdal_failed("cannot combine colour relief and hillshade");
  geo::ArgList png_args{"-of", "PNG"};
  geo::translate(vrt.get(), png_path, png_args).reset();
  RasterExtent page = e;
  const double shrink = std::max(1.0, static_cast<double>(std::max(ow, oh)) / page_side);
  page.width = std::max(1, static_cast<int>(std::lround(ow / shrink)));
  page.height = std::max(1, static_cast<int>(std::lround(oh / shrink)));
  geo::ArgList page_args{"-of",
                         "PNG",
                         "-r",
                         "average",
                         "-outsize",
                         std::to_string(page.width),
                         std::to_string(page.height)};
  geo::translate(vrt.get(), page_png, page_args).reset();
  vrt.reset();
  mean.reset();
  VSIRmdirRecursive(mem.c_str());
  return {e, page};
}

void write_track(const std::vector<runfiles::CentreRecord>& centre, const std::string& path) {
  GDALDatasetUniquePtr ds = geo::create_gpkg(path);
  OGRSpatialReference wgs84 = geo::spatial_ref("EPSG:4326");
  OGRLayer* line =
      geo::new_layer(*ds, "track", wkbLineStringM, wgs84,
                     {{"first_thr", OFTReal}, {"last_thr", OFTReal}, {"points", OFTInteger}});
  OGRLayer* points = geo::new_layer(*ds, "centre_points", wkbPoint, wgs84,
                                    {{"thr", OFTReal},
                                     {"h", OFTReal},
                                     {"ampl", OFTInteger},
                                     {"airh", OFTReal},
                                     {"range", OFTReal}});
  if (ds->StartTransaction() != OGRERR_NONE) geo::gdal_failed("cannot write " + path);
  OGRLineString track;
  track.setNumPoints(static_cast<int>(centre.size()));
  OGRFeature f(points->GetLayerDefn());  // reused: its fields are indexed in the order made
  OGRPoint p;
  for (std::size_t k = 0; k < centre.size(); ++k) {
    const runfiles::CentreRecord& c = centre[k];
    track.setPointM(static_cast<int>(k), c.lon, c.lat, c.thr);
    f.SetFID(OGRNullFID);
    f.SetField(0, c.thr);
    f.SetField(1, c.h);
    f.SetField(2, c.ampl);
    f.SetField(3, c.airh);
    f.SetField(4, c.range);
    p.setX(c.lon);
    p.setY(c.lat);
    f.SetGeometry(&p);
    geo::add_feature(*points, f, path);
  }
  if (!centre.empty()) {
    OGRFeature l(line->GetLayerDefn());
    l.SetField("first_thr", centre.front().thr);
    l.SetField("last_thr", centre.back().thr);
    l.SetField("points", static_cast<int>(centre.size()));
    l.SetGeometry(&track);
    geo::add_feature(*line, l, path);
  }
  if (ds->CommitTransaction() != OGRERR_NONE) geo::gdal_failed("cannot write " + path);
  geo::close_checked(std::move(ds), path);
}

}  // namespace quicklook

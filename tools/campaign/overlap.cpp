#include "overlap.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <map>
#include <unordered_map>
#include <utility>

#include "geo/gdal_io.hpp"
#include "kit/error.hpp"

namespace campaign {

namespace {

// Beyond this distance from the latest batch of points a tile is finished (metres).
constexpr double kStreamMargin = 200.0;

}  // namespace

namespace {

std::string tmerc_crs(double lat0, double lon0) {
  char buf[160];
  std::snprintf(buf, sizeof buf,
                "+proj=tmerc +lat_0=%.6f +lon_0=%.6f +k=1 +x_0=0 +y_0=0 +ellps=WGS84 +units=m "
                "+no_defs +type=crs",
                lat0, lon0);
  return buf;
}

}  // namespace

LocalProjection::LocalProjection(double lat0, double lon0) : Projector(tmerc_crs(lat0, lon0)) {}

kit::GridFrame common_frame(double cell) {
  kit::GridFrame f;
  f.cell = cell;
  f.ix_min = f.iy_min = -(std::int64_t{1} << 31);
  f.nx = f.ny = (std::int64_t{1} << 32) - 1;
  return f;
}

namespace {

constexpr int kTile = kit::TileGrid::kTile;

bool by_tile_row_then_column(const TiledGrid::TileRef& a, const TiledGrid::TileRef& b) {
  return a.ty != b.ty ? a.ty < b.ty : a.tx < b.tx;
}

[[noreturn]] void scratch_failed(const char* what) {
  throw ScratchError(std::string("scratch grid file: cannot ") + what + ": " +
                     std::strerror(errno));
}

}  // namespace

TiledGrid::TiledGrid(const std::string& dir) {
  std::string name = dir + "/.summary-grid.XXXXXX";
  fd_ = mkostemp(name.data(), O_CLOEXEC);
  if (fd_ < 0) scratch_failed(("create one in " + dir).c_str());
  ::unlink(name.c_str());
}

TiledGrid::~TiledGrid() {
  if (fd_ >= 0) ::close(fd_);
}

TiledGrid::TiledGrid(TiledGrid&& o) noexcept {
  *this = std::move(o);
}

TiledGrid& TiledGrid::operator=(TiledGrid&& o) noexcept {
  if (this == &o) return *this;
  if (fd_ >= 0) ::close(fd_);
  fd_ = std::exchange(o.fd_, -1);
  size_ = std::exchange(o.size_, 0);
  tiles_ = std::move(o.tiles_);
  buffer_ = std::move(o.buffer_);
  ilo = o.ilo;
  ihi = o.ihi;
  jlo = o.jlo;
  jhi = o.jhi;
  return *this;
}

void TiledGrid::write(const void* data, std::size_t bytes) {
  const auto* p = static_cast<const char*>(data);
  while (bytes > 0) {
    const ssize_t n = ::pwrite(fd_, p, bytes, static_cast<off_t>(size_));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) scratch_failed("write");
    p += n;
    bytes -= static_cast<std::size_t>(n);
    size_ += static_cast<std::uint64_t>(n);
  }
}

void TiledGrid::read(void* data, std::size_t bytes, std::uint64_t offset) const {
  auto* p = static_cast<char*>(data);
  while (bytes > 0) {
    const ssize_t n = ::pread(fd_, p, bytes, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) scratch_failed("read");
    p += n;
    bytes -= static_cast<std::size_t>(n);
    offset += static_cast<std::uint64_t>(n);
  }
}

void TiledGrid::put(std::int64_t tx, std::int64_t ty, const kit::TileGrid::Tile& t) {
  std::uint32_t ends[kTile];
  buffer_.clear();
  for (int r = 0; r < kTile; ++r) {
    for (int c = 0; c < kTile; ++c) {
      const auto at = static_cast<std::size_t>(r * kTile + c);
      if (t.count[at] == 0) continue;
      const auto i = static_cast<std::int32_t>(tx * kTile + c);
      buffer_.push_back({i, static_cast<float>(t.sum[at] / static_cast<double>(t.count[at]))});
      ilo = std::min(ilo, i);
      ihi = std::max(ihi, i);
      const auto j = static_cast<std::int32_t>(ty * kTile + r);
      jlo = std::min(jlo, j);
      jhi = std::max(jhi, j);
    }
    ends[r] = static_cast<std::uint32_t>(buffer_.size());
  }
  tiles_[kit::TileGrid::key(tx, ty)] = {tx, ty, size_};
  write(ends, sizeof ends);
  write(buffer_.data(), buffer_.size() * sizeof(Cell));
}

std::vector<TiledGrid::TileRef> TiledGrid::tiles() const {
  std::vector<TileRef> v;
  v.reserve(tiles_.size());
  for (const auto& entry : tiles_)
    v.push_back(entry.second);
  std::sort(v.begin(), v.end(), by_tile_row_then_column);
  return v;
}

void TiledGrid::read_row_ends(const TileRef& t, std::uint32_t* ends) const {
  read(ends, kTile * sizeof(std::uint32_t), t.offset);
}

void TiledGrid::read_cells(const TileRef& t, std::uint32_t first, std::uint32_t last,
                           std::vector<Cell>& out) const {
  out.resize(last - first);
  read(out.data(), out.size() * sizeof(Cell),
       t.offset + kTile * sizeof(std::uint32_t) + std::uint64_t{first} * sizeof(Cell));
}

TiledGrid grid_to_file(const kit::GridSource& source, double cell, const std::string& dir) {
  TiledGrid g(dir);
  kit::stream_grid(
      common_frame(cell), kStreamMargin, source,
      [&](std::int64_t tx, std::int64_t ty, const kit::TileGrid::Tile& t) { g.put(tx, ty, t); });
  return g;
}

namespace {

// Tiles both grids hold, as pairs, ordered by tile row, then tile column.
std::vector<std::pair<TiledGrid::TileRef, TiledGrid::TileRef>> common_tiles(const TiledGrid& ga,
                                                                            const TiledGrid& gb) {
  std::vector<std::pair<TiledGrid::TileRef, TiledGrid::TileRef>> common;
  if (!ga.box_meets(gb)) return common;
  const std::vector<TiledGrid::TileRef> ta = ga.tiles(), tb = gb.tiles();
  std::size_t ka = 0, kb = 0;
  while (ka < ta.size() && kb < tb.size()) {
    if (by_tile_row_then_column(ta[ka], tb[kb])) {
      ++ka;
    } else if (by_tile_row_then_column(tb[kb], ta[ka])) {
      ++kb;
    } else {
      common.emplace_back(ta[ka++], tb[kb++]);
    }
  }
  return common;
}

// visit(j, i, dh) for the cells of row j both rows hold, west to east.
template <class Visit>
void merge_row(std::int32_t j, std::span<const TiledGrid::Cell> ra,
               std::span<const TiledGrid::Cell> rb, Visit& visit) {
  std::size_t ka = 0, kb = 0;
  while (ka < ra.size() && kb < rb.size()) {
    if (ra[ka].i < rb[kb].i) {
      ++ka;
    } else if (rb[kb].i < ra[ka].i) {
      ++kb;
    } else {
      visit(j, ra[ka].i, static_cast<double>(ra[ka].mean) - static_cast<double>(rb[kb].mean));
      ++ka;
      ++kb;
    }
  }
}

std::uint32_t row_begin(const std::uint32_t* ends, int r) {
  return r == 0 ? 0 : ends[r - 1];
}

// A tile row of at most this many common tiles is read whole: some 4 MB a grid at most.
constexpr std::size_t kWholeTiles = 32;

// The cells both grids hold, a grid row at a time, rows asked for in any order (best a tile
// row's rows together): the current tile row's common tiles have their row ends kept and, up
// to kWholeTiles of them, their cells; a wider tile row (a long overlap east to west) is read
// a grid row at a time, so that memory stays bounded.
class RowReader {
 public:
  RowReader(const TiledGrid& ga, const TiledGrid& gb)
      : ga_(ga),
        gb_(gb),
        common_(common_tiles(ga, gb)),
        whole_a_(kWholeTiles),
        whole_b_(kWholeTiles) {}

  // The tile rows holding common tiles, from the south.
  std::vector<std::int64_t> tile_rows() const {
    std::vector<std::int64_t> rows;
    for (const auto& [ta, tb] : common_)
      if (rows.empty() || rows.back() != ta.ty) rows.push_back(ta.ty);
    return rows;
  }

  // visit(j, i, dh) for row j's common cells, west to east.
  template <class Visit>
  void row(std::int32_t j, Visit&& visit) {
    const std::int64_t ty = j >= 0 ? j / kTile : -((-std::int64_t{j} + kTile - 1) / kTile);
    load_tile_row(ty);
    const auto r = static_cast<int>(std::int64_t{j} - ty * kTile);
    for (std::size_t k = 0; k < last_ - first_; ++k) {
      const std::uint32_t* ea = &ends_a_[k * kTile];
      const std::uint32_t* eb = &ends_b_[k * kTile];
      const std::uint32_t a0 = row_begin(ea, r), b0 = row_begin(eb, r);
      if (a0 == ea[r] || b0 == eb[r]) continue;
      if (whole_) {
        merge_row(j, std::span(whole_a_[k]).subspan(a0, ea[r] - a0),
                  std::span(whole_b_[k]).subspan(b0, eb[r] - b0), visit);
      } else {
        ga_.read_cells(common_[first_ + k].first, a0, ea[r], ra_);
        gb_.read_cells(common_[first_ + k].second, b0, eb[r], rb_);
        merge_row(j, std::span(ra_), std::span(rb_), visit);
      }
    }
  }

 private:
  void load_tile_row(std::int64_t ty) {
    if (ty == ty_) return;
    ty_ = ty;
    const auto before = [](const auto& pair, std::int64_t t) { return pair.first.ty < t; };
    first_ = static_cast<std::size_t>(std::lower_bound(common_.begin(), common_.end(), ty, before) -
                                      common_.begin());
    last_ = first_;
    while (last_ < common_.size() && common_[last_].first.ty == ty)
      ++last_;
    const std::size_t m = last_ - first_;
    whole_ = m <= kWholeTiles;
    ends_a_.resize(m * kTile);
    ends_b_.resize(m * kTile);
    for (std::size_t k = 0; k < m; ++k) {
      const auto& [ta, tb] = common_[first_ + k];
      ga_.read_row_ends(ta, &ends_a_[k * kTile]);
      gb_.read_row_ends(tb, &ends_b_[k * kTile]);
      if (!whole_) continue;
      ga_.read_cells(ta, 0, ends_a_[k * kTile + kTile - 1], whole_a_[k]);
      gb_.read_cells(tb, 0, ends_b_[k * kTile + kTile - 1], whole_b_[k]);
    }
  }

  const TiledGrid& ga_;
  const TiledGrid& gb_;
  std::vector<std::pair<TiledGrid::TileRef, TiledGrid::TileRef>> common_;
  std::int64_t ty_ = std::numeric_limits<std::int64_t>::min();
  std::size_t first_ = 0, last_ = 0;
  bool whole_ = false;
  std::vector<std::uint32_t> ends_a_, ends_b_;
  std::vector<std::vector<TiledGrid::Cell>> whole_a_, whole_b_;
  std::vector<TiledGrid::Cell> ra_, rb_;
};

// visit(j, i, dh) for every cell both grids hold, by row from the south, then column.
template <class Visit>
void walk_by_rows(const TiledGrid& ga, const TiledGrid& gb, Visit&& visit) {
  RowReader rows(ga, gb);
  for (const std::int64_t ty : rows.tile_rows())
    for (int r = 0; r < kTile; ++r)
      rows.row(static_cast<std::int32_t>(ty * kTile + r), visit);
}

}  // namespace

PairOverlap compare_grids(const TiledGrid& ga, const TiledGrid& gb, double cell) {
  PairOverlap o;
  o.cell = cell;
  double sum = 0.0, sum2 = 0.0;
  walk_by_rows(ga, gb, [&](std::int32_t j, std::int32_t i, double dh) {
    if (o.cells == 0) {
      o.ilo = o.ihi = i;
      o.jlo = j;
    }
    o.ilo = std::min(o.ilo, i);
    o.ihi = std::max(o.ihi, i);
    o.jhi = j;
    ++o.cells;
    sum += dh;
    sum2 += dh * dh;
  });
  if (o.cells > 0) {
    const auto n = static_cast<double>(o.cells);
    o.mean = sum / n;
    o.rms = std::sqrt(sum2 / n);
  }
  return o;
}

OverlapBlocks overlap_blocks(const TiledGrid& ga, const TiledGrid& gb, const PairOverlap& o,
                             std::int64_t max_blocks) {
  OverlapBlocks b;
  if (o.cells == 0) return b;
  const std::int64_t nx = std::int64_t{o.ihi} - o.ilo + 1, ny = std::int64_t{o.jhi} - o.jlo + 1;
  // Counted in doubles: the sides may reach 2^32 cells each.
  const auto blocks = [&](std::int64_t f) {
    return static_cast<double>(nx / f + 1) * static_cast<double>(ny / f + 1);
  };
  b.f = std::max<std::int64_t>(
      1, static_cast<std::int64_t>(std::sqrt(static_cast<double>(nx) * static_cast<double>(ny) /
                                             static_cast<double>(max_blocks))) -
             1);
  while (blocks(b.f) > static_cast<double>(max_blocks))
    ++b.f;
  b.bx = (nx + b.f - 1) / b.f;
  b.by = (ny + b.f - 1) / b.f;
  b.sum.assign(static_cast<std::size_t>(b.bx * b.by), 0.0);
  b.count.assign(b.sum.size(), 0);
  walk_by_rows(ga, gb, [&](std::int32_t j, std::int32_t i, double dh) {
    const auto k = static_cast<std::size_t>((std::int64_t{j} - o.jlo) / b.f * b.bx +
                                            (std::int64_t{i} - o.ilo) / b.f);
    b.sum[k] += dh;
    ++b.count[k];
  });
  return b;
}

bool write_overlap_tiff(const std::string& path, const TiledGrid& ga, const TiledGrid& gb,
                        const PairOverlap& o, const std::string& crs, std::int64_t max_cells) {
  if (o.cells == 0) return false;
  const std::int64_t nx64 = std::int64_t{o.ihi} - o.ilo + 1, ny64 = std::int64_t{o.jhi} - o.jlo + 1;
  if (nx64 > INT32_MAX || ny64 > INT32_MAX || nx64 > max_cells / ny64) return false;
  const double cell = o.cell;
  geo::RasterLayout layout;
  layout.width = static_cast<int>(nx64);
  layout.height = static_cast<int>(ny64);
  const double gt[6] = {static_cast<double>(o.ilo) * cell,         cell, 0.0,
                        (static_cast<double>(o.jhi) + 1.0) * cell, 0.0,  -cell};
  std::copy(std::begin(gt), std::end(gt), layout.geotransform);
  layout.crs = crs;
  layout.nodata = std::numeric_limits<double>::quiet_NaN();
  GDALDatasetUniquePtr ds = geo::create_geotiff(path, layout);
  // Whole strips from the north down, each flushed once written: the file is laid out as one
  // write of the whole grid lays it out, through a cache of one strip.
  int block_w = 0, strip_rows = 0;
  ds->GetRasterBand(1)->GetBlockSize(&block_w, &strip_rows);
  strip_rows = std::max(strip_rows, 1);
  RowReader rows(ga, gb);
  std::vector<float> strip;
  for (std::int64_t top = 0; top < ny64; top += strip_rows) {
    const std::int64_t h = std::min<std::int64_t>(strip_rows, ny64 - top);
    strip.assign(static_cast<std::size_t>(h * nx64), std::numeric_limits<float>::quiet_NaN());
    for (std::int64_t r = 0; r < h; ++r) {
      float* line = &strip[static_cast<std::size_t>(r * nx64)];
      rows.row(static_cast<std::int32_t>(o.jhi - top - r),
               [&](std::int32_t, std::int32_t i, double dh) {
                 line[std::int64_t{i} - o.ilo] = static_cast<float>(dh);
               });
    }
    geo::write_window(*ds, 0, static_cast<int>(top), layout.width, static_cast<int>(h),
                      strip.data(), path);
    geo::flush_checked(*ds, path);
  }
  geo::close_checked(std::move(ds), path);
  return true;
}

}  // namespace campaign

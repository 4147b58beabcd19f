#include "kit/gridder.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace kit {

namespace {

constexpr std::int64_t kCells = TileGrid::kTile * TileGrid::kTile;
constexpr int kShift = 7;  // log2 of kTile: an arithmetic shift floors negative cells too
static_assert(TileGrid::kTile == 1 << kShift);

// Revisited tiles held at once by one further pass: about 50 MB.
constexpr std::size_t kPassTiles = 256;

}  // namespace

TileGrid::TileGrid(const GridFrame& frame)
    : ix_lo(frame.ix_min + frame.nx), iy_lo(frame.iy_min + frame.ny), frame_(frame) {}

std::uint64_t TileGrid::key(std::int64_t tx, std::int64_t ty) {
  return std::uint64_t{static_cast<std::uint32_t>(ty)} << 32 | static_cast<std::uint32_t>(tx);
}

void TileGrid::tile_of(std::uint64_t key, std::int64_t& tx, std::int64_t& ty) {
  tx = static_cast<std::int32_t>(static_cast<std::uint32_t>(key));
  ty = static_cast<std::int32_t>(static_cast<std::uint32_t>(key >> 32));
}

std::int64_t TileGrid::tiles_x() const {
  if (frame_.nx <= 0) return 0;
  return ((frame_.ix_min + frame_.nx - 1) >> kShift) - (frame_.ix_min >> kShift) + 1;
}

std::int64_t TileGrid::tiles_y() const {
  if (frame_.ny <= 0) return 0;
  return ((frame_.iy_min + frame_.ny - 1) >> kShift) - (frame_.iy_min >> kShift) + 1;
}

const TileGrid::Tile* TileGrid::tile(std::int64_t tx, std::int64_t ty) const {
  const auto it = tiles_.find(key(tx, ty));
  return it == tiles_.end() ? nullptr : it->second.get();
}

bool TileGrid::add(double x, double y, double h) {
  const double fx = std::floor((x - frame_.x0) / frame_.cell);
  const double fy = std::floor((y - frame_.y0) / frame_.cell);
  // Tested as doubles first: a NaN or a far point never reaches the integer conversion.
  if (!(fx >= static_cast<double>(frame_.ix_min) &&
        fx < static_cast<double>(frame_.ix_min + frame_.nx) &&
        fy >= static_cast<double>(frame_.iy_min) &&
        fy < static_cast<double>(frame_.iy_min + frame_.ny) && std::isfinite(h)))
    return false;
  const auto ix = static_cast<std::int64_t>(fx);
  const auto iy = static_cast<std::int64_t>(fy);
  const std::uint64_t k = key(ix >> kShift, iy >> kShift);
  if (!have_last_ || k != last_key_) {
    have_last_ = true;
    last_key_ = k;
    last_tile_ = nullptr;
    if (handed_out_.contains(k)) {
      revisited_.insert(k);
    } else if (only_.empty() || only_.contains(k)) {
      std::unique_ptr<Tile>& t = tiles_[k];
      if (!t) {
        t = std::make_unique<Tile>();
        t->sum.assign(kCells, 0.0);
        t->count.assign(kCells, 0);
      }
      last_tile_ = t.get();
    }
  }
  if (last_tile_ != nullptr) {
    const auto at = static_cast<std::size_t>((iy & (kTile - 1)) * kTile + (ix & (kTile - 1)));
    last_tile_->sum[at] += h;
    ++last_tile_->count[at];
  }
  ix_lo = std::min(ix_lo, ix);
  ix_hi = std::max(ix_hi, ix);
  iy_lo = std::min(iy_lo, iy);
  iy_hi = std::max(iy_hi, iy);
  bx_lo_ = std::min(bx_lo_, ix);
  bx_hi_ = std::max(bx_hi_, ix);
  by_lo_ = std::min(by_lo_, iy);
  by_hi_ = std::max(by_hi_, iy);
  return true;
}

void TileGrid::stream_to(Sink sink, double margin) {
  sink_ = std::move(sink);
  const double cells = std::ceil(margin / frame_.cell);
  margin_cells_ = cells < 1e15 ? static_cast<std::int64_t>(cells) : std::int64_t{1} << 50;
  bx_lo_ = by_lo_ = std::numeric_limits<std::int64_t>::max();
  bx_hi_ = by_hi_ = std::numeric_limits<std::int64_t>::min();
}

void TileGrid::hand_out(std::uint64_t k) {
  const auto it = tiles_.find(k);
  std::int64_t tx = 0, ty = 0;
  tile_of(k, tx, ty);
  sink_(tx, ty, *it->second);
  tiles_.erase(it);
  handed_out_.insert(k);
  if (have_last_ && k == last_key_) {
    have_last_ = false;
    last_tile_ = nullptr;
  }
}

void TileGrid::end_batch() {
  if (!sink_ || bx_lo_ > bx_hi_) return;
  const std::int64_t m = margin_cells_;
  std::vector<std::uint64_t> done;
  for (const auto& [k, tile] : tiles_) {
    std::int64_t tx = 0, ty = 0;
    tile_of(k, tx, ty);
    const std::int64_t x_lo = tx * kTile, y_lo = ty * kTile;
    if (x_lo + kTile - 1 < bx_lo_ - m || x_lo > bx_hi_ + m || y_lo + kTile - 1 < by_lo_ - m ||
        y_lo > by_hi_ + m)
      done.push_back(k);
  }
  for (std::uint64_t k : done)
    hand_out(k);
  bx_lo_ = by_lo_ = std::numeric_limits<std::int64_t>::max();
  bx_hi_ = by_hi_ = std::numeric_limits<std::int64_t>::min();
}

void TileGrid::finish() {
  if (!sink_) return;
  std::vector<std::uint64_t> rest;
  for (const auto& entry : tiles_)
    rest.push_back(entry.first);
  std::sort(rest.begin(), rest.end());
  for (std::uint64_t k : rest)
    hand_out(k);
}

GridStats stream_grid(const GridFrame& frame, double margin, const GridSource& source,
                      const TileGrid::Sink& sink) {
  GridStats s;
  std::vector<std::uint64_t> again;
  {
    TileGrid grid(frame);
    grid.stream_to(sink, margin);
    source(0, [&](std::span<const double> x, std::span<const double> y, std::span<const double> h) {
      for (std::size_t k = 0; k < h.size(); ++k)
        if (!grid.add(x[k], y[k], h[k])) ++s.outside;
      s.points += static_cast<std::int64_t>(h.size());
      s.peak_tiles = std::max(s.peak_tiles, grid.tiles_held());
      grid.end_batch();
    });
    grid.finish();
    s.ix_lo = grid.ix_lo;
    s.ix_hi = grid.ix_hi;
    s.iy_lo = grid.iy_lo;
    s.iy_hi = grid.iy_hi;
    again.assign(grid.revisited().begin(), grid.revisited().end());
  }
  // Revisited tiles from scratch, a bounded number of them a pass: every point of theirs is
  // summed again in the source's order, so the sums are those of one uninterrupted grid.
  std::sort(again.begin(), again.end());
  for (std::size_t first = 0; first < again.size(); first += kPassTiles) {
    const std::size_t last = std::min(again.size(), first + kPassTiles);
    TileGrid grid(frame);
    grid.stream_to(sink, std::numeric_limits<double>::infinity());
    grid.restrict_to({again.begin() + static_cast<std::ptrdiff_t>(first),
                      again.begin() + static_cast<std::ptrdiff_t>(last)});
    source(s.passes,
           [&](std::span<const double> x, std::span<const double> y, std::span<const double> h) {
             for (std::size_t k = 0; k < h.size(); ++k)
               grid.add(x[k], y[k], h[k]);
           });
    s.peak_tiles = std::max(s.peak_tiles, grid.tiles_held());
    grid.finish();
    ++s.passes;
  }
  return s;
}

}  // namespace kit

#include "tile_grid.hpp"

#include <algorithm>
#include <cmath>

namespace quicklook {

TileGrid::TileGrid(const GridFrame& frame) : ix_lo(frame.nx), iy_lo(frame.ny), frame_(frame) {
  tiles_x_ = (frame.nx + kTile - 1) / kTile;
  tiles_y_ = (frame.ny + kTile - 1) / kTile;
  tiles_.resize(static_cast<std::size_t>(tiles_x_ * tiles_y_));
}

bool TileGrid::add(double x, double y, double h) {
  const double fx = std::floor((x - frame_.x0) / frame_.cell);
  const double fy = std::floor((y - frame_.y0) / frame_.cell);
  // Tested as doubles first: a NaN or a far point never reaches the integer conversion.
  if (!(fx >= 0.0 && fx < static_cast<double>(frame_.nx) && fy >= 0.0 &&
        fy < static_cast<double>(frame_.ny) && std::isfinite(h)))
    return false;
  const auto ix = static_cast<std::int64_t>(fx);
  const auto iy = static_cast<std::int64_t>(fy);
  std::unique_ptr<Tile>& t = tiles_[static_cast<std::size_t>((iy / kTile) * tiles_x_ + ix / kTile)];
  if (!t) {
    t = std::make_unique<Tile>();
    t->sum.assign(kTile * kTile, 0.0);
    t->count.assign(kTile * kTile, 0);
  }
  const std::size_t at = static_cast<std::size_t>((iy % kTile) * kTile + ix % kTile);
  t->sum[at] += h;
  ++t->count[at];
  ix_lo = std::min(ix_lo, ix);
  ix_hi = std::max(ix_hi, ix);
  iy_lo = std::min(iy_lo, iy);
  iy_hi = std::max(iy_hi, iy);
  return true;
}

}  // namespace quicklook

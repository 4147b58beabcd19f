// Sum and count of point heights per DEM cell, in square tiles allocated when a point first
// falls in them: memory follows the area the swath covers, not the number of points.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace quicklook {

// Cell edges lie on multiples of `cell` in projected metres; cell (ix, iy) spans
// [x0 + ix cell, x0 + (ix + 1) cell) eastwards and the same northwards from y0.
struct GridFrame {
  double x0 = 0.0, y0 = 0.0;  // south-west corner, projected metres
  double cell = 0.0;          // metres
  std::int64_t nx = 0, ny = 0;
};

class TileGrid {
 public:
  static constexpr int kTile = 128;  // cells a tile side

  explicit TileGrid(const GridFrame& frame);
  // Adds one point (projected metres, height in metres); false when it lies outside the frame.
  bool add(double x, double y, double h);

  const GridFrame& frame() const { return frame_; }
  std::int64_t tiles_x() const { return tiles_x_; }
  std::int64_t tiles_y() const { return tiles_y_; }

  struct Tile {
    std::vector<double> sum;  // kTile * kTile, row by row from the south
    std::vector<std::uint32_t> count;
  };
  // Null when no point fell in the tile.
  const Tile* tile(std::int64_t tx, std::int64_t ty) const {
    return tiles_[static_cast<std::size_t>(ty * tiles_x_ + tx)].get();
  }
  // Cells holding points: [ix_lo, ix_hi] x [iy_lo, iy_hi]; empty when ix_lo > ix_hi.
  std::int64_t ix_lo = 0, ix_hi = -1, iy_lo = 0, iy_hi = -1;

 private:
  GridFrame frame_;
  std::int64_t tiles_x_ = 0, tiles_y_ = 0;
  std::vector<std::unique_ptr<Tile>> tiles_;
};

}  // namespace quicklook

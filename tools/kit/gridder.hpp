// Sum and count of point heights per grid cell, in square tiles allocated when a point first
// falls in them. Streamed, a tile is handed to a sink and freed as soon as the points have
// moved on (a margin away from the latest batch's points), so that memory follows the swath
// front, not the area covered. A point that comes back to a handed-out tile is still counted
// exactly: stream_grid grids such tiles again from a second pass over the points, and hands
// them out once more with their final values.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace kit {

// Cell edges lie on multiples of `cell` from (x0, y0) in projected metres: cell (ix, iy) spans
// [x0 + ix cell, x0 + (ix + 1) cell) eastwards and the same northwards. The grid holds the
// cells ix in [ix_min, ix_min + nx), iy in [iy_min, iy_min + ny).
struct GridFrame {
  double x0 = 0.0, y0 = 0.0;  // projected metres
  double cell = 0.0;          // metres
  std::int64_t nx = 0, ny = 0;
  std::int64_t ix_min = 0, iy_min = 0;
};

class TileGrid {
 public:
  static constexpr int kTile = 128;  // cells a tile side; tile (tx, ty) starts at cell kTile tx

  struct Tile {
    std::vector<double> sum;  // kTile * kTile, row by row from the south, metres
    std::vector<std::uint32_t> count;
  };
  // A tile's cells, handed out once no more points are expected in it.
  using Sink = std::function<void(std::int64_t tx, std::int64_t ty, const Tile& tile)>;

  explicit TileGrid(const GridFrame& frame);
  // Adds one point (projected metres, height in metres); false when it lies outside the frame
  // or a value is not finite.
  bool add(double x, double y, double h);

  // Streaming: after each batch of points, end_batch() hands to `sink` every tile farther
  // than `margin` metres from that batch's points; finish() hands out the rest.
  void stream_to(Sink sink, double margin);
  void end_batch();
  void finish();
  // Tiles handed out before a point came back to them: stream_grid's second pass.
  const std::unordered_set<std::uint64_t>& revisited() const { return revisited_; }
  // Only these tiles take points (a second pass); empty: all.
  void restrict_to(std::unordered_set<std::uint64_t> tiles) { only_ = std::move(tiles); }

  const GridFrame& frame() const { return frame_; }
  std::int64_t tiles_x() const;
  std::int64_t tiles_y() const;
  // Null when no point fell in the tile or it has been handed out.
  const Tile* tile(std::int64_t tx, std::int64_t ty) const;
  std::size_t tiles_held() const { return tiles_.size(); }
  static std::uint64_t key(std::int64_t tx, std::int64_t ty);
  static void tile_of(std::uint64_t key, std::int64_t& tx, std::int64_t& ty);

  // Cells holding points: [ix_lo, ix_hi] x [iy_lo, iy_hi]; empty when ix_lo > ix_hi.
  std::int64_t ix_lo = 0, ix_hi = -1, iy_lo = 0, iy_hi = -1;

 private:
  Tile& tile_for(std::int64_t ix, std::int64_t iy);
  void hand_out(std::uint64_t key);

  GridFrame frame_;
  std::unordered_map<std::uint64_t, std::unique_ptr<Tile>> tiles_;
  // The previous point's tile, and where its points go (null: nowhere). Every 64-bit value is
  // some tile's key (~0 is tile (-1, -1)'s), so "no previous tile" is a flag of its own.
  bool have_last_ = false;
  std::uint64_t last_key_ = 0;
  Tile* last_tile_ = nullptr;
  Sink sink_;
  std::int64_t margin_cells_ = 0;
  std::int64_t bx_lo_ = 0, bx_hi_ = -1, by_lo_ = 0, by_hi_ = -1;  // this batch's cells
  std::unordered_set<std::uint64_t> handed_out_, revisited_, only_;
};

// x east, y north (metres, the frame's projection) and h (metres) of a batch of points.
using GridBatchFn = std::function<void(std::span<const double> x, std::span<const double> y,
                                       std::span<const double> h)>;
// Calls `batch` for every batch of the points, in the same order each time; `pass` is 0 the
// first time and larger for the passes that grid revisited tiles again.
using GridSource = std::function<void(int pass, const GridBatchFn& batch)>;

struct GridStats {
  std::int64_t points = 0, outside = 0;                       // of the first pass
  std::int64_t ix_lo = 0, ix_hi = -1, iy_lo = 0, iy_hi = -1;  // as TileGrid's
  std::size_t peak_tiles = 0;                                 // the most tiles held at once
  int passes = 1;
};

// Grids every point of `source`, handing each tile to `sink` (a tile handed out again replaces
// its first values). Each cell's sum is over its points in the source's order, as one
// TileGrid given every point would hold it.
GridStats stream_grid(const GridFrame& frame, double margin, const GridSource& source,
                      const TileGrid::Sink& sink);

}  // namespace kit

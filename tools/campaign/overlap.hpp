// The cross-line check: every line's points as mean heights on one common grid in a local
// transverse Mercator projection, and the height differences where two lines' cells meet.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "geo/projector.hpp"
#include "kit/error.hpp"
#include "kit/gridder.hpp"

namespace campaign {

// Geodetic degrees (WGS84) to metres east and north of the campaign's centre: the kit's
// projector into a transverse Mercator on that centre.
class LocalProjection : public geo::Projector {
 public:
  LocalProjection(double lat0, double lon0);
};

// The common grid's frame for cells of side `cell` metres: cell (i, j) spans x in
// [i cell, (i+1) cell), y in [j cell, (j+1) cell) of the common projection, within +-2^31 cells
// of its origin.
kit::GridFrame common_frame(double cell);

// The streamed check: memory follows the tiles around a line's front and the pair of tiles
// being compared, not the lines' length or area.

// The scratch file of a grid cannot be made, written or read (a full disk, no descriptor
// left): a failure of the summary, not of the line.
struct ScratchError : kit::ToolError {
  using kit::ToolError::ToolError;
};

// A line's grid on disk, the kit's tiles as the gridder finishes them: each tile's cells that
// hold points, row by row from the south, and in memory only where each tile lies in the file
// (a tile handed out again replaces its earlier version).
class TiledGrid {
 public:
  struct Cell {
    std::int32_t i = 0;  // column
    float mean = 0.0f;   // metres
  };
  struct TileRef {
    std::int64_t tx = 0, ty = 0;
    std::uint64_t offset = 0;  // of the tile's row ends (kit::TileGrid::kTile uint32), then cells
  };

  TiledGrid() = default;  // no cells
  // Its file is made in `dir` and unlinked at once: nothing stays behind, even after a crash.
  explicit TiledGrid(const std::string& dir);
  ~TiledGrid();
  TiledGrid(TiledGrid&& o) noexcept;
  TiledGrid& operator=(TiledGrid&& o) noexcept;

  void put(std::int64_t tx, std::int64_t ty, const kit::TileGrid::Tile& t);
  bool empty() const { return tiles_.empty(); }
  bool box_meets(const TiledGrid& o) const {
    return !empty() && !o.empty() && ilo <= o.ihi && o.ilo <= ihi && jlo <= o.jhi && o.jlo <= jhi;
  }
  // The tiles, ordered by tile row, then tile column.
  std::vector<TileRef> tiles() const;
  // A tile's row ends: row r's cells are [ends[r-1], ends[r]) (from 0 for row 0).
  void read_row_ends(const TileRef& t, std::uint32_t* ends) const;
  // Cells [first, last) of the tile into `out`.
  void read_cells(const TileRef& t, std::uint32_t first, std::uint32_t last,
                  std::vector<Cell>& out) const;

  // Bounding box of the cells, inclusive (meaningless while empty).
  std::int32_t ilo = INT32_MAX, ihi = INT32_MIN, jlo = INT32_MAX, jhi = INT32_MIN;

 private:
  void write(const void* data, std::size_t bytes);
  void read(void* data, std::size_t bytes, std::uint64_t offset) const;

  int fd_ = -1;
  std::uint64_t size_ = 0;
  std::unordered_map<std::uint64_t, TileRef> tiles_;
  std::vector<Cell> buffer_;
};

// The grid of a line's points streamed from `source` (which the kit's gridder may call again
// for tiles the line comes back to) into a TiledGrid with its file in `dir`.
TiledGrid grid_to_file(const kit::GridSource& source, double cell, const std::string& dir);

struct PairOverlap {
  std::size_t a = 0, b = 0;                           // line indices
  double cell = 0.0;                                  // metres
  std::size_t cells = 0;                              // cells both lines cover
  double mean = 0.0, rms = 0.0;                       // of first line minus second, metres
  std::int32_t ilo = 0, ihi = -1, jlo = 0, jhi = -1;  // bounding box of those cells
};

// As compare_lines, the differences summed in the same order (by row, then column).
PairOverlap compare_grids(const TiledGrid& ga, const TiledGrid& gb, double cell);

// The differences averaged in blocks of f x f cells from the overlap box's south-west corner,
// f the least that makes at most `max_blocks` blocks: bx x by blocks, by rows from the south.
struct OverlapBlocks {
  std::int64_t f = 1, bx = 0, by = 0;
  std::vector<double> sum;  // each block's cells summed by row, then column
  std::vector<std::int64_t> count;
};
OverlapBlocks overlap_blocks(const TiledGrid& ga, const TiledGrid& gb, const PairOverlap& o,
                             std::int64_t max_blocks);

// The differences as a GeoTIFF (GDAL, tiled) over the overlap's bounding box, NaN where not
// both lines have a point, written a tile at a time. False (nothing written) when that box
// exceeds `max_cells`.
bool write_overlap_tiff(const std::string& path, const TiledGrid& ga, const TiledGrid& gb,
                        const PairOverlap& o, const std::string& crs, std::int64_t max_cells);

}  // namespace campaign

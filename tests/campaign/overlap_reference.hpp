// The cross-line check held wholly in memory: every point of a line summed into its cell at
// once, apart from the kit's tile grid, and two lines' cells compared. The reference that the
// summary's streamed check (tools/campaign/overlap.hpp) is held against.
#pragma once

#include <cstdint>
#include <vector>

#include "overlap.hpp"

namespace campaign {

// Mean height of a line's points in each cell of side `cell` metres that holds any: cell
// (i, j) spans x in [i cell, (i+1) cell), y in [j cell, (j+1) cell) of the common projection.
// Sparse, so that a long line across the grid costs only the cells it covers.
struct GridCell {
  std::int32_t j = 0, i = 0;  // row (north) and column (east)
  float mean = 0.0f;          // metres
};

struct LineGrid {
  std::vector<GridCell> cells;                        // ordered by row, then column
  std::int32_t ilo = 0, ihi = -1, jlo = 0, jhi = -1;  // bounding box of the cells, inclusive
  bool empty() const { return cells.empty(); }
  bool box_meets(const LineGrid& o) const {
    return !empty() && !o.empty() && ilo <= o.ihi && o.ilo <= ihi && jlo <= o.jhi && o.jlo <= jhi;
  }
};

// All of a line's points at once, each cell found and summed point by point in the order given,
// apart from the kit's tile grid: with compare_lines, the check held wholly in memory, the
// reference of the streamed check below. Points with a non-finite value or beyond +-2^31 cells
// are left out, as the streamed grid leaves them out.
LineGrid grid_points(const std::vector<double>& x, const std::vector<double>& y,
                     const std::vector<double>& h, double cell);

struct OverlapCell {
  std::int32_t j = 0, i = 0;  // as in GridCell
  double dh = 0.0;            // first line minus second, metres
};

struct Overlap {
  std::size_t a = 0, b = 0;        // line indices
  double cell = 0.0;               // metres
  std::vector<OverlapCell> cells;  // ordered like GridCell
  double mean = 0.0, rms = 0.0;    // metres
};

// Cells both lines cover; empty when the swaths do not meet.
Overlap compare_lines(const LineGrid& ga, const LineGrid& gb, double cell);

}  // namespace campaign

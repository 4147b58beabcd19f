// The DEM's grid, decided from the projected centre track before any point is read: its
// default cell, its frame, and the largest grid a quick look makes (a cell far finer than the
// points is refused at once rather than gridded for minutes).
#pragma once

#include <vector>

#include "tile_grid.hpp"

namespace quicklook {

// The largest grid a quick look makes (docs/quicklook.md): the most cells under the swath,
// each of which goes through the scratch file and dem.tif (half a minute at the most), and
// the most held in memory at once (12 bytes each) in the tiles around the swath front.
inline constexpr double kMostDemCells = 500e6;
inline constexpr double kMostHeldCells = 20e6;

// A tile farther than this from the latest batch of points is finished: the batch spans the
// swath already, so this covers attitude swings and the ends of scan lines.
inline constexpr double kStreamMargin = 200.0;  // metres

struct TrackGeometry {
  std::vector<double> x, y;  // projected centre points, metres
  double length = 0.0;       // metres along the centre points
  double half_swath = 0.0;   // metres
};

// About twice the mean spacing of `points` spread over the swath, rounded (1, 1.5, 2, 2.5,
// 3, 4, 5, 6 or 8 times a power of ten), metres.
double default_cell(const TrackGeometry& t, double points);

// The cells gridded at `cell` metres: those under the swath (the track's length and both
// ends, times its width), at most the frame's; infinite when a side of the frame would be
// beyond what a GeoTIFF holds.
double dem_cells(const TrackGeometry& t, double cell);
// The cells held at once: the swath's width times twice the streaming margin, at most all.
double held_cells(const TrackGeometry& t, double cell);

// The smallest cell of two significant digits (0.039, 1.5, 30 metres) within both limits.
double smallest_cell(const TrackGeometry& t);

// The frame around the track at `cell` metres, every point within it (the swath and a margin
// for attitude and the lever arm). Throws kit::UsageError, with the grid's size and the
// smallest cell that fits, beyond kMostDemCells or kMostHeldCells; kit::ToolError when no
// centre point has projected coordinates.
GridFrame checked_frame(const TrackGeometry& t, double cell);

}  // namespace quicklook

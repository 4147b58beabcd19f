// The quick look's DEM grid is the tools' streaming tile grid.
#pragma once

#include "kit/gridder.hpp"

namespace quicklook {

using kit::GridFrame;
using kit::TileGrid;

}  // namespace quicklook

// One quick-look run: reads a beamfall run's deck (through beamfall), manifest and output
// files and writes the products into the output folder. Throws runfiles::ToolError with a
// one-line message.
#pragma once

#include "options.hpp"

namespace quicklook {

void run(const Options& options);

}  // namespace quicklook

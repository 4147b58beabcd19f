// Command line of beamfall-quicklook.
#pragma once

#include <string>

#include "kit/error.hpp"

namespace quicklook {

struct Options {
  std::string deck;      // the run's input deck; its file names are relative to its folder
  std::string report;    // the run's manifest, or its report when `manifest` is given
  std::string manifest;  // --manifest: the run's manifest (beamfall --manifest FILE)
  std::string out;       // product folder; empty: "quicklook" beside the deck
  double cell = 0.0;     // DEM cell size, metres; 0: about twice the mean point spacing
  std::string las;       // a LAS 1.4 point file read instead of the deck's point file
  bool help = false;
};

// A command line that cannot be obeyed: exit status 2 with the usage.
using kit::UsageError;

Options parse_options(int argc, char** argv);
const char* usage_text();

}  // namespace quicklook

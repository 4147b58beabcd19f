// The command line of beamfall-trajectory.
#pragma once

#include "convert.hpp"

namespace sbet {

struct Options {
  ConvertOptions convert;
  bool help = false;
};

const char* usage_text();

// kit::UsageError for anything the conversion can't be run with.
Options parse_options(int argc, char** argv);

}  // namespace sbet

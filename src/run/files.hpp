// The run's files, opened in a fixed order at start.
#pragma once

#include <memory>
#include <optional>

#include "output/las.hpp"
#include "run/runpar.hpp"
#include "textio/freeread.hpp"
#include "textio/infile.hpp"
#include "textio/outfile.hpp"

namespace bf {

struct RunFiles {
  std::unique_ptr<BinaryInput> scan_binary;  // when bin2dd
  std::unique_ptr<TextInput> scan_text;      // otherwise
  std::unique_ptr<TextInput> trajectory;
  OutFile points;  // open only when wrtpts
  OutFile centre;
  OutFile cal;    // "scan.cal", open only when calib
  LasWriter las;  // open only with --las
};

// Opens the scanner file, the trajectory file, the point file (a binary one
// is deleted and created anew), the centre file and "scan.cal", in this
// order; sets wrtpts and forces calib false without a point file. A failure
// stops the run (Stop) before the later files are touched.
void open_files(RunPar& par, RunFiles& files);

}  // namespace bf

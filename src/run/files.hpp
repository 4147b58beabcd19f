// The run's files: the checks of every name it reads and writes before it
// starts, and its outputs, created once the inputs are known to be good.
#pragma once

#include <optional>
#include <string>

#include "output/las.hpp"
#include "run/options.hpp"
#include "run/runpar.hpp"
#include "run/session.hpp"
#include "textio/error.hpp"
#include "textio/outfile.hpp"

namespace bf {

// The run's outputs (its inputs are read by its Session).
struct RunFiles {
  OutFile points;  // open only when wrtpts
  OutFile centre;
  OutFile cal;    // "scan.cal", open only when calib
  LasWriter las;  // open only with --las
};

// The descriptors the deck is read from and the report written to (-1 for
// none): checked against the run's files when they are regular files.
struct StandardStreams {
  int deck = -1;
  int report = -1;
};

// A file clash that involves the report: its message must not go into the
// report, which is that other file.
class ReportClash : public Stop {
 public:
  using Stop::Stop;
};

// Checks that each output can be created (OutFile::check_creatable), in the
// order create_outputs() creates them; par: finished (wrtpts, calib). No
// output is touched. A failure stops the run (Stop).
void check_outputs_creatable(const RunPar& par, const RunOptions& options = {});

// Creates the point file (a binary one is deleted and created anew), the
// centre file, "scan.cal" and the LAS file, in this order. Called once every
// input has been read as far as the measurements, so that a run stopped by an
// input error leaves the outputs of an earlier run as they were. A failure
// stops the run (Stop) before the later files are touched.
void create_outputs(const RunPar& par, RunFiles& files, const RunOptions& options = {});

// Stops with "*** file clash: ..." when an output (the report when it is a
// regular file, point file, centre file, "scan.cal" when calib, the LAS file,
// the manifest)
// is an input (scanner file, trajectory, geoid grid, the deck when it is a
// regular file) or another output under any name: the same path, a symbolic
// or hard link, another path to the same directory. Existing files are
// compared by device and inode, names still to be created by their resolved
// directory and final name. A terminal, pipe or device such as /dev/null may
// take several outputs. Touches no file. A clash with the report throws
// ReportClash.
void check_file_clashes(const RunPar& par, const RunOptions& options, StandardStreams streams = {});

// Why the --manifest file may not be written: the message when it is an
// input or another output of the run (as far as the deck has been read),
// else nothing. Touches no file.
std::optional<std::string> manifest_clash(const RunPar& par, const RunOptions& options,
                                          StandardStreams streams = {});

// Closes every output file in order; the first failure stops the run (Stop).
void close_outputs(RunFiles& files);

// Closes every output file after the run has stopped, so each holds every
// record written. A failure is written to `console` when one is given, else
// dropped (the reason the run stopped is the one reported).
void close_outputs_after_stop(RunFiles& files, OutFile* console);

}  // namespace bf

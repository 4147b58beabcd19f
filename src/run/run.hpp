// The run driver: reads the deck, opens the files and runs the phases in order.
#pragma once

#include "run/manifest.hpp"
#include "run/options.hpp"
#include "textio/error.hpp"
#include "textio/infile.hpp"
#include "textio/outfile.hpp"

namespace bf {

// A run that had no usable input (no trajectory sample in the time window, no
// measurement in the scanner file): thrown after its whole report, as it
// would be without the failure, with no output created or changed. The
// message is the reason, "*** no usable input: ...".
class NoUsableInput : public Stop {
 public:
  using Stop::Stop;
};

// One whole run with the deck from `deck` and the report on `console`. A run
// that must stop throws Stop, and one stopped by SIGINT or SIGTERM throws
// Interrupted, after every report line so far is in `console` and every output
// file is closed holding all records written. The outputs are created only
// once the inputs have been read as far as the first measurement: a run that
// stops before then leaves every output as it was. One with no usable input
// throws NoUsableInput at its end.
// `options` add products and modes; a combination that the deck rules out
// throws UsageError before any file is opened.
// `record`, when given, gathers what the manifest tells, also on a stop.
void run(TextInput& deck, OutFile& console, const RunOptions& options = {},
         RunRecord* record = nullptr);

// The program: the options in `args` (after the program name), the deck on
// standard input, the report on standard output. Returns the exit status: 0,
// 1 for a stop, 2 for a usage error, 128 + N when stopped by signal N.
int run_program(std::span<const char* const> args = {});

}  // namespace bf

// Reading the input deck from a text stream into the run parameters.
#pragma once

#include "run/runpar.hpp"
#include "textio/infile.hpp"

namespace bf {

// Reads the five name lines and the nine parameter lines. An input error
// (Stop) when the deck ends early or a value can't be read as its type.
RunPar read_deck(TextInput& in);
// The same into `par`, which keeps the values read so far after a stop.
void read_deck(TextInput& in, RunPar& par);

// The values derived at start: t0 with its constants, tstart raised to t0.
// (wrtpts and the forced calib are set while the files are opened.)
void derive_times(RunPar& par);

}  // namespace bf

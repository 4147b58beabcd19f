// The run driver: reads the deck, opens the files and runs the phases in order.
#pragma once

#include "textio/infile.hpp"
#include "textio/outfile.hpp"

namespace bf {

// One whole run with the deck from `deck` and the report on `console`. A run
// that must stop throws Stop after every report line so far is in `console`
// and every output file holds all records written.
void run(TextInput& deck, OutFile& console);

// The program: the deck on standard input, the report on standard output.
// Returns the process's exit status.
int run_program();

}  // namespace bf

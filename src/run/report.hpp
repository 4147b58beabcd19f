// The opening report and the run summary on the console.
#pragma once

#include "pipeline/pipeline.hpp"
#include "run/runpar.hpp"
#include "textio/outfile.hpp"

namespace bf {

void print_opening_report(const RunPar& par, OutFile& console);

void print_summary(const RunPar& par, std::int64_t nscans, const RunStats& stats,
                   const CrossSums& sums, OutFile& console);

}  // namespace bf

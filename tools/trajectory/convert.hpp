// The conversion: an SBET to a trajectory file with attitude, its smrmsg to a sigma
// trajectory file, both on the same time scale, each written whole or not at all.
#pragma once

#include <cstdint>
#include <limits>
#include <string>

namespace sbet {

struct ConvertOptions {
  std::string sbet;       // SBET file read
  std::string out;        // trajectory file written
  std::string accuracy;   // smrmsg file read, or empty
  std::string sigma_out;  // sigma trajectory file written (with `accuracy`)
  int leap_seconds = 0;   // GPS - UTC taken off the times
  double from = -std::numeric_limits<double>::infinity();  // decimal hours, inclusive
  double to = std::numeric_limits<double>::infinity();
};

// What one file gave: records read, lines written, the first and last time written.
struct FileSummary {
  std::uint64_t records = 0;
  std::uint64_t written = 0;
  double first = 0, last = 0;  // decimal hours
};

struct ConvertSummary {
  FileSummary trajectory, sigma;
};

// Reads and checks every record of the SBET (and of the smrmsg), writes the records whose
// time lies within from .. to, and puts the outputs in place only when both are complete.
// ToolError naming the file and record on bad input (or when no record lies within
// from .. to), Stop from the core's writers when an output can't be written.
ConvertSummary convert(const ConvertOptions& options);

}  // namespace sbet

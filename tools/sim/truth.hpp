// The truth file written beside a simulated flight: the surface definition, the scanner's
// timing and angles, and every injected error, so that the checker can regenerate any
// single measurement and its true footprint. Text, one "key values..." line each, '#' comments.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "beam.hpp"
#include "scanner.hpp"
#include "surface.hpp"

namespace bsim {

struct Truth {
  std::string scanner = "flight.2dd";      // file names, relative to the truth file's directory
  std::string trajectory = "flight.traj";  // as the deck names it
  std::string motion;  // the true motion, when the trajectory file is not it ("": it is)
  std::string deck = "deck.txt";
  std::string geoid = "0";  // grid the surface floats on and the deck names, or "0"
  ScanPattern pattern;
  SensorModel sensor;
  SurfaceDef surface;
  std::int64_t measurements = 0;
  std::int64_t no_returns = 0;     // measurements written with range count 0 (out of reach)
  std::vector<std::string> notes;  // description of the flight, written as comments
};

std::string format_truth(const Truth& t);
Truth read_truth(const std::string& path);

}  // namespace bsim

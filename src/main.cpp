// Beamfall: geolocated surface points from an airborne laser scanner.
// The input deck comes on standard input, the report goes to standard output.
#include <span>

#include "run/run.hpp"

int main(int argc, char** argv) {
  return bf::run_program(std::span<const char* const>(argv + 1, argv + argc));
}

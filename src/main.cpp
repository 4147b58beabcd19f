// Beamfall: geolocated surface points from an airborne laser scanner.
// The input deck comes on standard input, the report goes to standard output.
#include "run/run.hpp"

int main() {
  return bf::run_program();
}

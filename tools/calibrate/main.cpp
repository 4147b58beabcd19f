// beamfall-calibrate DIR ...: the calibration as a program of its own.
#include <string>
#include <vector>

#include "calibrate.hpp"

int main(int argc, char** argv) {
  return bfcal::calibrate_main(std::vector<std::string>(argv + 1, argv + argc),
                               "beamfall-calibrate");
}

// beamfall-calibrate DIR ...: the calibration as a program of its own.
#include <string>
#include <vector>

#include "calibrate.hpp"
#include "kit/child_status.hpp"

int main(int argc, char** argv) {
  kit::take_child_status_back();
  return bfcal::calibrate_main(std::vector<std::string>(argv + 1, argv + argc),
                               "beamfall-calibrate");
}

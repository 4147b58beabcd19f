#include "kit/version.hpp"

#include <cstdio>
#include <cstdlib>
#include <utility>

#include "kit/program_path.hpp"

namespace kit {
namespace {

std::string& alias() {
  static std::string name;
  return name;
}

}  // namespace

void answer_to(std::string name) {
  alias() = std::move(name);
}

std::string version_line() {
  std::string name = alias().empty() ? kit::own_path().filename().string() : alias();
  if (name.empty()) name = "beamfall";  // /proc not mounted
  return name + " " + BEAMFALL_VERSION + "\n";
}

void show_version() {
  const std::string line = version_line();
  const bool written = std::fputs(line.c_str(), stdout) >= 0 && std::fflush(stdout) == 0;
  std::exit(written ? 0 : 1);
}

}  // namespace kit

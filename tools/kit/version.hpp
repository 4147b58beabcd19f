// Every shipped program's --version, in one place: the option parsers of the kit and of the
// simulator call it.
#pragma once

#include <string>

namespace kit {

// "beamfall-sim 1.1.0\n": the running program's file name and the version it was built as.
std::string version_line();

// Writes the version line on standard output and ends the program: exit status 0, or 1
// when standard output cannot be written.
[[noreturn]] void show_version();

}  // namespace kit

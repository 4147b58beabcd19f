// Every shipped program's --version, in one place: the option parsers of the kit and of the
// simulator call it.
#pragma once

#include <string>

namespace kit {

// "beamfall-sim 1.1.0\n": the running program's file name (or the name it answers to) and
// the version it was built as.
std::string version_line();

// The name the running program answers to in its version line, in place of its file's: a
// program called by an alias that the build makes (beamfall-calibrate, a link to
// beamfall-campaign).
void answer_to(std::string name);

// Writes the version line on standard output and ends the program: exit status 0, or 1
// when standard output cannot be written.
[[noreturn]] void show_version();

}  // namespace kit

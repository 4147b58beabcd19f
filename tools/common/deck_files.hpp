// A run's deck and the files it names, read through beamfall's own deck reader, so that a
// tool takes every spelling beamfall takes.
#pragma once

#include <string>
#include <vector>

#include "run/runpar.hpp"

namespace bftools {

// The deck at `path`, read as beamfall reads it; throws bf::Stop with beamfall's message
// ("*** input error: ...", "*** open error: ...") when it cannot be.
bf::RunPar read_deck_file(const std::string& path);

// The files a run of the deck reads and writes without options, as beamfall lists them
// (names as the deck gives them, trailing blanks dropped).
struct DeckFiles {
  std::vector<std::string> inputs;
  std::vector<std::string> outputs;
  std::string points;  // the point file; empty when the deck writes none
};
DeckFiles deck_files(const bf::RunPar& par);

}  // namespace bftools

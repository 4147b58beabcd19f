#include "deck_files.hpp"

#include "run/deck.hpp"
#include "run/files.hpp"
#include "textio/infile.hpp"

namespace bftools {

bf::RunPar read_deck_file(const std::string& path) {
  bf::TextInput in(bf::open_for_reading(path), path);
  return bf::read_deck(in);
}

DeckFiles deck_files(const bf::RunPar& par) {
  DeckFiles f;
  for (const bf::RunFileName& file : bf::run_file_names(par, bf::RunOptions{})) {
    (file.output ? f.outputs : f.inputs).push_back(file.name);
    if (file.role == "points") f.points = file.name;
  }
  return f;
}

}  // namespace bftools

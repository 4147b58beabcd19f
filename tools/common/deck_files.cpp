#include "deck_files.hpp"

#include "run/deck.hpp"
#include "textio/infile.hpp"

namespace bftools {

bf::RunPar read_deck_file(const std::string& path) {
  bf::TextInput in(bf::open_for_reading(path), path);
  return bf::read_deck(in);
}

DeckFiles deck_files(const bf::RunPar& par) {
  DeckFiles f;
  f.inputs.push_back(bf::file_name(par.scanname));
  f.inputs.push_back(bf::file_name(par.gpsname));
  if (!bf::is_no_file(par.geoidname)) f.inputs.push_back(bf::file_name(par.geoidname));
  const bool points = !bf::is_no_file(par.ptname);
  if (points) {
    f.points = bf::file_name(par.ptname);
    f.outputs.push_back(f.points);
  }
  f.outputs.push_back(bf::file_name(par.cenname));
  // Cross profiles need the point file: beamfall makes none without one.
  if (par.calib && points) f.outputs.push_back("scan.cal");
  return f;
}

}  // namespace bftools

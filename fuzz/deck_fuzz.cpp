// The input deck: any text must either fill the run parameters or stop with
// an input error; a deck read whole is listed (--list-files) as valid JSON.
#include <cstdint>
#include <string_view>

#include "fuzz_util.hpp"
#include "json_check.hpp"
#include "run/deck.hpp"
#include "run/manifest.hpp"
#include "textio/error.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  bf::TextInput in(text);
  try {
    bf::RunPar par = bf::read_deck(in);
    for (const std::string* name :
         {&par.scanname, &par.gpsname, &par.geoidname, &par.ptname, &par.cenname}) {
      if (name->size() != bf::kNameWidth) fuzz::finding("a name field is not 36 characters");
      (void)bf::file_name(*name);
      (void)bf::is_no_file(*name);
    }
    if (!fuzz::JsonCheck::valid(bf::list_files_json(par, bf::RunOptions{})))
      fuzz::finding("the file list is not valid JSON");
    bf::derive_times(par);
    if (par.tstart < par.t0) fuzz::finding("tstart was not raised to t0");
  } catch (const bf::Stop& s) {
    if (std::string_view(s.what()).rfind("*** input error: ", 0) != 0)
      fuzz::finding("the deck stopped without an input error");
  }
  return 0;
}

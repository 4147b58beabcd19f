// A whole run in a private scratch directory. The input is split at "===="
// into the deck, then the contents of the files "s", "t" and "g" (written
// only when their part is present); a directory "d" exists as well. The deck
// names its files itself; a deck whose name lines hold a '/' is skipped so
// that the run stays inside the scratch directory.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <string_view>

#include "fuzz_util.hpp"
#include "run/run.hpp"
#include "textio/error.hpp"

namespace {

bool names_stay_here(std::string_view deck) {
  for (int line = 0; line < 5 && !deck.empty(); ++line) {
    std::size_t end = deck.find('\n');
    std::string_view name = deck.substr(0, end).substr(0, 36);
    if (name.find('/') != std::string_view::npos) return false;
    if (end == std::string_view::npos) break;
    deck.remove_prefix(end + 1);
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::enter_scratch_dir();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view all(reinterpret_cast<const char*>(data), size);
  const auto parts = fuzz::split_parts(all, 4);
  if (!names_stay_here(parts[0])) return 0;
  const char* names[] = {"s", "t", "g"};
  for (std::size_t k = 1; k < parts.size(); ++k)
    fuzz::write_file(names[k - 1], parts[k]);
  ::mkdir("d", 0755);

  bf::TextInput deck(parts[0]);
  bf::OutFile console;
  fuzz::attach_console(console);
  try {
    bf::run(deck, console);
    console.close();
  } catch (const bf::Stop&) {
    // a stopped run is an expected outcome
  }
  fuzz::clear_scratch_dir();
  return 0;
}

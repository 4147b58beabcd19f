// beamfall-quicklook: a DEM, a hillshade, the track for GIS and a report page from a run.
#include <cstdio>
#include <exception>

#include "kit/child_status.hpp"
#include "options.hpp"
#include "quicklook.hpp"
#include "runfiles/text.hpp"

int main(int argc, char** argv) {
  kit::take_child_status_back();
  try {
    const quicklook::Options options = quicklook::parse_options(argc, argv);
    if (options.help) {
      std::fputs(quicklook::usage_text(), stdout);
      return std::fflush(stdout) == 0 ? 0 : 1;
    }
    quicklook::run(options);
    return std::fflush(stdout) == 0 ? 0 : 1;
  } catch (const kit::UsageError& e) {
    std::fprintf(stderr,
                 "beamfall-quicklook: %s\nTry 'beamfall-quicklook --help' for more information.\n",
                 e.what());
    return 2;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "beamfall-quicklook: %s\n", e.what());
    return 1;
  }
}

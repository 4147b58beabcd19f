#include "entry.hpp"

#include <cstdio>
#include <exception>

#include "kit/child_status.hpp"
#include "kit/error.hpp"

namespace campaign {

int dispatch(std::span<const Subcommand> table, std::string_view command,
             const std::vector<std::string>& args) {
  for (const Subcommand& s : table)
    if (s.name == command) return s.main(args);
  throw kit::UsageError("unknown command '" + std::string(command) + "'");
}

int guarded_main(const std::function<int()>& body) {
  kit::take_child_status_back();
  try {
    const int status = body();
    return std::fflush(stdout) == 0 ? status : 1;
  } catch (const kit::UsageError& e) {
    std::fflush(stdout);
    std::fprintf(stderr,
                 "beamfall-campaign: %s\nTry 'beamfall-campaign --help' for more information.\n",
                 e.what());
    return 2;
  } catch (const std::exception& e) {
    std::fflush(stdout);
    std::fprintf(stderr, "beamfall-campaign: %s\n", e.what());
    return 1;
  }
}

}  // namespace campaign

// What the campaign's two programs share around their subcommands: beamfall-campaign itself
// and beamfall-campaign-task, the small program the engines start once a line.
#pragma once

#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace campaign {

struct Subcommand {
  std::string_view name;
  int (*main)(const std::vector<std::string>& args);
};

// The subcommand named `command` of `table`, run with `args`; kit::UsageError when there is none.
int dispatch(std::span<const Subcommand> table, std::string_view command,
             const std::vector<std::string>& args);

// Runs `body` as a program's main: a usage error is exit status 2 with the pointer to --help,
// any other stop 1 with its message; a status of 0 stays so only when standard output flushes.
int guarded_main(const std::function<int()>& body);

}  // namespace campaign

// beamfall-campaign-task: one line's task (`_task`) or one Slurm array task (`_array`), as
// beamfall-campaign runs them, without the libraries of the summary and the calibration:
// GNU parallel and Slurm start it once a line, and beamfall-campaign's own start (GDAL,
// PROJ and the rest loaded) costs a tenth of a second of every line.
#include <string>
#include <vector>

#include "campaign_run.hpp"
#include "entry.hpp"
#include "kit/error.hpp"

namespace {

constexpr campaign::Subcommand kTasks[] = {
    {"_task", campaign::task_main},
    {"_array", campaign::array_main},
};

}  // namespace

int main(int argc, char** argv) {
  return campaign::guarded_main([&] {
    if (argc < 2) throw kit::UsageError("missing command");
    return campaign::dispatch(kTasks, argv[1], std::vector<std::string>(argv + 2, argv + argc));
  });
}

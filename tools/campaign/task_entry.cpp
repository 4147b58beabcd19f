// The entries the engines start for each line, apart from `run` and `summary`: they link
// neither GDAL nor PROJ, so that beamfall-campaign-task starts in a few milliseconds.
#include <cstdlib>

#include "campaign_run.hpp"
#include "engines.hpp"
#include "line_task.hpp"
#include "run_options.hpp"

namespace campaign {

int task_main(const std::vector<std::string>& args) {
  std::vector<std::string> rest;
  const TaskSettings s = parse_task_arguments(args, rest);
  if (rest.size() != 3) throw kit::UsageError("_task needs a line's name, number and date");
  return run_line_task(s, {rest[0], std::atoi(rest[1].c_str()), rest[2]});
}

int array_main(const std::vector<std::string>& args) {
  std::vector<std::string> rest;
  const TaskSettings s = parse_task_arguments(args, rest);
  if (rest.size() < 2) throw kit::UsageError("_array needs the list of lines and the first entry");
  return run_array_task(s, rest[rest.size() - 2], rest.back());
}

}  // namespace campaign

// The subcommands of beamfall-campaign other than the summary.
#pragma once

#include <string>
#include <vector>

namespace campaign {

// `run DIR [options]`: every line not up to date through an engine, then the summary.
int run_main(const std::vector<std::string>& args);
// `summary DIR`.
int summary_main(const std::vector<std::string>& args);
// `_task SETTINGS -- NAME ID DATE`: one line (what the engines start).
int task_main(const std::vector<std::string>& args);
// `_array [SCRIPT] SETTINGS -- TODO FIRST`: one Slurm array task.
int array_main(const std::vector<std::string>& args);

// A program beside this one, else among the installed helpers, else on PATH; a set
// environment variable overrides all.
std::string locate_program(const char* env_var, const std::string& name);
// This program's own absolute path.
std::string self_path();

}  // namespace campaign

// The engines that run the lines' tasks: GNU parallel on this machine, or Slurm job arrays.
// They do the scheduling; each task is `beamfall-campaign-task _task SETTINGS -- NAME ID DATE`
// (or `beamfall-campaign _task ...` where the task program is not beside it).
#pragma once

#include <string>
#include <vector>

#include "line_task.hpp"
#include "run_options.hpp"

namespace campaign {

struct EngineRun {
  std::string self;       // this program, absolute
  std::string task;       // the program of each line's task (task_program)
  std::string state_dir;  // DIR/.campaign
  std::string todo_file;  // the lines to run: NUL-separated name, number, date
  TaskSettings settings;
  std::vector<LineJob> jobs;
};

// Writes the NUL-separated list the engines read.
void write_todo(const std::string& path, const std::vector<LineJob>& jobs);
// The jobs of such a list.
std::vector<LineJob> read_todo(const std::string& path);

// beamfall-campaign-task beside `self` (a build tree) or in ../libexec/beamfall (installed),
// else `self`: both take `_task` and `_array`; the small one starts without loading the
// summary's libraries.
std::string task_program(const std::string& self);

void run_parallel(EngineRun& e, int jobs);
void run_slurm(const EngineRun& e, const std::string& partition, int max_running);

// A Slurm array task: entry FIRST + SLURM_ARRAY_TASK_ID of the list.
int run_array_task(const TaskSettings& s, const std::string& todo_file, const std::string& first);

}  // namespace campaign

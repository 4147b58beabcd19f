// One flight line's task, the same wherever it runs (GNU parallel, a Slurm array task): run
// beamfall in the line's folder, then the quick look, then write the line's record.
#pragma once

#include <string>

#include "campaign/folder/record.hpp"
#include "run_options.hpp"

namespace campaign {

struct LineJob {
  std::string name;  // folder name under the campaign folder
  int id = 0;        // line number (LAS point source ID)
  std::string date;  // flight date, YYYY-MM-DD; may be empty without --las
};

// The task's exit status: beamfall's, else the quick look's. An interrupted task leaves no
// record (its old one is removed first), so the next run takes the line up again.
int run_line_task(const TaskSettings& s, const LineJob& job);

LineOptions line_options(const TaskSettings& s, const LineJob& job);

// Succeeded with these options, the same binary, deck and input files as recorded, and the
// recorded outputs unchanged and not older than any of those.
bool line_is_current(const TaskSettings& s, const LineJob& job);

// Why a finished line has no result to use: no points when beamfall's manifest says the run
// output none (a run without usable input; beamfall may end it with status 0), else a status
// that is not 0. One rule for the task's status, the run's table of failures, the summary and
// "up to date".
enum class Failure { none, exit_status, no_points };
Failure line_failure(int status, const nlohmann::json& manifest);
Failure line_failure(const LineRecord& record);
// "exit status N" or "no points"; empty for none.
std::string failure_text(Failure f, int status);

// "NAME: done in S s" or "NAME: FAILED (exit status N)" (or another failure), from the line's
// record.
std::string line_result(const std::string& name, const std::optional<LineRecord>& record);

// Seconds with three decimals, whatever the locale.
std::string seconds_text(double seconds);

}  // namespace campaign

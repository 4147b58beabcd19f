// The command line of `beamfall-campaign run`, and the settings every line's task runs with.
#pragma once

#include <string>
#include <vector>

#include "kit/error.hpp"

namespace campaign {

struct RunOptions {
  std::string dir;
  int jobs = 0;  // 0: the number of cores
  bool las = false;
  std::string date;  // --date
  bool quicklook = false;
  bool force = false;
  std::string roll0;  // as given; empty without --roll0
  bool rigorous = false;
  std::string boresight;     // as given; empty without --boresight
  std::string range_offset;  // as given; empty without --range-offset
  // --calibration and the noise model (--sigma-*, --beam-divergence): option and value
  // pairs in the order given, file names made absolute.
  std::vector<std::string> uncertainty;
  bool slurm = false;
  std::string partition;
  int max_running = 0;  // 0: no limit
  int threads = 0;      // --threads of each line's beamfall; 0: the cores shared among the lines
};

// Throws kit::UsageError.
RunOptions parse_run_options(const std::vector<std::string>& args);

// What each line's task needs, passed to it as arguments wherever it runs.
struct TaskSettings {
  std::string campaign_dir;  // absolute
  std::string beamfall;      // absolute
  std::string quicklook_program;
  bool las = false;
  bool quicklook = false;
  std::string roll0;
  bool rigorous = false;
  std::string boresight;
  std::string range_offset;
  std::vector<std::string> uncertainty;  // option and value pairs, as RunOptions holds them
  int threads = 1;     // each line's beamfall --threads
  bool quiet = false;  // no line printed per finished line (GNU parallel draws its bar)
};

// beamfall's options that `run` passes on to every line as they are: the calibration file
// and the noise model.
inline constexpr const char* kUncertaintyOptions[] = {
    "--calibration", "--sigma-position", "--sigma-attitude", "--sigma-trajectory",
    "--sigma-range", "--sigma-angle",    "--sigma-lever",    "--beam-divergence"};

std::vector<std::string> task_arguments(const TaskSettings& s);
// The settings among `args`; the other arguments, in order, go to `rest`.
TaskSettings parse_task_arguments(const std::vector<std::string>& args,
                                  std::vector<std::string>& rest);

}  // namespace campaign

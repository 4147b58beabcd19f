// beamfall-campaign: runs every flight line of a campaign folder through beamfall, on all
// cores with GNU parallel or as Slurm job arrays, re-running only what changed, summarises
// the lines and their overlaps, and calibrates the scanner from them. Called by the name
// beamfall-calibrate (a link the build makes), it is `beamfall-campaign calibrate`.
#include <algorithm>
#include <cstdio>
#include <exception>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "entry.hpp"
#include "kit/child_status.hpp"
#include "kit/command_line.hpp"
#include "kit/version.hpp"
#ifdef BEAMFALL_WITH_RUN
#include "campaign_run.hpp"
#endif
#ifdef BEAMFALL_WITH_CALIBRATE
#include "calibrate/calibrate.hpp"
#endif

namespace campaign {
namespace {

const char* const kUsage =
    R"(usage: beamfall-campaign run DIR [--jobs N] [--las] [--date YYYY-MM-DD] [--quicklook]
                         [--force] [--roll0 VALUE] [--rigorous] [--boresight R,P,H]
                         [--range-offset M] [--calibration FILE] [--sigma-position H,V]
                         [--sigma-attitude R,P,H] [--sigma-trajectory FILE] [--sigma-range M]
                         [--sigma-angle GON] [--sigma-lever M] [--beam-divergence MRAD]
                         [--threads N] [--slurm [--partition P] [--max-running M]]
       beamfall-campaign summary DIR
       beamfall-campaign calibrate DIR [--control FILE] [--solve roll,pitch,heading,range]
       beamfall-campaign --help | --version

A campaign DIR holds one folder per flight line, each with its input deck, `deck` or
`deck.txt` (not both), and the input files the deck names. `run` processes every line that
is not up to date, in its own folder:
  beamfall [--las points.las --line-id N --date D] [--roll0 VALUE] [--rigorous]
           [--boresight R,P,H] [--range-offset M] --threads T < deck > report.txt
then writes DIR/summary.csv and DIR/summary.html (`summary` does only that). `calibrate`
estimates the boresight and range offset from the overlapping lines (see
`beamfall-campaign calibrate --help`).

  --jobs N          lines at once with GNU parallel [number of cores]
  --las             also write points.las; the line number (a number from 1 to 65535 in
                    the folder's name, else the folder's place in name order) is the point
                    source ID
  --date D          flight date of every line without a one-line `date` file
  --quicklook       make each line's quick-look products after its run
  --force           run every line, up to date or not
  --roll0 VALUE     run each line with VALUE as roll0 (beamfall --roll0) in place of the
                    deck's; the deck is never changed. VALUE is the summary's campaign roll
                    estimate
  --rigorous        run each line with beamfall --rigorous (geolocation on the ellipsoid)
  --boresight R,P,H run each line with the scanner's rotation from the body axes, degrees
                    (beamfall --boresight)
  --range-offset M  run each line with M metres added to every range (beamfall
                    --range-offset); beamfall's own checks decide whether a value is good
  --calibration FILE, --sigma-position H,V, --sigma-attitude R,P,H, --sigma-trajectory FILE,
  --sigma-range M, --sigma-angle GON, --sigma-lever M, --beam-divergence MRAD
                    passed on to beamfall for every line as they are (file names made
                    absolute): calibration.json applied, and each point's uncertainty in
                    its LAS file (the noise model needs --las); a changed calibration or
                    sigma file runs the lines again
  --threads N       each line's beamfall --threads [the cores shared among the lines that run
                    at once; with --slurm 1]; with --slurm each task asks for N cpus
                    (sbatch --cpus-per-task). Never changes an output
  --slurm           Slurm job arrays instead of GNU parallel (several when the lines are more
                    than MaxArraySize - 1); waits for them, printing each line as it finishes
  --partition P     Slurm partition
  --max-running M   at most M array tasks at once

A line is up to date when its record (.campaign-record) says it succeeded with the same
options and the same beamfall binary, its deck and input files are those recorded, and its
outputs are unchanged and not older than any of them. The record also holds beamfall's
manifest of the line's run, from which the summary takes the line's results.

Environment: BEAMFALL, BEAMFALL_QUICKLOOK name the programs (default: beside this program,
else on PATH); BEAMFALL_CAMPAIGN_SUMMARY names a program to run for the summary instead of
this one's. DIR/.campaign holds the run's lock, list of lines, GNU parallel's job log and
Slurm's logs.
A line fails when its run fails or outputs no point; failed lines are named and left out of
the roll estimate and the cross-line check.
Exit status: 0 all lines succeeded, 1 a line failed or an error, 2 usage error.
)";

#ifdef BEAMFALL_WITH_CALIBRATE
int calibrate_main(const std::vector<std::string>& args) {
  return bfcal::calibrate_main(args, "beamfall-campaign calibrate");
}
#else
[[noreturn]] int calibrate_main(const std::vector<std::string>&) {
  throw std::runtime_error(
      "calibrate is not built here: it needs Ceres Solver (apt-get install libceres-dev, then "
      "build again)");
}
#endif

#ifndef BEAMFALL_WITH_RUN
// Running and summarising a campaign draw its maps: without GDAL and PROJ they are not built.
[[noreturn]] int not_built_main(const std::vector<std::string>&) {
  throw std::runtime_error(
      "run and summary are not built here: they need GDAL and PROJ (apt-get install "
      "libgdal-dev libproj-dev pkg-config, then build again)");
}
constexpr auto run_main = not_built_main;
constexpr auto summary_main = not_built_main;
constexpr auto task_main = not_built_main;
constexpr auto array_main = not_built_main;
#endif

int version_main(const std::vector<std::string>&) {
  kit::show_version();
}

int help_main(const std::vector<std::string>&) {
  std::fputs(kUsage, stdout);
  return 0;
}

// The subcommands; those starting with '_' are what the engines start for each line (also
// in beamfall-campaign-task, which they start when it is beside this program).
constexpr Subcommand kSubcommands[] = {
    {"run", run_main},      {"summary", summary_main},
    {"--help", help_main},  {"--version", version_main},
    {"-h", help_main},      {"_task", task_main},
    {"_array", array_main}, {"calibrate", calibrate_main},
};

int run_command_line(int argc, char** argv) {
  if (argc < 2) throw kit::UsageError("missing command");
  const std::string_view command = argv[1];
  const std::vector<std::string> args(argv + 2, argv + argc);
  // `run --help` and `summary --help` as on any other command; calibrate has its own.
  const bool help = std::any_of(args.begin(), std::find(args.begin(), args.end(), "--"),
                                [](const std::string& a) { return a == "--help" || a == "-h"; });
  if (help && (command == "run" || command == "summary")) return help_main(args);
  return campaign::dispatch(kSubcommands, command, args);
}

}  // namespace
}  // namespace campaign

namespace {

// Called by the alias the build makes, the program is its calibrate command.
bool called_as_calibrate(const char* argv0) {
  const std::string_view name = argv0 != nullptr ? argv0 : "";
  return name.substr(name.find_last_of('/') + 1) == "beamfall-calibrate";
}

}  // namespace

int main(int argc, char** argv) {
  kit::take_child_status_back();
  if (argc > 0 && called_as_calibrate(argv[0])) {
    kit::answer_to("beamfall-calibrate");
#ifdef BEAMFALL_WITH_CALIBRATE
    return bfcal::calibrate_main(std::vector<std::string>(argv + 1, argv + argc),
                                 "beamfall-calibrate");
#endif
  }
  return campaign::guarded_main([&] { return campaign::run_command_line(argc, argv); });
}

#include "calibrate.hpp"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <stdexcept>

#include "control.hpp"
#include "diagnosis.hpp"
#include "flight_lines.hpp"
#include "kit/command_line.hpp"
#include "misfit.hpp"
#include "patches.hpp"
#include "report.hpp"
#include "sampling.hpp"
#include "solver.hpp"
#include "textio/error.hpp"

namespace bfcal {
namespace {

using kit::UsageError;

struct Options {
  std::string dir;
  std::string control;
  PatchSettings patches;
  SolveSettings solver;
  bool progress = true;
};

const char* const kUsage =
    R"(usage: beamfall-campaign calibrate DIR [--control FILE] [--solve roll,pitch,heading,range]
                         [--max-patches N] [--patch-size M] [--planarity M] [--threads N]
                         [--no-progress]
       beamfall-calibrate DIR ...   (the same)

Estimates the scanner's boresight (roll, pitch, heading, degrees) and range offset (metres)
from the overlapping flight lines of the campaign DIR (its line folders, as `run` takes
them): planar tie patches where lines overlap, every line's points on each patch's plane,
solved with a robust loss; each step georeferences the measurements again with the current
values, as beamfall --rigorous does. Writes DIR/calibration.json and DIR/calibration.html and
prints the values with their standard errors and the command that applies them.

  --control FILE    control points, CSV rows 'latitude,longitude,height[,sigma]' (degrees,
                    metres in the decks' height system; sigma [from the points' agreement,
                    at least 0.002 m, when five or more rows give none; else 0.01 m]): known
                    heights, which a range offset needs over level ground; one outside
                    every swath is left out with a warning
  --solve LIST      the parameters to estimate, comma-separated [roll,pitch,heading,range];
                    the others are held at 0
  --max-patches N   tie patches at most, spread over slope directions and the swaths [2000]
  --patch-size M    side of a patch in metres, 0.1 to 100 [from the point density: 16 points a line]
  --planarity M     a patch is kept when each line's points lie within M (RMS) of their own
                    plane [1.5 x the 20th percentile of the candidates, at least 0.005]
  --threads N       threads [2]
  --no-progress     no progress line on a terminal
  --version         the program's version

Standard errors are the larger of the formal ones and those from resampling blocks of time
(the points of a line near one time share its trajectory's errors). A parameter the flight
pattern cannot determine (standard error beyond 0.01 deg roll, 0.03 deg pitch, 0.05 deg
heading, 0.03 m range offset) is reported as not observable. Warnings (a trajectory sampled
too coarsely, values that move between resamples, a misfit beyond the noise, control points
that disagree with the ties) are in calibration.json, on the page and beside the command.
Exit status: 0 done (with or without warnings), 1 bad input or a failure (nothing written),
2 usage error.
)";

double positive_number(const std::string& option, const std::string& text) {
  std::size_t used = 0;
  double v = 0;
  try {
    v = std::stod(text, &used);
  } catch (const std::exception&) {
    used = 0;
  }
  if (used != text.size() || !(v > 0) || !std::isfinite(v))
    throw UsageError(option + " takes a positive number, not '" + text + "'");
  return v;
}

int positive_integer(const std::string& option, const std::string& text) {
  const double v = positive_number(option, text);
  if (v != std::floor(v) || v > 1e7) throw UsageError(option + " takes a positive whole number");
  return static_cast<int>(v);
}

std::array<bool, kParams> parse_solve(const std::string& text) {
  std::array<bool, kParams> on{};
  std::size_t start = 0;
  for (;;) {
    const std::size_t comma = text.find(',', start);
    const std::string word = text.substr(start, comma - start);
    int k = 0;
    while (k < kParams && word != solve_name(k))
      ++k;
    if (k == kParams)
      throw UsageError("--solve takes roll, pitch, heading and range, not '" + word + "'");
    on[k] = true;
    if (comma == std::string::npos) return on;
    start = comma + 1;
  }
}

std::string folder_of(const std::vector<std::string>& positional) {
  if (positional.empty()) throw UsageError("missing campaign folder");
  if (positional.size() > 1) throw UsageError("one campaign folder only ('" + positional[1] + "')");
  return positional[0];
}

Options parse(const std::vector<std::string>& args, bool& help) {
  Options o;
  bool quiet = false;
  const auto positional = kit::parse_command_line(args,
                                                  {{"--help", "-h", false, kit::flag(help)},
                                                   {"--control", "", true, kit::store(o.control)},
                                                   {"--solve", "", true,
                                                    kit::store_as(o.solver.solve, parse_solve)},
                                                   {"--max-patches", "", true,
                                                    kit::store_as(o.patches.max_patches,
                                                                  [](const std::string& v) {
                                                                    return positive_integer(
                                                                        "--max-patches", v);
                                                                  })},
                                                   {"--patch-size", "", true,
                                                    kit::store_as(
                                                        o.patches.patch_size,
                                                        [](const std::string& v) {
                                                          const double size =
                                                              positive_number("--patch-size", v);
                                                          if (!(size >= 0.1 && size <= 100))
                                                            throw UsageError(
                                                                "--patch-size takes 0.1 to 100 m");
                                                          return size;
                                                        })},
                                                   {"--planarity", "", true,
                                                    kit::store_as(
                                                        o.patches.planarity,
                                                        [](const std::string& v) {
                                                          return positive_number("--planarity", v);
                                                        })},
                                                   {"--threads", "", true,
                                                    [&](const std::string& v) {
                                                      o.patches.threads = o.solver.threads =
                                                          std::min(
                                                              64, positive_integer("--threads", v));
                                                      return true;
                                                    }},
                                                   {"--no-progress", "", false, kit::flag(quiet)}});
  o.progress = !quiet;
  if (help) return o;
  o.dir = folder_of(positional);
  return o;
}

// One line on standard error while a terminal shows it, redrawn at most
// four times a second.
class Status {
 public:
  explicit Status(bool wanted) : on_(wanted && ::isatty(STDERR_FILENO)) {}
  ~Status() { clear(); }
  void show(const std::string& text) {
    if (!on_) return;
    const auto now = std::chrono::steady_clock::now();
    if (drawn_ && now - last_ < std::chrono::milliseconds(250)) return;
    last_ = now;
    std::fprintf(stderr, "\r\033[K%s", text.c_str());
    drawn_ = true;
  }
  void clear() {
    if (drawn_) std::fputs("\r\033[K", stderr);
    drawn_ = false;
  }

 private:
  bool on_;
  bool drawn_ = false;
  std::chrono::steady_clock::time_point last_;
};

Results calibrate(const Options& o, Status& status) {
  const auto start = std::chrono::steady_clock::now();
  Results r;
  r.dir = o.dir;
  const std::vector<std::string> names = campaign_lines(o.dir);
  if (names.size() < 2)
    bf::stop("a campaign of " + std::to_string(names.size()) +
             " line(s): calibration needs two or more overlapping lines");
  for (const std::string& name : names)
    r.lines.push_back(open_line(o.dir, name));
  const std::vector<ControlPoint> control =
      o.control.empty() ? std::vector<ControlPoint>{} : read_control(o.control);
  r.patches =
      find_patches(r.lines, control, o.patches, r.patch_report, [&](int pass, double share) {
        status.show("reading the lines, pass " + std::to_string(pass) +
                    " of 2: " + std::to_string(static_cast<int>(100 * share)) + " %");
      });
  for (const Patch& p : r.patches) {
    r.control_points += static_cast<int>(p.control.size());
    r.tie_patches += p.points.front().line != p.points.back().line;  // sorted by line
  }
  if (r.tie_patches == 0)
    bf::stop("no planar tie patch where the lines overlap (patches of " +
             std::to_string(r.patch_report.patch_size) + " m; try --patch-size or --planarity)");
  r.solution = solve(r.lines, r.patches, o.solver, [&](const std::string& s) { status.show(s); });
  status.show("misfit before and after");
  r.before = misfit(r.lines, r.patches, r.solution.gross, Params{});
  r.after = misfit(r.lines, r.patches, r.solution.gross, r.solution.values);
  r.control_after = control_residuals(r.lines, r.patches, r.solution.gross, r.solution.values,
                                      r.solution.control_sigma, r.patch_report.unused_control);
  r.sampling = sampling_misses(r.lines, r.patches);
  r.warnings = diagnose(r);
  r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  status.clear();
  return r;
}

}  // namespace

const char* calibrate_usage() {
  return kUsage;
}

int calibrate_main(const std::vector<std::string>& args, const std::string& prog) {
  Options o;
  try {
    bool help = false;
    o = parse(args, help);
    if (help) return std::fputs(kUsage, stdout) < 0 ? 1 : 0;
  } catch (const UsageError& e) {
    std::fprintf(stderr, "%s: %s\nTry '%s --help' for more information.\n", prog.c_str(), e.what(),
                 prog.c_str());
    return 2;
  }
  try {
    Status status(o.progress);
    const Results r = calibrate(o, status);
    const std::filesystem::path dir(o.dir);
    // The JSON goes in place last: its presence means both files are complete.
    write_files_atomically({{(dir / "calibration.html").string(), calibration_html(r)},
                            {(dir / "calibration.json").string(), calibration_json(r)}});
    const std::string table = stdout_table(r);
    if (std::fputs(table.c_str(), stdout) < 0 || std::fflush(stdout) != 0) return 1;
    return 0;
  } catch (const std::exception& e) {
    std::string what = e.what();
    what.erase(0, what.find_first_not_of(' '));
    std::fprintf(stderr, "%s: %s\n", prog.c_str(), what.c_str());
    return 1;
  }
}

}  // namespace bfcal

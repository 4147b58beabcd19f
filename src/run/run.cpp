#include "run/run.hpp"

#include <unistd.h>

#include <csignal>
#include <cstdio>

#include "input/geoid.hpp"
#include "input/scanfile.hpp"
#include "input/scanrec.hpp"
#include "input/trajectory.hpp"
#include "output/points.hpp"
#include "run/deck.hpp"
#include "run/files.hpp"
#include "run/report.hpp"
#include "textio/error.hpp"

namespace bf {
namespace {

std::unique_ptr<GeoidGrid> load_geoid_phase(const RunPar& par, OutFile& console) {
  const std::string name = file_name(par.geoidname);
  TextInput in(open_for_reading(name), name);
  FreeReader reader(in);
  auto grid = std::make_unique<GeoidGrid>();
  load_geoid(reader, ("geoid grid file " + quoted(name)).c_str(), *grid, console);
  return grid;
}

void load_trajectory_phase(const RunPar& par, RunFiles& files, TrajectoryTable& traj,
                           OutFile& console) {
  FreeReader reader(*files.trajectory);
  const std::string source = "trajectory file " + quoted(file_name(par.gpsname));
  load_trajectory(reader, source.c_str(), par.tstart, par.tend, par.gpsatt, traj);
  files.trajectory->close();
  report_trajectory(console, traj.ngps, compute_speeds(traj));
  if (traj.ngps == 0) console.free_line({"*** warning: no trajectory data in the time window"});
}

PipelineConfig pipeline_config(const RunPar& p) {
  PipelineConfig c;
  c.latmin = p.latmin;
  c.latmax = p.latmax;
  c.lonmin = p.lonmin;
  c.lonmax = p.lonmax;
  c.naver = p.naver;
  c.wrtpts = p.wrtpts;
  c.binout = p.binout;
  c.calib = p.calib;
  c.useatt = p.useatt;
  c.amin = p.amin;
  c.ilo = p.ilo;
  c.ihi = p.ihi;
  c.rmin = p.rmin;
  c.arm = LeverArm{p.dx, p.dy, p.dz};
  c.mis = Misalignment{p.pitch0, p.roll0, p.heading0};
  return c;
}

struct LoopResult {
  std::int64_t nscans = 0;
  RunStats stats;
  CrossSums sums;
};

template <class Reader>
LoopResult measurement_loop(Reader& reader, bool started, PointPipeline& pipe) {
  Measurement m;
  if (started) {
    while (reader.next(m))
      pipe.process(m, reader.timing().nscans);
  }
  return LoopResult{reader.timing().nscans, pipe.stats(), pipe.cross_sums()};
}

LoopResult scanner_phase(const RunPar& par, const RunOptions& options, RunFiles& files,
                         const TrajectoryTable& traj, const GeoidGrid* geoid, OutFile& console) {
  console.free_line({});
  console.free_line({"Reading scanner data from: ", par.scanname});
  const ScanWindow window{par.t0, par.tstart, par.tend, par.nthin};
  PointPipeline::Outputs outputs{par.wrtpts ? &files.points : nullptr, &files.centre,
                                 par.calib ? &files.cal : nullptr, &console};
  PipelineConfig config = pipeline_config(par);
  config.rigorous = options.rigorous;
  if (par.bin2dd) {
    const ScanLayout layout = readhdr(*files.scan_binary, console);
    const BeamTable beams(layout.aunit);
    PointPipeline pipe(config, traj, geoid, &beams, outputs);
    BinaryScanReader reader(*files.scan_binary, layout, window, console);
    const bool started = reader.start();
    return measurement_loop(reader, started, pipe);
  }
  PointPipeline pipe(config, traj, geoid, nullptr, outputs);
  FreeReader text(*files.scan_text);
  TextScanReader reader(text, window, console);
  reader.start();
  return measurement_loop(reader, true, pipe);
}

}  // namespace

void run(TextInput& deck, OutFile& console, const RunOptions& options) {
  RunPar par = read_deck(deck);
  check_options_for_mode(options, par.useatt);
  RunFiles files;
  open_files(par, files);
  derive_times(par);
  print_opening_report(par, console);
  if (options.rigorous && !par.useatt)
    console.free_line({"*** profile mode: --rigorous changes nothing"});

  par.usegeoid = !is_no_file(par.geoidname);
  std::unique_ptr<GeoidGrid> geoid;
  if (par.usegeoid) geoid = load_geoid_phase(par, console);

  TrajectoryTable traj;
  load_trajectory_phase(par, files, traj, console);

  const LoopResult result = scanner_phase(par, options, files, traj, geoid.get(), console);
  print_summary(par, result.nscans, result.stats, result.sums, console);
  files.points.close();
  files.centre.close();
  files.cal.close();
}

namespace {

int usage_error(const char* message) {
  std::fprintf(stderr, "beamfall: %s\nTry 'beamfall --help' for more information.\n", message);
  return 2;
}

}  // namespace

int run_program(std::span<const char* const> args) {
  ParsedOptions parsed;
  try {
    parsed = parse_options(args);
  } catch (const UsageError& e) {
    return usage_error(e.what());
  }
  if (parsed.action == OptionAction::help) return std::fputs(usage_text(), stdout) < 0 ? 1 : 0;
  if (parsed.action == OptionAction::version)
    return std::fputs(version_text().c_str(), stdout) < 0 ? 1 : 0;
  // A file size limit must fail the write (EFBIG, reported like a full disk),
  // not kill the process without a word.
  std::signal(SIGXFSZ, SIG_IGN);
  OutFile console;
  console.attach(STDOUT_FILENO, "standard output", 1 << 16);
  TextInput deck(STDIN_FILENO, "standard input");
  try {
    run(deck, console, parsed.options);
    console.close();
    return 0;
  } catch (const UsageError& e) {
    return usage_error(e.what());
  } catch (const Stop& s) {
    try {
      console.free_line({s.what()});
      console.close();
    } catch (const Stop&) {
      // standard output itself failed: nothing more can be said
    }
    return 1;
  }
}

}  // namespace bf

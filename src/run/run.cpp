#include "run/run.hpp"

#include <unistd.h>

#include <csignal>

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
  if (started) pipe.run_loop(reader, m);
  return LoopResult{reader.timing().nscans, pipe.stats(), pipe.cross_sums()};
}

LoopResult scanner_phase(const RunPar& par, RunFiles& files, const TrajectoryTable& traj,
                         const GeoidGrid* geoid, OutFile& console) {
  console.free_line({});
  console.free_line({"Reading scanner data from: ", par.scanname});
  const ScanWindow window{par.t0, par.tstart, par.tend, par.nthin};
  PointPipeline::Outputs outputs{par.wrtpts ? &files.points : nullptr, &files.centre,
                                 par.calib ? &files.cal : nullptr, &console};
  if (par.bin2dd) {
    const ScanLayout layout = readhdr(*files.scan_binary, console);
    const BeamTable beams(layout.aunit);
    PointPipeline pipe(pipeline_config(par), traj, geoid, &beams, outputs);
    BinaryScanReader reader(*files.scan_binary, layout, window, console);
    const bool started = reader.start();
    return measurement_loop(reader, started, pipe);
  }
  PointPipeline pipe(pipeline_config(par), traj, geoid, nullptr, outputs);
  FreeReader text(*files.scan_text);
  TextScanReader reader(text, window, console);
  reader.start();
  return measurement_loop(reader, true, pipe);
}

}  // namespace

void run(TextInput& deck, OutFile& console) {
  RunPar par = read_deck(deck);
  RunFiles files;
  open_files(par, files);
  derive_times(par);
  print_opening_report(par, console);

  par.usegeoid = !is_no_file(par.geoidname);
  std::unique_ptr<GeoidGrid> geoid;
  if (par.usegeoid) geoid = load_geoid_phase(par, console);

  TrajectoryTable traj;
  load_trajectory_phase(par, files, traj, console);

  const LoopResult result = scanner_phase(par, files, traj, geoid.get(), console);
  print_summary(par, result.nscans, result.stats, result.sums, console);
  files.points.close();
  files.centre.close();
  files.cal.close();
}

int run_program() {
  // A file size limit must fail the write (EFBIG, reported like a full disk),
  // not kill the process without a word.
  std::signal(SIGXFSZ, SIG_IGN);
  OutFile console;
  console.attach(STDOUT_FILENO, "standard output", 1 << 16);
  TextInput deck(STDIN_FILENO, "standard input");
  try {
    run(deck, console);
    console.close();
    return 0;
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

#include "run/run.hpp"

#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "input/trajectory.hpp"
#include "run/deck.hpp"
#include "run/files.hpp"
#include "run/progress.hpp"
#include "run/report.hpp"
#include "run/session.hpp"
#include "textio/error.hpp"
#include "textio/interrupt.hpp"
#include "textio/wholefile.hpp"

namespace bf {
namespace {

// What every phase of a run works with.
struct RunContext {
  Session& session;
  const RunPar& par;
  RunFiles& files;
  OutFile& console;
  const RunOptions& options;
  LasCreationDate created;
  RunRecord* record;
};

void load_trajectory_phase(const RunContext& c) {
  c.session.load_trajectory(&c.console);
  if (c.record != nullptr) {
    c.record->ngps = c.session.trajectory().ngps;
    c.record->trajectory = c.session.trajectory_stats();
  }
}

// What the LAS file needs that the deck and the options give: the GPS time
// of the day t0 counts from, the CRS, the extra bytes; the scale and offset
// stay the default ones.
LasSetup las_setup_from_deck(const RunPar& par, const RunOptions& o, LasCreationDate created) {
  LasSetup s;
  s.gps_day_start = adjusted_gps_time_at_day_start(o.date->year, o.date->month, o.date->day,
                                                   o.time_scale == TimeScale::utc);
  s.line_id = o.line_id;
  s.with_gcount = par.naver > 1;
  s.with_sigma = o.noise.given();
  s.wkt = las_wkt(par.usegeoid ? file_name(par.geoidname) : std::string(), o.vertical_crs);
  s.created = created;
  return s;
}

// What the LAS file needs before its first point: the above, and the scale
// and offset from the trajectory's extent.
LasSetup las_setup(const RunPar& par, const RunOptions& o, const TrajectoryTable& traj,
                   LasCreationDate created) {
  LasSetup s = las_setup_from_deck(par, o, created);
  s.scale = choose_las_scale(traj);
  return s;
}

// The start of the reason a run with no usable input fails.
constexpr const char* kNoUsableInput = "*** no usable input: ";

std::string shortest_text(double v) {
  char text[32];
  const auto r = std::to_chars(text, text + sizeof text, v);
  return std::string(text, r.ptr);
}

// Why the trajectory places no measurement, or empty when it has a sample.
std::string trajectory_unusable(const RunPar& par, const TrajectoryTable& traj) {
  if (traj.ngps > 0) return {};
  const std::string file = "trajectory file " + quoted(file_name(par.gpsname));
  if (traj.nread == 0) return kNoUsableInput + file + " holds no sample";
  return kNoUsableInput + file + " holds no sample in the time window " +
         shortest_text(par.tstart) + " .. " + shortest_text(par.tend) + " h";
}

// Why the scanner file gives no measurement, or empty when it gives one.
std::string scanner_unusable(const RunPar& par, bool any_measurement) {
  if (any_measurement) return {};
  const std::string file = "scanner file " + quoted(file_name(par.scanname));
  if (par.bin2dd) return kNoUsableInput + file + " holds no measurement after its header";
  return kNoUsableInput + file + " holds no measurement of the text form that bin2dd F names";
}

// Called once the inputs are read as far as the first measurement: creates
// the outputs, or with no usable input leaves every output as it was and
// returns the reason. Lets the report go that was held until then; when an
// output can't be created, the report's only line is that error, as it is
// for an output refused before the inputs are read.
std::string prepare_outputs(const RunContext& c, const TrajectoryTable& traj,
                            bool any_measurement) {
  std::string reason = trajectory_unusable(c.par, traj);
  if (reason.empty()) reason = scanner_unusable(c.par, any_measurement);
  if (reason.empty()) {
    if (c.record != nullptr) c.record->outputs_written = true;
    try {
      create_outputs(c.par, c.files, c.options);
    } catch (...) {
      c.console.drop_held();
      throw;
    }
    if (c.files.las.is_open()) c.files.las.begin(las_setup(c.par, c.options, traj, c.created));
  }
  c.console.release();
  return reason;
}

// The outputs the pipeline writes: those created. A run with no usable input
// created none, and its loop writes none: it has no measurement, or no
// trajectory sample to place one (PointPipeline::process_as).
PointPipeline::Outputs pipeline_outputs(const RunContext& c) {
  RunFiles& f = c.files;
  return PointPipeline::Outputs{f.points.is_open() ? &f.points : nullptr, &f.centre,
                                f.cal.is_open() ? &f.cal : nullptr, &c.console,
                                f.las.is_open() ? &f.las : nullptr};
}

// The scanner data: the header or the first record read before the outputs
// are created, then the measurement loop. `unusable`: why the run has no
// usable input, or empty.
SummaryFigures scanner_phase(const RunContext& c, std::string& unusable) {
  c.console.free_line({});
  c.console.free_line({"Reading scanner data from: ", c.par.scanname});
  Progress progress(c.options.progress, file_name(c.par.scanname));
  const bool any_measurement = c.session.open_scanner(&c.console);
  unusable = prepare_outputs(c, c.session.trajectory(), any_measurement);
  return c.session.write_points(pipeline_outputs(c), progress);
}

// The creation day of a LAS file: SOURCE_DATE_EPOCH when set (reproducible
// files), else today.
LasCreationDate las_creation_day() {
  const char* epoch = std::getenv("SOURCE_DATE_EPOCH");
  if (epoch == nullptr || *epoch == '\0') return las_creation_date(std::time(nullptr));
  char* end = nullptr;
  errno = 0;
  const long long seconds = std::strtoll(epoch, &end, 10);
  if (*end != '\0' || errno != 0 || seconds < 0)
    stop("*** SOURCE_DATE_EPOCH is not a number of seconds: '" + std::string(epoch) + "'");
  return las_creation_date(seconds);
}

// The points beyond the LAS file's coordinate range, on standard error.
void report_las_left_out(const LasWriter& las) {
  if (las.points_left_out() > 0)
    std::fprintf(stderr,
                 "beamfall: %llu of the points lay beyond the coordinate range of %s and were left "
                 "out of it\n",
                 static_cast<unsigned long long>(las.points_left_out()), las.name().c_str());
}

// The phases in order; returns why the run had no usable input, or empty.
std::string run_phases(const RunContext& c) {
  const RunPar& par = c.par;
  print_opening_report(par, c.console);
  if (c.options.rigorous && !par.useatt)
    c.console.free_line({"*** profile mode: --rigorous changes nothing"});
  if (c.options.boresight && !par.useatt)
    c.console.free_line({"*** profile mode: --boresight changes nothing"});

  c.session.load_geoid(&c.console);
  load_trajectory_phase(c);

  std::string unusable;
  const SummaryFigures result = scanner_phase(c, unusable);
  if (c.record != nullptr) c.record->summary = result;
  print_summary(par, result.nscans, result.stats, result.sums, c.console);
  return unusable;
}

// Every output created closed after a stop, each ending with its last whole
// record. A LAS file created but stopped before its header was begun still
// gets one (with the default scale and offset) and its VLRs: a valid file with
// no points. Failures go to `console` when one is given.
void close_after_stop(const RunPar& par, const RunOptions& options, LasCreationDate created,
                      RunFiles& files, OutFile* console) {
  if (files.las.is_open() && !files.las.begun()) {
    try {
      files.las.begin(las_setup_from_deck(par, options, created));
    } catch (const Stop& s) {
      if (console != nullptr) console->free_line({s.what()});
    }
  }
  close_outputs_after_stop(files, console);
  report_las_left_out(files.las);
}

}  // namespace

void run(TextInput& deck, OutFile& console, const RunOptions& options, RunRecord* record) {
  RunPar par;
  try {
    read_deck(deck, par);
  } catch (const Stop&) {
    if (record != nullptr) record->deck = par;
    throw;
  }
  if (record != nullptr) {
    record->deck = par;
    record->deck_read = true;
  }
  Session session(finish_parameters(par, options));
  const RunPar& finished = session.parameters().par;
  const LasCreationDate created = options.las_file.empty() ? LasCreationDate{} : las_creation_day();
  check_file_clashes(finished, options, StandardStreams{deck.fd(), console.fd()});
  session.open_inputs();
  check_outputs_creatable(finished, options);
  RunFiles files;
  // Held until the outputs are created (prepare_outputs).
  console.hold();
  const RunContext context{session, finished, files, console, options, created, record};
  std::string unusable;
  try {
    unusable = run_phases(context);
  } catch (const Interrupted&) {
    close_after_stop(finished, options, created, files, &console);
    throw;
  } catch (const Stop&) {
    close_after_stop(finished, options, created, files, nullptr);
    throw;
  }
  close_outputs(files);
  report_las_left_out(files.las);
  if (record != nullptr && session.parameters().noise && files.las.begun())
    record->sigma = SigmaRecord{{files.las.sigma_histogram(0), files.las.sigma_histogram(1)},
                                session.parameters().noise->sensor.bore};
  if (!unusable.empty()) throw NoUsableInput(unusable);
}

namespace {

int usage_error(const char* message) {
  std::fprintf(stderr, "beamfall: %s\nTry 'beamfall --help' for more information.\n", message);
  return 2;
}

// The last line of the report after a stop; standard output may itself have
// failed, and then nothing more can be said.
void final_line(OutFile& console, const char* line) {
  try {
    console.free_line({line});
    console.close();
  } catch (const Stop&) {
  }
}

// --list-files: the deck's files and values as JSON on standard output.
int list_files(const RunOptions& options) {
  TextInput deck(STDIN_FILENO, "standard input");
  RunPar par;
  try {
    read_deck(deck, par);
    check_options_for_mode(options, par.useatt);
  } catch (const UsageError& e) {
    return usage_error(e.what());
  } catch (const Stop& s) {
    std::fprintf(stderr, "beamfall: %s\n", s.what());
    return 1;
  }
  const std::string text = list_files_json(par, options);
  const bool written = std::fwrite(text.data(), 1, text.size(), stdout) == text.size();
  return written && std::fflush(stdout) == 0 ? 0 : 1;
}

// A stop, told on standard error too: the report may be in a file.
void tell(const char* message) {
  std::fprintf(stderr, "beamfall: %s\n", message);
}

// The run with its report; how it ended.
RunOutcome run_with_report(TextInput& deck, OutFile& console, const RunOptions& options,
                           WholeFile& manifest, RunRecord& record) {
  try {
    // Opened first, so that a manifest that can't be written stops the run
    // before any work.
    if (!options.manifest.empty()) manifest.open(options.manifest);
    std::string unusable;
    try {
      run(deck, console, options, &record);
    } catch (const NoUsableInput& n) {
      unusable = n.what();
    }
    // A signal during the summary still ends the run as interrupted.
    check_interrupt();
    console.close();
    if (unusable.empty()) return RunOutcome{};
    // The report is whole; it does not say the run failed.
    tell(unusable.c_str());
    return RunOutcome{1, unusable, 0};
  } catch (const UsageError& e) {
    return RunOutcome{usage_error(e.what()), {}, 0};
  } catch (const ReportClash& c) {
    // Standard output is one of the run's files: not a byte goes to it.
    tell(c.what());
    return RunOutcome{1, c.what(), 0};
  } catch (const Interrupted& i) {
    final_line(console, i.what());
    tell(i.what());
    return RunOutcome{128 + i.signal(), i.what(), i.signal()};
  } catch (const Stop& s) {
    final_line(console, s.what());
    tell(s.what());
    return RunOutcome{1, s.what(), 0};
  }
}

// Puts the manifest in place unless it would overwrite one of the run's
// files; returns the exit status, 1 when a manifest due was not written.
int finish_manifest(const ManifestRun& m, WholeFile& manifest, StandardStreams streams) {
  if (!manifest.is_open()) return m.outcome.status == 0 ? 1 : m.outcome.status;
  if (const auto clash = manifest_clash(m.record.deck, m.options, streams)) {
    std::fprintf(stderr, "beamfall: manifest not written: %s\n", clash->c_str());
    return m.outcome.status == 0 ? 1 : m.outcome.status;
  }
  try {
    manifest.commit(manifest_json(m));
  } catch (const Stop& s) {
    std::fprintf(stderr, "beamfall: %s\n", s.what());
    return m.outcome.status == 0 ? 1 : m.outcome.status;
  }
  return m.outcome.status;
}

}  // namespace

int run_program(std::span<const char* const> args) {
  const auto started = std::chrono::steady_clock::now();
  ParsedOptions parsed;
  try {
    parsed = parse_options(args);
  } catch (const UsageError& e) {
    return usage_error(e.what());
  }
  if (parsed.action == OptionAction::help) return std::fputs(usage_text(), stdout) < 0 ? 1 : 0;
  if (parsed.action == OptionAction::version)
    return std::fputs(version_text().c_str(), stdout) < 0 ? 1 : 0;
  if (parsed.action == OptionAction::list_files) return list_files(parsed.options);
  // A file size limit must fail the write (EFBIG, reported like a full disk),
  // not kill the process without a word.
  std::signal(SIGXFSZ, SIG_IGN);
  OutFile console;
  console.attach(STDOUT_FILENO, "standard output", 1 << 16);
  TextInput deck(STDIN_FILENO, "standard input");
  install_interrupt_handlers();
  WholeFile manifest;
  RunRecord record;
  const RunOutcome outcome = run_with_report(deck, console, parsed.options, manifest, record);
  if (parsed.options.manifest.empty() || outcome.status == 2) return outcome.status;
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - started;
  const ManifestRun m{args, parsed.options, record, outcome, elapsed.count()};
  return finish_manifest(m, manifest, StandardStreams{STDIN_FILENO, STDOUT_FILENO});
}

}  // namespace bf

// A run's session: its parameters finished from the deck and the options,
// and the phases of reading its inputs (the geoid grid, the trajectory, the
// scanner file's accepted measurements with the aircraft's state at each),
// each with its report lines or quiet. beamfall's run is its first client.
//
// This is the core's face for the tools. A tool includes from the core only
//   run/session.hpp                  this header: decks, parameters, files, phases
//   georef/sensor.hpp                the geolocation of one measurement
//   georef/wgs84.hpp                 the ellipsoid's constants
//   textio/error.hpp                 the error type and its wording
//   textio/wholefile.hpp             a file replaced whole, never half written
//   input/trajectory_writers.hpp     the trajectory files written by a converter
// and nothing else: the other headers are the core's own and change with it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "georef/geolocate.hpp"
#include "georef/interp.hpp"
#include "georef/tpu.hpp"
#include "input/geoid.hpp"
#include "input/measurement.hpp"
#include "run/options.hpp"
#include "run/runpar.hpp"
#include "textio/outfile.hpp"

namespace bf {

struct TrajectoryTable;
struct TrajectoryStats;
struct SummaryFigures;
struct PointOutputs;
class Progress;

// The noise model of a run: the navigation's sigmas, constant or read epoch by
// epoch from `sigma_trajectory` (a name as given; read with the trajectory),
// and the scanner's.
struct PointNoise {
  NavSigma nav;
  std::string sigma_trajectory;
  SensorNoise sensor;
};

// A run's parameters, finished: what the processing takes from the deck and
// from the options that change it. Later processing options join here.
struct RunParameters {
  // The deck's values with those derived at start: t0, tstart raised to t0,
  // usegeoid, wrtpts, calib only with a point file; roll0 as --roll0 gives it.
  RunPar par;
  bool rigorous = false;               // on the ellipsoid (attitude mode)
  std::optional<Boresight> boresight;  // the scanner's rotation from the body axes
  double range_offset = 0;             // metres added to every range as read
  // The noise model of each point's uncertainty (--sigma-*), the
  // calibration's covariance included; none without it.
  std::optional<PointNoise> noise;
  int threads = 1;                     // of the measurement loop (write_points)

  ScanWindow window() const { return {par.t0, par.tstart, par.tend, par.nthin}; }
  LeverArm lever_arm() const { return {par.dx, par.dy, par.dz}; }
  Misalignment misalignment() const { return {par.pitch0, par.roll0, par.heading0}; }
};

// The deck's values finished for a run with `options`: --calibration's file
// read and applied, then --boresight and --range-offset over it. Throws
// UsageError for an option that the deck's mode rules out (a LAS file in
// profile mode) and for a calibration file that can't be read or applied.
RunParameters finish_parameters(const RunPar& deck, const RunOptions& options = {});

// The deck in the file at `path`, read as beamfall reads standard input;
// Stop with beamfall's message ("*** input error: ...", "*** open error:
// ...") when it can't be.
RunPar read_deck_file(const std::string& path);

// The cores the process may use, at least 1: its CPU affinity within any
// cgroup CPU quota. beamfall's default for --threads.
int usable_cores();

// A value of one of beamfall's options ("--roll0", "0.05"), checked as
// beamfall's command line checks it: the message of the usage error it would
// give, or nothing when it takes the value.
std::optional<std::string> option_value_error(const std::string& option, const std::string& value);

// beamfall's options (the words after the program's name) taken together as a
// run in full geolocation mode takes them: the message of the usage error they
// give, or nothing.
std::optional<std::string> options_error(const std::vector<std::string>& words);

// A file the run reads or writes, as the deck or an option names it.
struct RunFileName {
  std::string role;   // scanner, trajectory, geoid, points, centre, cross_profiles, las, manifest
  std::string label;  // for messages: "name line 1 (scanner file)"
  std::string name;   // as given: a name field without its trailing blanks
  bool output = false;
};

// The files a run with this deck and these options reads and writes: the
// inputs, then the outputs in the order they are opened. Names the deck has
// not given yet (one cut short) are left out. Touches no file.
std::vector<RunFileName> run_file_names(const RunPar& par, const RunOptions& options = {});

// What a visitor is shown of each accepted measurement: the measurement as
// read (its range with the run's range offset added) and the aircraft's
// position and attitude at its time, the deck's misalignment angles added
// (not its speed).
using MeasurementVisitor = std::function<void(const Measurement&, const AircraftState&)>;
// The scanner file's bytes read so far and the measurements delivered so far.
using ScanProgress = std::function<void(std::int64_t bytes_read, std::int64_t measurements)>;

// The inputs of one run read in its phases, in this order: open_inputs,
// load_geoid, load_trajectory, open_scanner, then one pass over the
// measurements (for_each_measurement, or the run's write_points). Each phase
// opens or reads what an earlier one it needs has not, quietly. A phase that
// fails stops (Stop) with the core's message, naming the file as opened.
class Session {
 public:
  // `folder`: the directory the deck's relative file names are taken from;
  // empty: the working directory.
  explicit Session(RunParameters parameters, std::string folder = {});
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  const RunParameters& parameters() const;
  // The path an input name field (the deck's scanner, trajectory or geoid
  // name) is opened by: absolute as given, else in the folder.
  std::string input_path(const std::string& field) const;

  // Opens the scanner file and the trajectory file (open error: Stop).
  void open_inputs();
  // At most how many measurements the scanner file holds: its size over the bytes one
  // measurement takes in the binary form (a bound for sampling it); 0 when it can't be sized.
  std::int64_t measurements_at_most() const;

  // Each phase writes its report lines to `report`, or nowhere when null.
  // The geoid grid, when the deck names one.
  void load_geoid(OutFile* report);
  // Null without a geoid grid.
  const std::shared_ptr<const GeoidGrid>& geoid() const;

  // The trajectory over the time window, its spacing and speed statistics,
  // and the warning when no sample lies in the window.
  void load_trajectory(OutFile* report);
  const TrajectoryTable& trajectory() const;
  const TrajectoryStats& trajectory_stats() const;
  // The per-epoch sigmas of the noise model's sigma trajectory file, read
  // with the trajectory; empty without one.
  const std::vector<SigmaEpoch>& sigma_epochs() const;

  // Reads the scanner file as far as its first measurement: the binary
  // form's header, or the text form's first record. True when it holds a
  // measurement. `report` also takes the lines of the pass that follows.
  bool open_scanner(OutFile* report);

  // Visits every `stride`-th measurement the scanner file delivers in the
  // time window (after thinning) that passes the deck's rejection limits and
  // whose aircraft position lies in the area window, in file order, exactly
  // as the run applies them. `progress`, when given, is called every 65536
  // measurements delivered.
  void for_each_measurement(std::int64_t stride, const MeasurementVisitor& visit,
                            const ScanProgress& progress = {});

  // The run's pass: every accepted measurement geolocated and written to
  // `outputs`, on parameters().threads threads; returns the summary's
  // figures, the same for any number of threads. `progress` is drawn as it goes.
  SummaryFigures write_points(const PointOutputs& outputs, Progress& progress);

 private:
  void load_sigma_epochs();

  struct State;
  std::unique_ptr<State> s_;
};

}  // namespace bf

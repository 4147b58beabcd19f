#include "run/session.hpp"

#include <filesystem>
#include <system_error>

#include "input/scanfile.hpp"
#include "input/scanrec.hpp"
#include "input/sigma_trajectory.hpp"
#include "input/trajectory.hpp"
#include "pipeline/gate.hpp"
#include "pipeline/pipeline.hpp"
#include "run/calibration.hpp"
#include "run/cores.hpp"
#include "run/deck.hpp"
#include "run/manifest.hpp"
#include "run/progress.hpp"
#include "textio/error.hpp"
#include "textio/freeread.hpp"
#include "textio/infile.hpp"

namespace bf {

namespace {

// The calibration's values where the options give none; a parameter it could
// not see is refused unless they give it.
void apply_calibration(const CalibrationValues& c, const RunOptions& options, RunParameters& p) {
  const std::string& file = options.calibration;
  auto need = [&](int k, const char* option) {
    if (!c.observable[k])
      throw UsageError("--calibration " + file + ": " + kCalibrationNames[k] +
                       " is not observable (" + c.reason[k] + "): give it with " + option);
  };
  if (!options.boresight) {
    for (int k : {kCalRoll, kCalPitch, kCalHeading})
      need(k, "--boresight");
    p.boresight = Boresight{c.value[kCalRoll], c.value[kCalPitch], c.value[kCalHeading]};
  }
  if (!options.range_offset_given) {
    need(kCalRangeOffset, "--range-offset");
    p.range_offset = c.value[kCalRangeOffset];
  }
}

// The calibration's covariance of the parameters it gave the run (radians
// and metres); the options' values come with no standard error.
BoresightCovariance calibration_covariance(const CalibrationValues& c, const RunOptions& options) {
  BoresightCovariance b;
  std::array<double, kCalParameters> sigma{};
  for (int k = 0; k < kCalParameters; ++k) {
    const bool from_file = k == kCalRangeOffset ? !options.range_offset_given : !options.boresight;
    sigma[k] = from_file ? c.sigma[k] * (k == kCalRangeOffset ? 1 : kDegToRad) : 0;
  }
  for (int i = 0; i < kCalParameters; ++i)
    for (int j = 0; j < kCalParameters; ++j)
      b.c[i][j] = c.correlation[i][j] * sigma[i] * sigma[j];
  b.given = true;
  return b;
}

PointNoise point_noise(const NoiseOptions& n, const std::optional<Boresight>& boresight) {
  PointNoise p;
  if (n.position) p.nav.n = p.nav.e = (*n.position)[0], p.nav.d = (*n.position)[1];
  if (n.attitude) {
    p.nav.roll = (*n.attitude)[0] * kDegToRad;
    p.nav.pitch = (*n.attitude)[1] * kDegToRad;
    p.nav.heading = (*n.attitude)[2] * kDegToRad;
  }
  p.sigma_trajectory = n.trajectory;
  SensorNoise s;
  s.range = n.range.value_or(0);
  s.angle = n.angle.value_or(0) * kGonToRad;
  s.lever = n.lever.value_or(0);
  s.divergence = n.divergence.value_or(0) * 1e-3;
  p.sensor = sensor_noise_axes(s, boresight ? &*boresight : nullptr);
  return p;
}

}  // namespace

RunParameters finish_parameters(const RunPar& deck, const RunOptions& options) {
  RunParameters p;
  p.par = deck;
  RunPar& par = p.par;
  if (options.roll0) par.roll0 = *options.roll0;
  par.usegeoid = !is_no_file(par.geoidname);
  check_options_for_mode(options, par.useatt);
  par.wrtpts = !is_no_file(par.ptname);
  if (!par.wrtpts) par.calib = false;
  derive_times(par);
  p.rigorous = options.rigorous;
  p.boresight = options.boresight;
  p.range_offset = options.range_offset;
  std::optional<CalibrationValues> calibration;
  if (!options.calibration.empty()) {
    calibration = read_calibration(options.calibration);
    apply_calibration(*calibration, options, p);
  }
  if (options.noise.given()) {
    p.noise = point_noise(options.noise, p.boresight);
    if (calibration) p.noise->sensor.bore = calibration_covariance(*calibration, options);
  }
  p.threads = options.threads > 0 ? options.threads : usable_cores();
  return p;
}

RunPar read_deck_file(const std::string& path) {
  TextInput in(open_for_reading(path), path);
  return read_deck(in);
}

std::optional<std::string> option_value_error(const std::string& option, const std::string& value) {
  const char* const words[] = {option.c_str(), value.c_str()};
  try {
    parse_options(words);
  } catch (const UsageError& e) {
    return std::string(e.what());
  }
  return std::nullopt;
}

std::optional<std::string> options_error(const std::vector<std::string>& words) {
  std::vector<const char*> args;
  for (const std::string& w : words)
    args.push_back(w.c_str());
  try {
    check_options_for_mode(parse_options(args).options, true);
  } catch (const UsageError& e) {
    return std::string(e.what());
  }
  return std::nullopt;
}

struct Session::State {
  RunParameters parameters;
  std::string folder;
  OutFile quiet;  // the report of a quiet phase

  std::unique_ptr<BinaryInput> scan_binary;  // when bin2dd
  std::unique_ptr<TextInput> scan_text;      // otherwise
  std::unique_ptr<TextInput> trajectory_file;

  std::shared_ptr<const GeoidGrid> geoid;
  std::unique_ptr<TrajectoryTable> traj;
  TrajectoryStats traj_stats;
  std::vector<SigmaEpoch> sigma_epochs;

  bool scanner_open = false;
  OutFile* scan_report = nullptr;  // where the scanner's lines go
  ScanLayout layout;               // binary form
  std::unique_ptr<FreeReader> text_fields;
  std::unique_ptr<TextScanReader> text_reader;

  OutFile& report(OutFile* given) { return given != nullptr ? *given : quiet; }
};

Session::Session(RunParameters parameters, std::string folder) : s_(std::make_unique<State>()) {
  s_->parameters = std::move(parameters);
  s_->folder = std::move(folder);
  s_->quiet.discard();
}

Session::~Session() = default;

const RunParameters& Session::parameters() const {
  return s_->parameters;
}

std::string Session::input_path(const std::string& field) const {
  const std::string name = file_name(field);
  if (s_->folder.empty() || name.empty() || name.front() == '/') return name;
  return s_->folder + (s_->folder.back() == '/' ? "" : "/") + name;
}

void Session::open_inputs() {
  State& s = *s_;
  const RunPar& par = s.parameters.par;
  if (!s.scan_binary && !s.scan_text) {
    const std::string scanner = input_path(par.scanname);
    const int fd = open_for_reading(scanner);
    if (par.bin2dd) {
      s.scan_binary = std::make_unique<BinaryInput>(fd, scanner);
    } else {
      s.scan_text = std::make_unique<TextInput>(fd, scanner);
    }
  }
  if (!s.trajectory_file && !s.traj) {
    const std::string trajectory = input_path(par.gpsname);
    s.trajectory_file = std::make_unique<TextInput>(open_for_reading(trajectory), trajectory);
  }
}

std::int64_t Session::measurements_at_most() const {
  std::error_code error;
  const auto bytes = std::filesystem::file_size(input_path(s_->parameters.par.scanname), error);
  return error ? 0 : static_cast<std::int64_t>(bytes) / kMeasBytes;
}

void Session::load_geoid(OutFile* report) {
  if (!s_->parameters.par.usegeoid) return;
  const std::string name = input_path(s_->parameters.par.geoidname);
  TextInput in(open_for_reading(name), name);
  FreeReader reader(in);
  auto grid = std::make_shared<GeoidGrid>();
  bf::load_geoid(reader, ("geoid grid file " + quoted(name)).c_str(), *grid, s_->report(report));
  s_->geoid = std::move(grid);
}

const std::shared_ptr<const GeoidGrid>& Session::geoid() const {
  return s_->geoid;
}

void Session::load_trajectory(OutFile* report) {
  State& s = *s_;
  if (s.traj) return;
  const RunPar& par = s.parameters.par;
  open_inputs();
  FreeReader reader(*s.trajectory_file);
  const std::string source = "trajectory file " + quoted(input_path(par.gpsname));
  s.traj = std::make_unique<TrajectoryTable>();
  bf::load_trajectory(reader, source.c_str(), par.tstart, par.tend, par.gpsatt, *s.traj);
  s.trajectory_file->close();
  s.trajectory_file.reset();
  s.traj_stats = compute_speeds(*s.traj);
  OutFile& out = s.report(report);
  report_trajectory(out, s.traj->ngps, s.traj_stats);
  if (s.traj->ngps == 0) out.free_line({"*** warning: no trajectory data in the time window"});
  load_sigma_epochs();
}

void Session::load_sigma_epochs() {
  State& s = *s_;
  const auto& noise = s.parameters.noise;
  if (!noise || noise->sigma_trajectory.empty() || !s.sigma_epochs.empty()) return;
  const std::string name = noise->sigma_trajectory;
  TextInput in(open_for_reading(name), name);
  FreeReader reader(in);
  s.sigma_epochs = load_sigma_trajectory(reader, "sigma trajectory file " + quoted(name));
}

const std::vector<SigmaEpoch>& Session::sigma_epochs() const {
  return s_->sigma_epochs;
}

const TrajectoryTable& Session::trajectory() const {
  return *s_->traj;
}

const TrajectoryStats& Session::trajectory_stats() const {
  return s_->traj_stats;
}

bool Session::open_scanner(OutFile* report) {
  State& s = *s_;
  open_inputs();
  s.scan_report = &s.report(report);
  s.scanner_open = true;
  if (s.parameters.par.bin2dd) {
    s.layout = readhdr(*s.scan_binary, *s.scan_report);
    return holds_measurement(*s.scan_binary, s.layout);
  }
  s.text_fields = std::make_unique<FreeReader>(*s.scan_text);
  s.text_reader = std::make_unique<TextScanReader>(*s.text_fields, s.parameters.window(),
                                                   *s.scan_report, s.parameters.range_offset);
  s.text_reader->start();
  return s.text_reader->read_ahead();
}

namespace {

GateLimits gate_limits(const RunParameters& p) {
  const RunPar& d = p.par;
  return GateLimits{.latmin = d.latmin,
                    .latmax = d.latmax,
                    .lonmin = d.lonmin,
                    .lonmax = d.lonmax,
                    .amin = d.amin,
                    .ilo = d.ilo,
                    .ihi = d.ihi,
                    .rmin = d.rmin,
                    .mis = p.misalignment()};
}

PipelineConfig pipeline_config(const RunParameters& p, std::span<const SigmaEpoch> epochs) {
  const RunPar& d = p.par;
  PipelineConfig c{.naver = d.naver,
                   .wrtpts = d.wrtpts,
                   .binout = d.binout,
                   .calib = d.calib,
                   .useatt = d.useatt,
                   .rigorous = p.rigorous,
                   .arm = p.lever_arm(),
                   .boresight = p.boresight,
                   .noise = std::nullopt};
  if (p.noise) c.noise = PipelineNoise{p.noise->nav, epochs, p.noise->sensor};
  return c;
}

// The loop's tick: the scanner file's bytes read and the measurements so
// far, to a progress display.
template <class Input, class Show>
struct ProgressTick {
  const Input* input;
  Show* show;

  LoopTick every(std::int64_t stride) {
    LoopTick tick;
    tick.stride = stride;
    tick.ctx = this;
    tick.fn = [](void* ctx, std::int64_t n) {
      const auto* t = static_cast<const ProgressTick*>(ctx);
      (*t->show)(t->input->bytes_read(), n);
    };
    return tick;
  }
};

constexpr std::int64_t kVisitorProgressStride = 1 << 16;

}  // namespace

void Session::for_each_measurement(std::int64_t stride, const MeasurementVisitor& visit,
                                   const ScanProgress& progress) {
  State& s = *s_;
  if (!s.traj) load_trajectory(nullptr);
  if (!s.scanner_open) open_scanner(nullptr);
  MeasurementGate gate(gate_limits(s.parameters), *s.traj);
  const auto take = [&visit](Measurement& m, const AircraftState& a, const TrajectoryPlace&) {
    visit(m, a);
  };
  auto show = [&progress](std::int64_t bytes, std::int64_t n) { progress(bytes, n); };
  Measurement m;
  if (s.parameters.par.bin2dd) {
    ProgressTick<BinaryInput, decltype(show)> ticks{s.scan_binary.get(), &show};
    const LoopTick tick = progress ? ticks.every(kVisitorProgressStride) : LoopTick{};
    BinaryScanReader reader(*s.scan_binary, s.layout, s.parameters.window(), *s.scan_report,
                            s.parameters.range_offset);
    if (reader.start()) gate.for_each_nth(reader, stride, m, take, tick);
    return;
  }
  ProgressTick<TextInput, decltype(show)> ticks{s.scan_text.get(), &show};
  const LoopTick tick = progress ? ticks.every(kVisitorProgressStride) : LoopTick{};
  gate.for_each_nth(*s.text_reader, stride, m, take, tick);
}

namespace {

// Redirects a reader's report lines into a held buffer for the loop on
// threads, and back when it ends.
template <class Reader>
class ReaderLinesHeld {
 public:
  explicit ReaderLinesHeld(Reader& reader) : reader_(reader), report_(reader.report()) {
    held_.discard();
    held_.hold();
    reader_.report_to(held_);
  }
  ~ReaderLinesHeld() { reader_.report_to(report_); }
  ReaderLinesHeld(const ReaderLinesHeld&) = delete;
  ReaderLinesHeld& operator=(const ReaderLinesHeld&) = delete;
  OutFile& held() { return held_; }

 private:
  Reader& reader_;
  OutFile& report_;
  OutFile held_;
};

template <class Reader>
void run_pipeline(Reader& reader, PointPipeline& pipe, MeasurementGate& gate, int threads,
                  const LoopTick& tick) {
  Measurement m;
  if (threads <= 1) {
    pipe.run_loop(reader, gate, m, tick);
    return;
  }
  ReaderLinesHeld<Reader> lines(reader);
  pipe.run_blocks(reader, gate, m, BlockRun{threads, &lines.held()}, tick);
}

template <class Reader>
SummaryFigures pipeline_pass(Reader& reader, bool started, PointPipeline& pipe,
                             MeasurementGate& gate, int threads, const LoopTick& tick,
                             Progress& progress) {
  if (started) run_pipeline(reader, pipe, gate, threads, tick);
  progress.clear();
  SummaryFigures f{reader.timing().nscans, reader.timing().nskip, gate.stats(), pipe.cross_sums()};
  f.stats.npout = pipe.points_out();
  return f;
}

}  // namespace

SummaryFigures Session::write_points(const PointOutputs& outputs, Progress& progress) {
  State& s = *s_;
  const RunParameters& p = s.parameters;
  const PipelineConfig config = pipeline_config(p, s.sigma_epochs);
  MeasurementGate gate(gate_limits(p), *s.traj);
  auto show = [&progress](std::int64_t bytes, std::int64_t n) { progress.update(bytes, n); };
  if (p.par.bin2dd) {
    ProgressTick<BinaryInput, decltype(show)> ticks{s.scan_binary.get(), &show};
    const LoopTick tick = progress.active() ? ticks.every(Progress::kStride) : LoopTick{};
    const BeamTable beams(s.layout.aunit, p.boresight);
    PointPipeline pipe(config, *s.traj, s.geoid.get(), &beams, outputs);
    BinaryScanReader reader(*s.scan_binary, s.layout, p.window(), *s.scan_report, p.range_offset);
    const bool started = reader.start();
    return pipeline_pass(reader, started, pipe, gate, p.threads, tick, progress);
  }
  ProgressTick<TextInput, decltype(show)> ticks{s.scan_text.get(), &show};
  const LoopTick tick = progress.active() ? ticks.every(Progress::kStride) : LoopTick{};
  PointPipeline pipe(config, *s.traj, s.geoid.get(), nullptr, outputs);
  return pipeline_pass(*s.text_reader, true, pipe, gate, p.threads, tick, progress);
}

}  // namespace bf

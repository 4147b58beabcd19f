// The per-measurement pipeline after the gate: geolocation, averaging, the
// point file, then the centre track and the cross profiles.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>

#include "georef/geolocate.hpp"
#include "georef/interp.hpp"
#include "georef/rigorous.hpp"
#include "georef/tpu.hpp"
#include "input/geoid.hpp"
#include "input/measurement.hpp"
#include "input/trajectory.hpp"
#include "output/calib.hpp"
#include "output/centre.hpp"
#include "output/las.hpp"
#include "output/points.hpp"
#include "pipeline/gate.hpp"
#include "textio/outfile.hpp"

namespace bf {

// Each point's uncertainty: the navigation's sigmas, constant or per epoch
// (`epochs`, when not empty), and the scanner's.
struct PipelineNoise {
  NavSigma nav;
  std::span<const SigmaEpoch> epochs;
  SensorNoise sensor;

  NavSigma nav_at(double thr) const { return epochs.empty() ? nav : nav_sigma_at(epochs, thr); }
};

// How the pipeline geolocates and writes the measurements the gate accepts.
struct PipelineConfig {
  std::int32_t naver = 0;  // averaging span; 1 or less: none
  bool wrtpts = false, binout = false, calib = false, useatt = false;
  bool rigorous = false;  // with useatt: points on the ellipsoid
  LeverArm arm;
  std::optional<Boresight> boresight;  // full geolocation: the scanner's rotation
  std::optional<PipelineNoise> noise;  // full geolocation with a LAS file: each point's sigmas
};

// The beam and the tan of its scan angle for every angle count of the binary
// form (counts are reduced mod 10000), computed exactly as for a single beam,
// turned by the boresight when one is given.
class BeamTable {
 public:
  explicit BeamTable(double aunit, const std::optional<Boresight>& boresight = std::nullopt);
  const Beam& operator[](std::int32_t count) const { return beams_[count]; }
  double tan(std::int32_t count) const { return tans_[count]; }

 private:
  std::unique_ptr<Beam[]> beams_;
  std::unique_ptr<double[]> tans_;
};

// How points are written: not at all, as binary records or as text lines.
enum class PointFormat { none, binary, text };

// Whether a LAS file is written, and with each point's sigmas.
enum class LasMode { none, plain, sigma };

// How points are geolocated: profile mode (no attitude), the flat-earth
// rotation, or on the ellipsoid.
enum class Geometry { profile, flat, rigorous };

// What geolocation carries from one measurement to the next. Each cache
// gives the same bits whatever it held before, except the sines and
// cosines, which depend on the angles evaluated before them: a block of
// measurements geolocated apart starts from the state that the ones before
// it left (AttitudeTrigCache::follow).
struct LocateCaches {
  AttitudeTrigCache trig;
  std::optional<SeriesTermsTrack> series;  // rigorous mode
  std::optional<GeoidLookup> geoid;
};

// A measurement geolocated, before averaging.
struct LocatedPoint {
  SurfacePoint sp;
  double xdist = 0;  // rigorous mode: the offset across the heading, metres
  PointSigma sigma;  // with the noise model: the point's sigmas
};

// How the measurement loop runs on threads: their number (2 or more), and
// where the scanner reader writes its report lines meanwhile (an OutFile
// holding them, see OutFile::hold) so that they take their place among the
// pipeline's own lines in the order of the file.
struct BlockRun {
  int threads = 2;
  OutFile* reader_lines = nullptr;
};

// The files a pipeline writes.
struct PointOutputs {
  OutFile* points = nullptr;  // null when no point file is written
  OutFile* centre = nullptr;
  OutFile* cal = nullptr;  // null unless cross profiles are wanted
  OutFile* console = nullptr;
  LasWriter* las = nullptr;  // null unless a LAS file is written
};

class PointPipeline {
 public:
  using Outputs = PointOutputs;

  PointPipeline(const PipelineConfig& cfg, const TrajectoryTable& traj, const GeoidGrid* geoid,
                const BeamTable* beams, Outputs out);

  // One measurement the gate accepted, with the aircraft's state `s` and the
  // place in the trajectory table the gate found for it; nscans: the scans
  // read so far. Lowers m.newscan when it opens an averaging group.
  void process(Measurement& m, const AircraftState& s, const TrajectoryPlace& place,
               std::int64_t nscans);

  // The measurement loop: every measurement `reader` delivers, into m,
  // through `gate`, and those it accepts on into the files. The settings
  // that never change during a run (attitude or profile mode, geoid, point
  // format, LAS file) are fixed at compile time, so the loop does not test
  // them. `tick` is called every tick.stride measurements (a progress display).
  template <class Reader>
  void run_loop(Reader& reader, MeasurementGate& gate, Measurement& m, const LoopTick& tick = {});

  // The same loop on run.threads threads, every output byte as run_loop's.
  // This thread reads and gates the measurements into blocks of a few
  // thousand; the blocks are geolocated and their points formatted on the
  // threads; this thread then writes them in order with all that depends on
  // the order (averaging, the centre track, the console, the regression's
  // sums). A stop of the reader (an interrupt, a read error) first writes out
  // every measurement delivered before it, as run_loop has.
  template <class Reader>
  void run_blocks(Reader& reader, MeasurementGate& gate, Measurement& m, const BlockRun& run,
                  const LoopTick& tick = {});

  std::int64_t points_out() const { return npout_; }
  const CrossSums& cross_sums() const { return sums_; }

 private:
  // Inlined into the loop, as the gate's test before it is: a call between
  // them would hand the aircraft's state over through memory.
  template <Geometry G, bool Geoid, PointFormat Format, LasMode Las>
  [[gnu::always_inline]] inline void process_as(Measurement& m, const AircraftState& s,
                                                const TrajectoryPlace& place, std::int64_t nscans);
  // process_as as a function of its own, whose address process() can take.
  template <Geometry G, bool Geoid, PointFormat Format, LasMode Las>
  void process_one(Measurement& m, const AircraftState& s, const TrajectoryPlace& place,
                   std::int64_t nscans);
  template <class Reader, Geometry G, bool Geoid, PointFormat Format, LasMode Las>
  void loop_as(Reader& reader, MeasurementGate& gate, Measurement& m, const LoopTick& tick);
  PointFormat format() const;
  template <Geometry G, bool Geoid, PointFormat Format, LasMode Las>
  struct ProcessPick;
  template <class Reader>
  struct LoopPick {
    template <Geometry G, bool Geoid, PointFormat Format, LasMode Las>
    struct With;
  };
  template <class Reader>
  struct BlocksPick {
    template <Geometry G, bool Geoid, PointFormat Format, LasMode Las>
    struct With;
  };

  // One measurement geolocated with the caches `c`, with its sigmas (Sigma).
  template <Geometry G, bool Geoid, bool Sigma>
  [[gnu::always_inline]] inline LocatedPoint locate(const Measurement& m, const AircraftState& s,
                                                    const TrajectoryPlace& place,
                                                    LocateCaches& c) const;
  // The cross-profile distance of point p: tan(scanang) * h_a, or xdist as
  // geolocation gave it (rigorous mode); 0 without cross profiles.
  template <Geometry G>
  [[gnu::always_inline]] inline double cross_distance(const Measurement& m, const OutPoint& p,
                                                      double xdist) const;

  struct Block;
  struct BlockFill;
  template <class Reader, Geometry G, bool Geoid, PointFormat Format, LasMode Las>
  void blocks_as(Reader& reader, MeasurementGate& gate, Measurement& m, const LoopTick& tick,
                 const BlockRun& run);
  template <Geometry G, class Reader>
  bool fill_block(Reader& reader, MeasurementGate& gate, Measurement& m, Block& b, BlockFill& f);
  template <Geometry G>
  void take_measurement(Block& b, BlockFill& f) const;
  template <Geometry G, bool Geoid, PointFormat Format, bool Sigma>
  void locate_block(Block& b) const;
  template <Geometry G, PointFormat Format, LasMode Las>
  void write_block(Block& b);
  template <PointFormat Format, LasMode Las>
  void emit_formatted(const Block& b, std::size_t k);

  // xdist: the point's offset across the heading (rigorous mode), the
  // group's mean when a group closes.
  // sigma: the point's (Sigma), the group's when a group closes.
  template <Geometry G, bool Sigma>
  bool average(Measurement& m, const SurfacePoint& sp, double h_a, double& xdist, OutPoint& p,
               PointSigma& sigma);
  // xdist: the cross-profile distance; roll: the aircraft's, for the LAS scan angle.
  template <PointFormat Format, LasMode Las>
  void emit(const OutPoint& p, double xdist, double roll, std::int64_t scanno, std::int64_t nscans,
            const PointSigma& sigma);
  LasMode las_mode() const;

  struct Group {
    bool open = false;
    double thr = 0, lat = 0, lon = 0, h = 0, h_a = 0, scanang = 0, ampl = 0;
    std::int64_t gcount = 0;
    std::int64_t i0 = 0;
  };

  PipelineConfig cfg_;
  const TrajectoryTable& traj_;
  const GeoidGrid* geoid_;
  const BeamTable* beams_;
  Outputs out_;
  std::int64_t npout_ = 0;
  LocateCaches caches_;               // the single thread's
  std::optional<AttitudeTrig> bore_;  // text scanner form: turns each beam as it is made
  Geometry geometry_;
  CentreState centre_;
  CrossSums sums_;
  Group group_;
  double group_xdist_ = 0;                    // rigorous mode: the open group's sum of xdist
  double group_var_h_ = 0, group_var_v_ = 0;  // with sigmas: the open group's sums of variances
};

}  // namespace bf

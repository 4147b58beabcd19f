// The arithmetic floor of a run: the same deck and scanner file as a real
// run, but the loop does only the per-measurement arithmetic (decode and
// timing, trajectory interpolation, trigonometry, rotation) on a scanner file
// already in memory, and writes nothing. Prints measurements per second.
//
// Usage: beamfall_floor [--rigorous] < deck     (binary scanner form only)
// Prints the rate without the geoid lookup and, when the deck names a geoid
// grid, with it; --rigorous geolocates on the ellipsoid instead of the
// tangent plane.
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>

#include "georef/geolocate.hpp"
#include "georef/interp.hpp"
#include "georef/rigorous.hpp"
#include "input/geoid.hpp"
#include "input/scanfile.hpp"
#include "input/scanrec.hpp"
#include "input/trajectory.hpp"
#include "pipeline/pipeline.hpp"
#include "run/deck.hpp"
#include "run/session.hpp"
#include "textio/error.hpp"

namespace {

struct Inputs {
  explicit Inputs(bf::RunParameters parameters) : session(std::move(parameters)) {}
  bf::Session session;  // the deck, the geoid grid and the trajectory
  std::string scan;     // the whole scanner file
};

// One pass of the arithmetic over the scanner file in memory; the geoid
// lookup only when `with_geoid`. Returns measurements per second.
template <bool Rigorous>
double measure(const Inputs& in, bool with_geoid, std::int64_t& count) {
  bf::OutFile quiet;
  quiet.discard();
  bf::BinaryInput bytes(in.scan);
  const bf::ScanLayout layout = bf::readhdr(bytes, quiet);
  const bf::BeamTable beams(layout.aunit);
  const bf::RunParameters& run = in.session.parameters();
  bf::BinaryScanReader reader(bytes, layout, run.window(), quiet);
  const bf::TrajectoryTable& traj = in.session.trajectory();
  bf::TrajectoryCursor cursor(traj);
  const bf::Misalignment mis = run.misalignment();
  const bf::LeverArm arm = run.lever_arm();
  bf::AttitudeTrigCache trig_cache;
  bf::SeriesTermsTrack series(traj);
  std::optional<bf::GeoidLookup> geoid;
  if (with_geoid && in.session.geoid()) geoid.emplace(*in.session.geoid());

  const auto start = std::chrono::steady_clock::now();
  bf::Measurement m;
  std::int64_t n = 0;
  double checksum = 0;
  if (reader.start()) {
    while (reader.next(m)) {
      bf::AircraftState s;
      cursor.position(m.thr, s);
      cursor.attitude(mis, s);
      bf::AttitudeTrig trig;
      trig_cache.eval(s, trig);
      bf::GeoidLookup* g = geoid ? &*geoid : nullptr;
      const bf::SurfacePoint p =
          Rigorous ? bf::geolocate_rigorous(m.range, beams[m.angle_count], s, trig,
                                            series.at(cursor.place(), s, trig.cL), arm, g)
                         .point
                   : bf::geolocate_full(m.range, beams[m.angle_count], s, trig, arm, g);
      checksum += p.lat + p.lon + p.h;
      ++n;
    }
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::fprintf(stderr, "checksum %.17g\n", checksum);  // keeps the loop from being optimised away
  count = n;
  return static_cast<double>(n) / seconds;
}

}  // namespace

int main(int argc, char** argv) {
  const bool rigorous = argc > 1 && std::string(argv[1]) == "--rigorous";
  auto measure_mode = rigorous ? measure<true> : measure<false>;
  try {
    bf::TextInput deck(STDIN_FILENO, "standard input");
    Inputs in(bf::finish_parameters(bf::read_deck(deck)));
    in.session.load_geoid(nullptr);
    in.session.load_trajectory(nullptr);
    std::ifstream file(in.session.input_path(in.session.parameters().par.scanname),
                       std::ios::binary);
    std::ostringstream bytes;
    bytes << file.rdbuf();
    in.scan = bytes.str();

    std::int64_t n = 0;
    const double plain = measure_mode(in, false, n);
    const double with_geoid = in.session.geoid() ? measure_mode(in, true, n) : plain;
    std::printf("floor: %lld measurements: %.2f million/s; with the geoid lookup: %.2f million/s\n",
                static_cast<long long>(n), plain / 1e6, with_geoid / 1e6);
    return 0;
  } catch (const bf::Stop& s) {
    std::fprintf(stderr, "%s\n", s.what());
    return 1;
  }
}

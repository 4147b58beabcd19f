// The arithmetic floor of a run: the same deck and scanner file as a real
// run, but the loop does only the per-measurement arithmetic (decode and
// timing, trajectory interpolation, trigonometry, rotation) on a scanner file
// already in memory, and writes nothing. Prints measurements per second.
//
// Usage: beamfall_floor < deck     (binary scanner form only)
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "georef/geolocate.hpp"
#include "georef/interp.hpp"
#include "input/scanfile.hpp"
#include "input/scanrec.hpp"
#include "input/trajectory.hpp"
#include "output/points.hpp"
#include "run/deck.hpp"
#include "textio/error.hpp"

int main() {
  try {
    bf::TextInput deck(STDIN_FILENO, "standard input");
    bf::RunPar par = bf::read_deck(deck);
    bf::derive_times(par);
    bf::OutFile sink;
    sink.create("/dev/null");

    bf::TrajectoryTable traj;
    const std::string gpsname = bf::file_name(par.gpsname);
    bf::TextInput gps(bf::open_for_reading(gpsname), gpsname);
    bf::FreeReader gps_reader(gps);
    bf::load_trajectory(gps_reader, gpsname.c_str(), par.tstart, par.tend, par.gpsatt, traj);
    bf::compute_speeds(traj);

    std::ifstream file(bf::file_name(par.scanname), std::ios::binary);
    std::ostringstream bytes;
    bytes << file.rdbuf();
    const std::string scan = bytes.str();

    bf::BinaryInput in(scan);
    const bf::ScanLayout layout = bf::readhdr(in, sink);
    const bf::BeamTable beams(layout.aunit);
    bf::BinaryScanReader reader(in, layout, {par.t0, par.tstart, par.tend, par.nthin}, sink);
    bf::TrajectoryCursor cursor(traj);
    const bf::Misalignment mis{par.pitch0, par.roll0, par.heading0};
    const bf::LeverArm arm{par.dx, par.dy, par.dz};

    bf::AttitudeTrigCache trig_cache;
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
        const bf::SurfacePoint p =
            bf::geolocate_full(m.range, beams[m.angle_count], s, trig, arm, nullptr);
        checksum += p.lat + p.lon + p.h;
        ++n;
      }
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("floor: %lld measurements in %.3f s: %.2f million/s (checksum %.6g)\n",
                static_cast<long long>(n), seconds, static_cast<double>(n) / seconds / 1e6,
                checksum);
    return 0;
  } catch (const bf::Stop& s) {
    std::fprintf(stderr, "%s\n", s.what());
    return 1;
  }
}

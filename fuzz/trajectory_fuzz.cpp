// The trajectory reader: loading over a time window, the speed column and its
// report, then the interpolation at times in and around the table.
// The first byte chooses the layout and the window; the rest is the file.
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <string_view>

#include "fuzz_util.hpp"
#include "georef/interp.hpp"
#include "input/trajectory.hpp"
#include "textio/error.hpp"

namespace {

struct Window {
  double tstart, tend;
};

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr Window kWindows[4] = {{-1e300, 1e300}, {10.0, 10.1}, {0.0, 0.0}, {kNaN, kNaN}};

void interpolate_around(const bf::TrajectoryTable& t) {
  const double inf = std::numeric_limits<double>::infinity();
  const double first = t.time[1], last = t.time[t.ngps];
  const double times[] = {-inf,  first - 1, first, (first + last) / 2, last, last + 1,
                          first, kNaN,      inf};  // the last ones run backwards
  bf::TrajectoryCursor cursor(t);
  const bf::Misalignment mis{0.5, -0.5, 179};
  for (double thr : times) {
    bf::AircraftState s;
    cursor.position(thr, s);
    cursor.attitude(mis, s);
    cursor.speed(s);
    if (cursor.igps() < 1 || (t.ngps >= 2 && cursor.igps() > t.ngps - 1))
      fuzz::finding("interval index outside the table");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  static const auto table = std::make_unique<bf::TrajectoryTable>();
  const Window w = kWindows[data[0] & 3];
  const bool gpsatt = (data[0] & 4) != 0;
  std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  bf::TextInput in(text);
  bf::FreeReader reader(in);
  bf::OutFile console;
  fuzz::attach_console(console);
  try {
    bf::load_trajectory(reader, "trajectory file 'fuzz'", w.tstart, w.tend, gpsatt, *table);
    if (table->ngps < 0 || table->ngps > bf::TrajectoryTable::nmax - 2)
      fuzz::finding("ngps outside the table");
    const bf::TrajectoryStats stats = bf::compute_speeds(*table);
    bf::report_trajectory(console, table->ngps, stats);
    if (table->ngps >= 1) interpolate_around(*table);
    console.flush();
  } catch (const bf::Stop&) {
    // an input error is an expected outcome
  }
  return 0;
}

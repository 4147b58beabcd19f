#include "flight_lines.hpp"

#include <algorithm>

#include "campaign/folder/lines.hpp"
#include "campaign/folder/record.hpp"
#include "georef/interp.hpp"
#include "input/scanfile.hpp"
#include "input/scanrec.hpp"
#include "input/trajectory.hpp"
#include "pipeline/pipeline.hpp"
#include "run/deck.hpp"
#include "run/session.hpp"
#include "textio/error.hpp"
#include "textio/freeread.hpp"
#include "textio/infile.hpp"
#include "textio/outfile.hpp"

namespace bfcal {
namespace fs = std::filesystem;

namespace {

fs::path in_folder(const fs::path& folder, const std::string& field) {
  const fs::path name = bf::file_name(field);
  return name.is_absolute() ? name : folder / name;
}

// Runs `body`, giving a stop the line's name.
template <class Body>
auto for_line(const std::string& name, Body body) {
  try {
    return body();
  } catch (const bf::Stop& s) {
    std::string what = s.what();
    what.erase(0, what.find_first_not_of(' '));
    throw bf::Stop(name + ": " + what);
  }
}

// Where the readers' report lines go: nowhere.
class Quiet {
 public:
  Quiet() { out_.create("/dev/null"); }
  bf::OutFile& file() { return out_; }

 private:
  bf::OutFile out_;
};

}  // namespace

std::vector<std::string> campaign_lines(const fs::path& dir) {
  std::error_code ec;
  if (!fs::is_directory(dir, ec)) bf::stop("no campaign folder " + bf::quoted(dir.string()));
  std::vector<std::string> names;
  try {
    names = campaign::list_lines(dir.string());
  } catch (const fs::filesystem_error& e) {
    bf::stop("can't list " + bf::quoted(dir.string()) + ": " + e.code().message());
  }
  for (const std::string& name : names) {
    const auto record = campaign::load_record((dir / name).string());
    if (record && record->status != 0)
      bf::stop(name + ": its last run failed (exit status " + std::to_string(record->status) +
               "); mend it and run the campaign again before calibrating");
  }
  return names;
}

Line open_line(const fs::path& dir, const std::string& name) {
  return for_line(name, [&] {
    Line line;
    line.name = name;
    line.folder = dir / name;
    line.par =
        bf::read_deck_file((line.folder / campaign::deck_name(line.folder.string())).string());
    bf::derive_times(line.par);
    line.par.usegeoid = !bf::is_no_file(line.par.geoidname);
    if (!line.par.useatt)
      bf::stop("the deck is in profile mode (no attitude): nothing to calibrate");
    if (line.par.usegeoid) {
      const std::string geoid_name = in_folder(line.folder, line.par.geoidname).string();
      bf::TextInput in(bf::open_for_reading(geoid_name), geoid_name);
      bf::FreeReader reader(in);
      line.geoid = std::make_shared<bf::GeoidGrid>();
      Quiet quiet;
      bf::load_geoid(reader, ("geoid grid file " + bf::quoted(geoid_name)).c_str(), *line.geoid,
                     quiet.file());
    }
    std::error_code ec;
    const auto size = fs::file_size(in_folder(line.folder, line.par.scanname), ec);
    line.scanner_bytes = ec ? 0 : static_cast<std::int64_t>(size);
    return line;
  });
}

namespace {

template <class Reader, class Input>
void measurement_loop(const Line& line, Reader& reader, const Input& input,
                      const bf::TrajectoryTable& traj, std::int64_t stride,
                      const std::function<void(const RawMeasurement&)>& take,
                      const std::function<void(std::int64_t)>& progress) {
  const bf::Misalignment mis{line.par.pitch0, line.par.roll0, line.par.heading0};
  bf::TrajectoryCursor cursor(traj);
  bf::Measurement m;
  RawMeasurement raw;
  std::int64_t n = 0;
  while (reader.next(m)) {
    if ((++n & 0xffff) == 0 && progress) progress(input.bytes_read());
    if (n % stride != 0 || bf::rejection(line.par, m) != bf::Rejection::none || traj.ngps == 0)
      continue;
    cursor.position(m.thr, raw.state);
    if (bf::outside_area(line.par, raw.state)) continue;
    cursor.attitude(mis, raw.state);
    raw.range = m.range;
    raw.thr = m.thr;
    raw.angle = m.angle;
    take(raw);
  }
}

}  // namespace

namespace {

std::unique_ptr<bf::TrajectoryTable> load_line_trajectory(const Line& line) {
  const bf::RunPar& p = line.par;
  auto traj = std::make_unique<bf::TrajectoryTable>();
  const std::string traj_name = in_folder(line.folder, p.gpsname).string();
  bf::TextInput in(bf::open_for_reading(traj_name), traj_name);
  bf::FreeReader reader(in);
  const std::string source = "trajectory file " + bf::quoted(traj_name);
  bf::load_trajectory(reader, source.c_str(), p.tstart, p.tend, p.gpsatt, *traj);
  return traj;
}

}  // namespace

std::unique_ptr<bf::TrajectoryTable> read_trajectory(const Line& line) {
  return for_line(line.name, [&] { return load_line_trajectory(line); });
}

void for_each_measurement(const Line& line, std::int64_t stride,
                          const std::function<void(const RawMeasurement&)>& take,
                          const std::function<void(std::int64_t)>& progress) {
  for_line(line.name, [&] {
    const bf::RunPar& p = line.par;
    Quiet quiet;
    const auto traj = load_line_trajectory(line);
    const bf::ScanWindow window{p.t0, p.tstart, p.tend, p.nthin};
    const std::string scan_name = in_folder(line.folder, p.scanname).string();
    if (p.bin2dd) {
      bf::BinaryInput in(bf::open_for_reading(scan_name), scan_name);
      const bf::ScanLayout layout = bf::readhdr(in, quiet.file());
      bf::BinaryScanReader reader(in, layout, window, quiet.file());
      if (reader.start()) measurement_loop(line, reader, in, *traj, stride, take, progress);
    } else {
      bf::TextInput in(bf::open_for_reading(scan_name), scan_name);
      bf::FreeReader text(in);
      bf::TextScanReader reader(text, window, quiet.file());
      reader.start();
      measurement_loop(line, reader, in, *traj, stride, take, progress);
    }
    return 0;
  });
}

}  // namespace bfcal

#include "flight_lines.hpp"

#include <system_error>

#include "campaign/folder/lines.hpp"
#include "campaign/folder/record.hpp"
#include "run/session.hpp"
#include "textio/error.hpp"

namespace bfcal {
namespace fs = std::filesystem;

namespace {

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
    const fs::path deck = line.folder / campaign::deck_name(line.folder.string());
    line.run = bf::finish_parameters(bf::read_deck_file(deck.string()));
    if (!line.par().useatt)
      bf::stop("the deck is in profile mode (no attitude): nothing to calibrate");
    bf::Session session(line.run, line.folder.string());
    session.load_geoid(nullptr);
    line.geoid = session.geoid();
    line.measurements_at_most = session.measurements_at_most();
    std::error_code ec;
    const auto size = fs::file_size(session.input_path(line.par().scanname), ec);
    line.scanner_bytes = ec ? 0 : static_cast<std::int64_t>(size);
    return line;
  });
}

void with_trajectory(const Line& line, const std::function<void(const bf::TrajectoryTable&)>& use) {
  for_line(line.name, [&] {
    bf::Session session(line.run, line.folder.string());
    session.load_trajectory(nullptr);
    use(session.trajectory());
    return 0;
  });
}

void for_each_measurement(const Line& line, std::int64_t stride,
                          const std::function<void(const RawMeasurement&)>& take,
                          const std::function<void(std::int64_t)>& progress) {
  for_line(line.name, [&] {
    bf::Session session(line.run, line.folder.string());
    RawMeasurement raw;
    const auto visit = [&](const bf::Measurement& m, const bf::AircraftState& state) {
      raw.range = m.range;
      raw.angle = m.angle;
      raw.thr = m.thr;
      raw.state = state;
      take(raw);
    };
    bf::ScanProgress tick;
    if (progress) tick = [&progress](std::int64_t bytes, std::int64_t) { progress(bytes); };
    session.for_each_measurement(stride, visit, tick);
    return 0;
  });
}

}  // namespace bfcal

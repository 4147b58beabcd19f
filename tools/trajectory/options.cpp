#include "options.hpp"

#include <cmath>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "kit/command_line.hpp"
#include "runfiles/text.hpp"

namespace sbet {

const char* usage_text() {
  return "usage: beamfall-trajectory SBET --out FILE [--leap-seconds S] [--from T] [--to T]\n"
         "                           [--accuracy SMRMSG --sigma-out FILE]\n"
         "\n"
         "Converts a GNSS/INS navigation solution in the SBET format (17 little-endian\n"
         "doubles a record: GPS seconds of the week; latitude, longitude in radians; height;\n"
         "velocities; roll, pitch, platform heading, wander angle in radians; accelerations;\n"
         "angular rates) into beamfall's trajectory file with attitude (deck switch gpsatt T):\n"
         "one sample a line, time lat lon h pitch roll heading, in decimal hours, degrees,\n"
         "metres and degrees; the heading is the true one, platform heading less wander\n"
         "angle, within -180 .. 180.\n"
         "\n"
         "Times are the GPS seconds of the week less the leap seconds, in hours from the\n"
         "start of the day of the first record. Past midnight, and across the end of the GPS\n"
         "week, they count on past 24 h, as beamfall's own times do.\n"
         "\n"
         "  --out FILE         the trajectory file written\n"
         "  --leap-seconds S   GPS - UTC in whole seconds, taken off every time when the\n"
         "                     scanner's clock keeps UTC (18 since 2017) [0: GPS time]\n"
         "  --from T, --to T   write only the records from T to T hours, both included, on\n"
         "                     the output's time scale [every record]\n"
         "  --accuracy SMRMSG  the solution's accuracy file (10 doubles a record: GPS seconds\n"
         "                     of the week; north, east, down position RMS in metres;\n"
         "                     velocity RMS; roll, pitch, heading RMS in arc minutes)\n"
         "  --sigma-out FILE   with --accuracy: the sigma trajectory file written, one epoch\n"
         "                     a line: time, sigma north, east, down (metres), sigma roll,\n"
         "                     pitch, heading (degrees), on the same time scale\n"
         "  --help             this text\n"
         "  --version          the program's version\n"
         "\n"
         "Every record is checked. A file whose size is not a whole number of records, a\n"
         "time that does not increase, a value that is not a number or out of its range, or\n"
         "a file that can't be read stops the conversion with exit status 1 and a message\n"
         "naming the file and the record; nothing is written then, and an existing output\n"
         "file is left as it was. A usage error exits with status 2.\n";
}

namespace {

double hours_value(const char* option, const std::string& text) {
  double v = 0;
  if (!runfiles::parse_double(text, v) || !std::isfinite(v))
    throw kit::UsageError(std::string(option) + " needs a time in decimal hours, not '" + text +
                          "'");
  return v;
}

int leap_seconds_value(const std::string& text) {
  std::int64_t v = 0;
  if (!runfiles::parse_int(text, v) || v < 0 || v > 100)
    throw kit::UsageError("--leap-seconds needs a whole number of seconds from 0 to 100, not '" +
                          text + "'");
  return static_cast<int>(v);
}

bool same_file(const std::string& a, const std::string& b) {
  std::error_code error;
  return a == b || std::filesystem::equivalent(a, b, error);
}

void check_files(const ConvertOptions& c) {
  if (c.accuracy.empty() != c.sigma_out.empty())
    throw kit::UsageError("--accuracy and --sigma-out go together");
  const std::vector<std::pair<const char*, std::string>> inputs = {
      {"the SBET file", c.sbet}, {"the --accuracy file", c.accuracy}};
  const std::vector<std::pair<const char*, std::string>> outputs = {{"--out", c.out},
                                                                    {"--sigma-out", c.sigma_out}};
  for (const auto& [option, output] : outputs) {
    for (const auto& [input, path] : inputs)
      if (!output.empty() && !path.empty() && same_file(output, path))
        throw kit::UsageError(std::string(option) + " would replace " + input);
  }
  if (!c.sigma_out.empty() && same_file(c.out, c.sigma_out))
    throw kit::UsageError("--out and --sigma-out name the same file");
}

}  // namespace

Options parse_options(int argc, char** argv) {
  Options o;
  ConvertOptions& c = o.convert;
  const auto hours = [](double& field, const char* option) {
    return kit::store_as(field, [option](const std::string& v) { return hours_value(option, v); });
  };
  const std::vector<std::string> positional = kit::parse_command_line(
      argc, argv,
      {{"--help", "-h", false, kit::flag(o.help)},
       {"--out", "", true, kit::store_nonempty(c.out), "a file name"},
       {"--leap-seconds", "", true, kit::store_as(c.leap_seconds, leap_seconds_value)},
       {"--from", "", true, hours(c.from, "--from")},
       {"--to", "", true, hours(c.to, "--to")},
       {"--accuracy", "", true, kit::store_nonempty(c.accuracy), "a file name"},
       {"--sigma-out", "", true, kit::store_nonempty(c.sigma_out), "a file name"}});
  if (o.help) return o;
  if (positional.size() != 1) throw kit::UsageError("needs one SBET file");
  c.sbet = positional[0];
  if (c.out.empty()) throw kit::UsageError("needs --out FILE");
  if (c.from > c.to) throw kit::UsageError("--from is later than --to");
  check_files(c);
  return o;
}

}  // namespace sbet

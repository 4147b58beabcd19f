#include "run/options.hpp"

#include <array>
#include <charconv>
#include <cmath>
#include <string_view>
#include <system_error>

#include "textio/freeread.hpp"

namespace bf {
namespace {

bool all_digits(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

int to_int(std::string_view digits) {
  int v = 0;
  std::from_chars(digits.data(), digits.data() + digits.size(), v);
  return v;
}

bool leap_year(int y) {
  return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int days_in_month(int y, int m) {
  static constexpr int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && leap_year(y) ? 29 : days[m - 1];
}

CalendarDate parse_date(std::string_view s) {
  const bool shape = s.size() == 10 && s[4] == '-' && s[7] == '-' && all_digits(s.substr(0, 4)) &&
                     all_digits(s.substr(5, 2)) && all_digits(s.substr(8, 2));
  if (!shape) throw UsageError("--date wants YYYY-MM-DD, not '" + std::string(s) + "'");
  const CalendarDate d{to_int(s.substr(0, 4)), to_int(s.substr(5, 2)), to_int(s.substr(8, 2))};
  // GPS time begins on 1980-01-06; LAS stores it as seconds from that epoch.
  if (d.year < 1980 || d.month < 1 || d.month > 12 || d.day < 1 ||
      d.day > days_in_month(d.year, d.month) || (d.year == 1980 && d.month == 1 && d.day < 6))
    throw UsageError("--date " + std::string(s) + " is not a day of the GPS era");
  return d;
}

std::uint16_t parse_line_id(std::string_view s) {
  const int v = s.size() <= 5 && all_digits(s) ? to_int(s) : 0;
  if (v < 1 || v > 65535)
    throw UsageError("--line-id wants a whole number from 1 to 65535, not '" + std::string(s) +
                     "'");
  return static_cast<std::uint16_t>(v);
}

TimeScale parse_time_scale(std::string_view s) {
  if (s == "gps") return TimeScale::gps;
  if (s == "utc") return TimeScale::utc;
  throw UsageError("--time-scale wants gps or utc, not '" + std::string(s) + "'");
}

// "AUTHORITY:CODE", as PROJ and GDAL name a CRS.
std::string parse_crs_name(std::string_view s) {
  const auto colon = s.find(':');
  bool ok = colon != std::string_view::npos && colon > 0 && all_digits(s.substr(colon + 1));
  for (std::size_t k = 0; ok && k < colon; ++k) {
    const char c = s[k];
    ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
  }
  if (!ok)
    throw UsageError("--vertical-crs wants a name such as EPSG:5773, not '" + std::string(s) + "'");
  return std::string(s);
}

// A finite decimal number, with an optional leading '+'.
bool parse_real(std::string_view s, double& v) {
  if (!s.empty() && s[0] == '+') {
    s.remove_prefix(1);
    if (!s.empty() && s[0] == '-') return false;  // "+-1"
  }
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  return ec == std::errc() && end == s.data() + s.size() && std::isfinite(v);
}

// N comma-separated finite numbers into `values`.
template <std::size_t N>
bool parse_reals(std::string_view s, std::array<double, N>& values) {
  std::string_view rest = s;
  for (std::size_t k = 0; k < N; ++k) {
    const auto comma = k + 1 < N ? rest.find(',') : rest.size();
    if (comma == std::string_view::npos || !parse_real(rest.substr(0, comma), values[k]))
      return false;
    if (k + 1 < N) rest.remove_prefix(comma + 1);
  }
  return true;
}

Boresight parse_boresight(std::string_view s) {
  std::array<double, 3> angles{};
  if (!parse_reals(s, angles))
    throw UsageError(
        "--boresight wants ROLL,PITCH,HEADING in degrees, such as 0.1,-0.1,0.2, not '" +
        std::string(s) + "'");
  return Boresight{angles[0], angles[1], angles[2]};
}

// N standard deviations, each a finite number of 0 or more.
template <std::size_t N>
std::array<double, N> parse_sigmas(std::string_view name, std::string_view s, const char* wants) {
  std::array<double, N> v{};
  bool ok = parse_reals(s, v);
  for (double x : v)
    ok = ok && x >= 0;
  if (!ok)
    throw UsageError(std::string(name) + " wants " + wants + ", not '" + std::string(s) + "'");
  return v;
}

double parse_range_offset(std::string_view s) {
  double v = 0;
  if (!parse_real(s, v))
    throw UsageError("--range-offset wants a number of metres, such as -0.03, not '" +
                     std::string(s) + "'");
  return v;
}

std::int32_t parse_threads(std::string_view s) {
  const int v = s.size() <= 4 && all_digits(s) ? to_int(s) : 0;
  if (v < 1 || v > 1024)
    throw UsageError("--threads wants a whole number from 1 to 1024, not '" + std::string(s) + "'");
  return v;
}

// One real in any form the deck takes (1.5D0, .5, -2), read by the deck's own
// reader so that it gives the very value the deck would.
double parse_roll0(std::string_view s) {
  const bool one_token = !s.empty() && s.find_first_of(" \t\r\n,/*") == std::string_view::npos;
  TextInput in(s);
  FreeReader reader(in);
  reader.start_read();
  double v = 0;
  if (!one_token || reader.real(v) != ReadStatus::ok)
    throw UsageError("--roll0 wants a number of degrees, not '" + std::string(s) + "'");
  return v;
}

// Splits "--name=value" and finds the value of "--name value".
struct OptionCursor {
  std::span<const char* const> args;
  std::size_t k = 0;

  std::string_view value(std::string_view name, std::string_view inline_value, bool has_inline) {
    if (has_inline) return inline_value;
    if (k + 1 >= args.size()) throw UsageError("option " + std::string(name) + " needs a value");
    return args[++k];
  }
};

// One of the noise model's single values: a finite number of 0 or more.
void take_noise_value(std::string_view name, std::string_view s, NoiseOptions& noise) {
  const char* wants = name == "--sigma-range"   ? "a number of metres, such as 0.02"
                      : name == "--sigma-angle" ? "a number of gon, such as 0.001"
                      : name == "--sigma-lever" ? "a number of metres, such as 0.01"
                                                : "a number of milliradians, such as 0.5";
  const double v = parse_sigmas<1>(name, s, wants)[0];
  if (name == "--sigma-range") noise.range = v;
  if (name == "--sigma-angle") noise.angle = v;
  if (name == "--sigma-lever") noise.lever = v;
  if (name == "--beam-divergence") noise.divergence = v;
}

// The noise model is whole or not given: the range, the position and the
// attitude, the last two from the options or from one per-epoch file.
void check_noise_model(const RunOptions& o) {
  const NoiseOptions& n = o.noise;
  if (!n.given()) return;
  if (!n.trajectory.empty() && (n.position || n.attitude))
    throw UsageError(
        "--sigma-trajectory gives the position's and the attitude's sigmas epoch by epoch: "
        "leave out --sigma-position and --sigma-attitude");
  const bool nav = !n.trajectory.empty() || (n.position && n.attitude);
  if (!nav || !n.range)
    throw UsageError(
        "the noise model wants --sigma-range and --sigma-position with --sigma-attitude (or "
        "--sigma-trajectory)");
  if (o.las_file.empty())
    throw UsageError("the noise model needs --las: each point's uncertainty goes to the LAS file");
}

void take_flag(std::string_view name, bool has_inline, bool& flag) {
  if (has_inline) throw UsageError("option " + std::string(name) + " takes no value");
  flag = true;
}

}  // namespace

ParsedOptions parse_options(std::span<const char* const> args) {
  ParsedOptions parsed;
  RunOptions& o = parsed.options;
  OptionCursor cur{args};
  for (; cur.k < args.size(); ++cur.k) {
    const std::string_view arg = args[cur.k];
    const auto eq = arg.find('=');
    const bool has_inline = arg.rfind("--", 0) == 0 && eq != std::string_view::npos;
    const std::string_view name = has_inline ? arg.substr(0, eq) : arg;
    const std::string_view inline_value = has_inline ? arg.substr(eq + 1) : std::string_view{};
    bool flag = false;
    if (name == "--help" || name == "-h") {
      take_flag(name, has_inline, flag);
      parsed.action = OptionAction::help;
    } else if (name == "--version") {
      take_flag(name, has_inline, flag);
      if (parsed.action != OptionAction::help) parsed.action = OptionAction::version;
    } else if (name == "--las") {
      o.las_file = cur.value(name, inline_value, has_inline);
      if (o.las_file.empty()) throw UsageError("--las wants a file name");
    } else if (name == "--line-id") {
      o.line_id = parse_line_id(cur.value(name, inline_value, has_inline));
    } else if (name == "--date") {
      o.date = parse_date(cur.value(name, inline_value, has_inline));
    } else if (name == "--time-scale") {
      o.time_scale = parse_time_scale(cur.value(name, inline_value, has_inline));
    } else if (name == "--vertical-crs") {
      o.vertical_crs = parse_crs_name(cur.value(name, inline_value, has_inline));
    } else if (name == "--manifest") {
      o.manifest = cur.value(name, inline_value, has_inline);
      if (o.manifest.empty()) throw UsageError("--manifest wants a file name");
    } else if (name == "--list-files") {
      take_flag(name, has_inline, flag);
      if (parsed.action == OptionAction::run) parsed.action = OptionAction::list_files;
    } else if (name == "--roll0") {
      o.roll0 = parse_roll0(cur.value(name, inline_value, has_inline));
    } else if (name == "--rigorous") {
      take_flag(name, has_inline, o.rigorous);
    } else if (name == "--boresight") {
      o.boresight = parse_boresight(cur.value(name, inline_value, has_inline));
    } else if (name == "--range-offset") {
      o.range_offset = parse_range_offset(cur.value(name, inline_value, has_inline));
      o.range_offset_given = true;
    } else if (name == "--sigma-position") {
      o.noise.position = parse_sigmas<2>(name, cur.value(name, inline_value, has_inline),
                                         "H,V in metres, such as 0.03,0.05");
    } else if (name == "--sigma-attitude") {
      o.noise.attitude = parse_sigmas<3>(name, cur.value(name, inline_value, has_inline),
                                         "ROLL,PITCH,HEADING in degrees, such as 0.005,0.005,0.01");
    } else if (name == "--sigma-range" || name == "--sigma-angle" || name == "--sigma-lever" ||
               name == "--beam-divergence") {
      take_noise_value(name, cur.value(name, inline_value, has_inline), o.noise);
    } else if (name == "--sigma-trajectory") {
      o.noise.trajectory = cur.value(name, inline_value, has_inline);
      if (o.noise.trajectory.empty()) throw UsageError("--sigma-trajectory wants a file name");
    } else if (name == "--calibration") {
      o.calibration = cur.value(name, inline_value, has_inline);
      if (o.calibration.empty()) throw UsageError("--calibration wants a file name");
    } else if (name == "--threads") {
      o.threads = parse_threads(cur.value(name, inline_value, has_inline));
    } else if (name == "--no-progress") {
      take_flag(name, has_inline, flag);
      o.progress = false;
    } else {
      throw UsageError("unknown option '" + std::string(arg) + "'");
    }
  }
  const bool runs = parsed.action == OptionAction::run || parsed.action == OptionAction::list_files;
  if (runs && !o.las_file.empty() && !o.date)
    throw UsageError("--las needs --date YYYY-MM-DD, the day the scanner timer counts from");
  return parsed;
}

void check_options_for_mode(const RunOptions& options, bool useatt) {
  check_noise_model(options);
  if (options.noise.given() && !useatt)
    throw UsageError(
        "the noise model needs full geolocation (useatt T on deck line 4): profile mode writes "
        "no coordinates");
  if (!options.las_file.empty() && !useatt)
    throw UsageError(
        "--las needs full geolocation (useatt T on deck line 4): profile mode writes no "
        "coordinates");
  if (!options.calibration.empty() && !useatt)
    throw UsageError(
        "--calibration needs full geolocation (useatt T on deck line 4): profile mode has no "
        "boresight");
}

const char* usage_text() {
  return R"(usage: beamfall [options] < deck > report

Geolocates airborne laser scanner measurements. Without options the deck on
standard input is the whole processing configuration and every output is as it
says; the report goes to standard output. Most options add a product or a mode;
--roll0, --boresight and --range-offset override what the deck says.

options:
  --las FILE           also write the surface points as LAS 1.4 (point format 6) to FILE;
                       with point file "0" in the deck, the points go to FILE only
  --date YYYY-MM-DD    the day the scanner timer counts from (required with --las):
                       LAS times are Adjusted Standard GPS Time
  --line-id N          flight line number, the LAS point and file source ID (1-65535;
                       default 1)
  --time-scale gps|utc the scale of the trajectory's times (default gps); utc adds the
                       leap seconds between UTC and GPS time on --date
  --vertical-crs NAME  vertical CRS of heights above the geoid in the LAS file, e.g.
                       EPSG:5773 (EGM96 height); default: named after the geoid grid file
  --rigorous           geolocate on the WGS84 ellipsoid, and cross profiles from the true
                       horizontal offset across track (full geolocation mode only)
  --boresight R,P,H    the scanner's rotation from the aircraft's body axes (x forward,
                       y right, z down), degrees: beam in the body frame =
                       Rz(H) Ry(P) Rx(R) beam in the scanner frame, applied before the
                       lever arm is added and the attitude turns both; signs as the
                       attitude's (a positive R tilts the beam to the left, as a positive
                       roll does). Full geolocation only: profile mode ignores it
  --range-offset M     metres added to every range as it is read (the negative of the
                       range bias): filters, geolocation and the LAS range see the sum
  --roll0 DEGREES      roll misalignment to use instead of roll0 on parameter line 6 of the
                       deck (any form the deck takes: -0.25, 1.5D0); the outputs are those
                       of a deck with that value written in
  --calibration FILE   apply calibration.json as beamfall-calibrate wrote it: its boresight
                       and range offset exactly as --boresight and --range-offset would
                       (these, when given too, override it); a parameter it reports not
                       observable is refused unless they give it. With the noise model
                       its covariance joins every point's uncertainty
  --sigma-position H,V the trajectory's position, one sigma in metres: each horizontal
                       axis, and vertical
  --sigma-attitude R,P,H  the attitude's roll, pitch and heading, one sigma in degrees
  --sigma-trajectory FILE  the position's and attitude's sigmas epoch by epoch (as
                       beamfall-trajectory --sigma-out writes them), interpolated in time,
                       instead of --sigma-position and --sigma-attitude
  --sigma-range M      the range, one sigma in metres
  --sigma-angle GON    the scan-angle encoder, one sigma in gon (default 0)
  --sigma-lever M      each axis of the lever arm, one sigma in metres (default 0)
  --beam-divergence MRAD  the beam's full divergence (default 0: no footprint term)
                       With the noise model (--sigma-range and the position's and attitude's
                       sigmas; needs --las) every LAS point carries sigma_horizontal and
                       sigma_vertical, and the manifest their percentiles
  --manifest FILE      also write a JSON record of the run to FILE (replaced whole at the
                       end, also after a stop or an interrupt): version, options, deck
                       values, files with their sizes, the report's figures, the
                       regression at full precision, exit status and elapsed time
  --threads N          geolocate on N threads (1-1024; default: the cores the process may
                       use, its CPU affinity within any cgroup CPU quota); every output is
                       the same for any N
  --list-files         read the deck, print its input and output files and its values as
                       JSON on standard output, and exit; no file is written or created
  --no-progress        no progress line on standard error (drawn only on a terminal)
  --help               this text
  --version            the program's version

exit status: 0 done, 1 the run stopped (the report's last line and standard
error say why) or had no usable input (no trajectory sample in the time window,
no measurement in the scanner file: standard error says why, the report is
whole), 2 usage error, 128+N stopped by signal N (the report so far is printed).
A run that stops before its first measurement leaves every output as it was.
)";
}

std::string version_text() {
  return std::string("beamfall ") + BEAMFALL_VERSION + "\n";
}

}  // namespace bf

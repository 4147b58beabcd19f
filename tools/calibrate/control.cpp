#include "control.hpp"

#include <charconv>
#include <cmath>
#include <fstream>
#include <sstream>

#include "textio/error.hpp"

namespace bfcal {
namespace {

std::string_view trim(std::string_view s) {
  const auto b = s.find_first_not_of(" \t\r");
  if (b == std::string_view::npos) return {};
  return s.substr(b, s.find_last_not_of(" \t\r") - b + 1);
}

bool to_number(std::string_view s, double& v) {
  s = trim(s);
  if (!s.empty() && s[0] == '+') s.remove_prefix(1);
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  return ec == std::errc() && end == s.data() + s.size() && std::isfinite(v);
}

std::vector<std::string_view> fields(std::string_view row) {
  std::vector<std::string_view> out;
  for (;;) {
    const auto comma = row.find(',');
    out.push_back(trim(row.substr(0, comma)));
    if (comma == std::string_view::npos) return out;
    row.remove_prefix(comma + 1);
  }
}

}  // namespace

std::vector<ControlPoint> parse_control(std::string_view text, const std::string& source) {
  std::vector<ControlPoint> out;
  int row = 0;
  bool first = true;
  while (!text.empty()) {
    const auto nl = text.find('\n');
    const std::string_view line = trim(text.substr(0, nl));
    text.remove_prefix(nl == std::string_view::npos ? text.size() : nl + 1);
    ++row;
    if (line.empty() || line[0] == '#') continue;
    const auto f = fields(line);
    double v[4] = {0, 0, 0, kControlSigma};
    bool numbers = f.size() == 3 || f.size() == 4;
    for (std::size_t k = 0; numbers && k < f.size(); ++k)
      numbers = to_number(f[k], v[k]);
    const bool was_first = first;
    first = false;
    if (!numbers && was_first && !f.empty() && !to_number(f[0], v[0])) continue;  // the names
    const std::string where = source + " row " + std::to_string(row) + ": ";
    if (!numbers)
      bf::stop(where + "not 'latitude,longitude,height[,sigma]' in numbers: '" + std::string(line) +
               "'");
    if (std::fabs(v[0]) > 90 || std::fabs(v[1]) > 360)
      bf::stop(where + "latitude or longitude out of range");
    if (!(v[3] > 0)) bf::stop(where + "the height's standard deviation must be positive");
    out.push_back({v[0], v[1], v[2], v[3], row, f.size() == 4});
  }
  if (out.empty()) bf::stop(source + ": no control point in it");
  return out;
}

std::vector<ControlPoint> read_control(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) bf::stop("can't open the control file " + bf::quoted(file));
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) bf::stop("can't read the control file " + bf::quoted(file));
  return parse_control(text.str(), "control file " + bf::quoted(file));
}

}  // namespace bfcal

#include "kit/manifest.hpp"

#include <cmath>
#include <limits>

#include <nlohmann/json.hpp>

namespace kit {

namespace {

using nlohmann::json;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// A member of an object, or null when `j` is not an object or lacks it.
const json& member(const json& j, const char* key) {
  static const json null_value;
  if (!j.is_object()) return null_value;
  const auto it = j.find(key);
  return it == j.end() ? null_value : *it;
}

// A number, NaN when absent or null (the manifest writes NaN as null).
double number(const json& j, const char* key) {
  const json& v = member(j, key);
  return v.is_number() ? v.get<double>() : kNaN;
}

// A whole number, -1 when absent or not a whole number.
std::int64_t count(const json& j, const char* key) {
  const json& v = member(j, key);
  if (v.is_number_unsigned()) {
    const auto u = v.get<std::uint64_t>();
    return u <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())
               ? static_cast<std::int64_t>(u)
               : -1;
  }
  return v.is_number_integer() ? v.get<std::int64_t>() : -1;
}

std::string text(const json& j, const char* key) {
  const json& v = member(j, key);
  return v.is_string() ? v.get<std::string>() : std::string();
}

bool flag(const json& j, const char* key, bool otherwise) {
  const json& v = member(j, key);
  return v.is_boolean() ? v.get<bool>() : otherwise;
}

std::vector<ManifestFile> files(const json& j) {
  std::vector<ManifestFile> out;
  if (!j.is_array()) return out;
  for (const json& f : j) {
    if (!f.is_object()) continue;
    out.push_back({text(f, "role"), text(f, "name"), text(f, "path"), count(f, "size")});
  }
  return out;
}

std::optional<ManifestDeck> deck(const json& j) {
  if (!j.is_object()) return std::nullopt;
  ManifestDeck d;
  d.ptname = text(j, "ptname");
  d.cenname = text(j, "cenname");
  d.naver = count(j, "naver");
  d.binout = flag(j, "binout", true);
  d.calib = flag(j, "calib", true);
  d.useatt = flag(j, "useatt", true);
  d.roll0 = number(j, "roll0");
  return d;
}

std::optional<ManifestSummary> summary(const json& j) {
  if (!j.is_object()) return std::nullopt;
  ManifestSummary s;
  s.scans_read = count(j, "scans_read");
  s.points_output = count(j, "points_output");
  s.range_min = number(j, "range_min");
  s.range_max = number(j, "range_max");
  s.flight_height_min = number(j, "flight_height_min");
  s.flight_height_max = number(j, "flight_height_max");
  s.aircraft_lat_min = number(j, "aircraft_lat_min");
  s.aircraft_lat_max = number(j, "aircraft_lat_max");
  s.aircraft_lon_min = number(j, "aircraft_lon_min");
  s.aircraft_lon_max = number(j, "aircraft_lon_max");
  const json& rejected = member(j, "rejected");
  s.rejected_amplitude = count(rejected, "amplitude");
  s.rejected_scan_angle = count(rejected, "scan_angle");
  s.rejected_range = count(rejected, "range");
  return s;
}

std::optional<ManifestRegression> regression(const json& j) {
  if (!j.is_object()) return std::nullopt;
  return ManifestRegression{count(j, "points"), number(j, "bias"), number(j, "roll")};
}

}  // namespace

double Manifest::roll0_used() const {
  if (option_roll0) return *option_roll0;
  return deck ? deck->roll0 : kNaN;
}

const ManifestFile* Manifest::output(std::string_view role) const {
  for (const ManifestFile& f : outputs)
    if (f.role == role) return &f;
  return nullptr;
}

std::optional<Manifest> manifest_from_json(const json& j) {
  if (text(j, "format") != "beamfall-manifest") return std::nullopt;
  const std::int64_t version = count(j, "version");
  const std::int64_t status = count(j, "status");
  if (version < 1 || status < 0 || status > 255) return std::nullopt;
  Manifest m;
  m.version = static_cast<int>(std::min<std::int64_t>(version, 1'000'000));
  m.status = static_cast<int>(status);
  m.stop = text(j, "stop");
  m.deck = deck(member(j, "deck"));
  const double roll0 = number(member(j, "options"), "roll0");
  if (!std::isnan(roll0)) m.option_roll0 = roll0;
  m.inputs = files(member(j, "inputs"));
  m.outputs = files(member(j, "outputs"));
  m.summary = summary(member(j, "summary"));
  m.regression = regression(member(j, "regression"));
  m.elapsed_seconds = number(j, "elapsed_seconds");
  return m;
}

std::optional<Manifest> read_manifest(std::string_view text) {
  const json j = json::parse(text, nullptr, false);
  if (j.is_discarded()) return std::nullopt;
  return manifest_from_json(j);
}

}  // namespace kit

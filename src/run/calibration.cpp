#include "run/calibration.hpp"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

#include "run/options.hpp"
#include "textio/json_read.hpp"

namespace bf {
namespace {

[[noreturn]] void refuse(const std::string& source, const std::string& what) {
  throw UsageError("--calibration " + source + ": " + what);
}

const JsonValue& member(const JsonValue& v, const std::string& key, const std::string& where,
                        const std::string& source) {
  const JsonValue* m = v.find(key);
  if (m == nullptr) refuse(source, "no " + where + key);
  return *m;
}

double finite_number(const JsonValue& v, const std::string& where, const std::string& source) {
  if (v.kind != JsonValue::Kind::number) refuse(source, where + " is not a number");
  return v.number;
}

void read_parameter(const JsonValue& params, int k, const std::string& source,
                    CalibrationValues& c) {
  const std::string name = kCalibrationNames[k];
  const JsonValue& p = member(params, name, "parameters.", source);
  const std::string where = "parameters." + name;
  const JsonValue& observable = member(p, "observable", where + ".", source);
  if (observable.kind != JsonValue::Kind::boolean)
    refuse(source, where + ".observable is not true or false");
  c.observable[k] = observable.boolean;
  if (!c.observable[k]) {
    const JsonValue* reason = p.find("reason");
    c.reason[k] = reason != nullptr && reason->kind == JsonValue::Kind::string
                      ? reason->text
                      : std::string("no reason given");
    return;
  }
  c.value[k] = finite_number(member(p, "value", where + ".", source), where + ".value", source);
  c.sigma[k] = finite_number(member(p, "sigma", where + ".", source), where + ".sigma", source);
  if (c.sigma[k] < 0) refuse(source, where + ".sigma is negative");
}

void read_correlations(const JsonValue& doc, const std::string& source, CalibrationValues& c) {
  const JsonValue& corr = member(doc, "correlation", "", source);
  for (int i = 0; i < kCalParameters; ++i) {
    if (!c.observable[i]) continue;
    const std::string row_name = std::string("correlation.") + kCalibrationNames[i];
    const JsonValue& row = member(corr, kCalibrationNames[i], "correlation.", source);
    for (int j = 0; j < kCalParameters; ++j) {
      if (!c.observable[j]) continue;
      const std::string where = row_name + "." + kCalibrationNames[j];
      const double r =
          finite_number(member(row, kCalibrationNames[j], row_name + ".", source), where, source);
      // A correlation computed from a covariance may miss 1 by rounding (1.0000000000000002
      // on the diagonal of beamfall-calibrate's): within kRounding it is taken as at most 1.
      constexpr double kRounding = 1e-9;
      if (!(std::fabs(r) <= 1 + kRounding)) refuse(source, where + " is outside -1 .. 1");
      c.correlation[i][j] = i == j ? 1 : std::clamp(r, -1.0, 1.0);
    }
  }
}

}  // namespace

CalibrationValues parse_calibration(std::string_view text, const std::string& source) {
  JsonValue doc;
  try {
    doc = parse_json(text);
  } catch (const JsonSyntaxError& e) {
    refuse(source, std::string("not JSON: ") + e.what());
  }
  if (doc.kind != JsonValue::Kind::object) refuse(source, "not a JSON object");
  const JsonValue& params = member(doc, "parameters", "", source);
  CalibrationValues c;
  for (int k = 0; k < kCalParameters; ++k)
    read_parameter(params, k, source, c);
  read_correlations(doc, source, c);
  return c;
}

CalibrationValues read_calibration(const std::string& path) {
  const std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen(path.c_str(), "rb"),
                                                          &std::fclose);
  if (!f) refuse(path, std::strerror(errno));
  std::string text;
  char buf[65536];
  std::size_t n = 0;
  while ((n = std::fread(buf, 1, sizeof buf, f.get())) > 0) {
    text.append(buf, n);
    if (text.size() > (64u << 20)) refuse(path, "larger than 64 MiB");
  }
  if (std::ferror(f.get())) refuse(path, "read error");
  return parse_calibration(text, path);
}

}  // namespace bf

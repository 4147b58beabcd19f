#include "report.hpp"

#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include <nlohmann/json.hpp>

#include "textio/error.hpp"

namespace bfcal {
namespace {

// v with `decimals` decimals, never "-0.000".
std::string fixed(double v, int decimals) {
  char buf[64];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, decimals);
  std::string s(buf, end);
  if (s[0] == '-' && s.find_first_not_of("-0.") == std::string::npos) s.erase(0, 1);
  return s;
}

int decimals(int param) {
  return param == kRange ? 4 : 6;
}

std::string shell_quoted(const std::string& s) {
  if (!s.empty() && s.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                                        "0123456789_./-+=:,@%") == std::string::npos)
    return s;
  std::string q = "'";
  for (char c : s)
    q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

double applied(const Results& r, int k) {
  return r.solution.params[k].observable ? r.solution.params[k].value : 0;
}

// Where a control point's standard deviation came from: its row, the agreement of the used
// rows that give none, or the default.
const char* sigma_from(const Results& r, const ControlResidual& c) {
  if (c.point.sigma_given) return "file";
  return c.used && std::isfinite(r.solution.control.estimated_sigma) ? "agreement" : "default";
}

}  // namespace

std::string apply_command(const Results& r) {
  // The values and their covariance from calibration.json itself; a parameter the data could
  // not see is given as 0 by the option beamfall would otherwise refuse it without.
  const auto& p = r.solution.params;
  const bool angles = p[kRoll].observable && p[kPitch].observable && p[kHeading].observable;
  return "beamfall-campaign run " + shell_quoted(r.dir) + " --rigorous --calibration " +
         shell_quoted((std::filesystem::path(r.dir) / "calibration.json").string()) +
         (angles ? ""
                 : " --boresight " + fixed(applied(r, kRoll), 6) + "," +
                       fixed(applied(r, kPitch), 6) + "," + fixed(applied(r, kHeading), 6)) +
         (p[kRange].observable ? "" : " --range-offset 0") + " --force";
}

std::string calibration_json(const Results& r) {
  using J = nlohmann::ordered_json;
  // A number that is not finite is written as null, never as an invalid token.
  const auto finite_or_null = [](double v) { return std::isfinite(v) ? J(v) : J(nullptr); };
  J params = J::object();
  for (int k = 0; k < kParams; ++k) {
    const ParamResult& p = r.solution.params[k];
    J o = J::object();
    if (p.observable) {
      o["value"] = p.value;
      o["sigma"] = p.sigma;
      o["sigma_formal"] = p.sigma_formal;
      o["sigma_empirical"] = finite_or_null(p.sigma_empirical);
      o["observable"] = true;
    } else {
      o["value"] = nullptr;
      o["sigma"] = nullptr;
      o["sigma_formal"] = nullptr;
      o["sigma_empirical"] = nullptr;
      o["observable"] = false;
      o["reason"] = p.solved ? p.reason : "not solved for (left out of --solve): held at 0";
    }
    params[json_name(k)] = o;
  }
  J corr = J::object();
  for (int i = 0; i < kParams; ++i) {
    if (!r.solution.params[i].observable) continue;
    J row = J::object();
    for (int j = 0; j < kParams; ++j)
      if (r.solution.params[j].observable) row[json_name(j)] = r.solution.correlation[i][j];
    corr[json_name(i)] = row;
  }
  J doc = J::object();
  doc["warnings"] = r.warnings;
  doc["parameters"] = params;
  doc["correlation"] = corr;
  doc["tie_patches"] = r.tie_patches;
  doc["control_points"] = r.control_points;
  doc["resamples"] = r.solution.resamples;
  J stages = J::array();
  for (const StageSummary& st : r.solution.stages)
    stages.push_back({{"stage", st.stage},
                      {"loss", st.loss},
                      {"scale_m", st.scale_m},
                      {"residuals", st.residuals},
                      {"iterations", st.iterations},
                      {"initial_cost", st.initial_cost},
                      {"final_cost", st.final_cost},
                      {"termination", st.termination}});
  doc["solver_stages"] = stages;
  J control = J::array();
  for (const ControlResidual& c : r.control_after) {
    J o = J::object();
    o["row"] = c.point.row;
    o["latitude"] = c.point.lat;
    o["longitude"] = c.point.lon;
    o["height_m"] = c.point.h;
    o["sigma_m"] = c.point.sigma;
    o["sigma_from"] = sigma_from(r, c);
    o["used"] = c.used;
    o["residual_m"] = finite_or_null(c.residual);
    if (!c.used) o["reason"] = c.reason;
    control.push_back(o);
  }
  doc["control"] = control;
  const ControlCheck& check = r.solution.control;
  doc["control_offset_m"] = finite_or_null(check.offset);
  doc["control_offset_sigma_m"] = finite_or_null(check.offset_sigma);
  doc["line_float_sigma_m"] = check.line_sigma;
  J ties = J::object();
  for (int k = 0; k < kParams; ++k)
    if (r.solution.params[k].observable && std::isfinite(check.ties_value[k]))
      ties[json_name(k)] = {{"value", check.ties_value[k]},
                            {"sigma", finite_or_null(check.ties_sigma[k])}};
  doc["ties_alone"] = ties;
  J sampling = J::array();
  for (const SamplingMiss& m : r.sampling)
    sampling.push_back({{"line", m.line},
                        {"rate_hz", finite_or_null(m.rate)},
                        {"edge_miss_max_m", m.max_m},
                        {"edge_miss_rms_m", m.rms_m}});
  doc["trajectory_sampling"] = sampling;
  doc["noise_m"] = r.solution.noise;
  doc["misfit_rms_before_m"] = finite_or_null(r.before.rms);
  doc["misfit_rms_after_m"] = finite_or_null(r.after.rms);
  doc["apply"] = apply_command(r);
  // A folder name that is not valid UTF-8 shows with replacement characters in the
  // apply command rather than making the dump throw.
  return doc.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

std::string stdout_table(const Results& r) {
  std::string s;
  s += "Calibration of " + std::to_string(r.lines.size()) + " lines from " +
       std::to_string(r.tie_patches) + " tie patches and " + std::to_string(r.control_points) +
       " control points\n";
  char buf[256];
  std::snprintf(buf, sizeof buf, "  %-16s %12s %12s %12s %12s\n", "parameter", "value", "sigma",
                "formal", "resampled");
  s += buf;
  for (int k = 0; k < kParams; ++k) {
    const ParamResult& p = r.solution.params[k];
    if (p.observable) {
      const int d = decimals(k) + 1;
      std::snprintf(buf, sizeof buf, "  %-16s %12s %12s %12s %12s\n", json_name(k),
                    fixed(p.value, decimals(k)).c_str(), fixed(p.sigma, d).c_str(),
                    fixed(p.sigma_formal, d).c_str(),
                    std::isfinite(p.sigma_empirical) ? fixed(p.sigma_empirical, d).c_str() : "-");
    } else {
      std::snprintf(buf, sizeof buf, "  %-16s not observable: %s\n", json_name(k),
                    p.solved ? p.reason.c_str() : "not solved for");
    }
    s += buf;
  }
  s += "  misfit RMS " + fixed(r.before.rms, 4) + " m before, " + fixed(r.after.rms, 4) +
       " m after (noise " + fixed(r.solution.noise, 4) + " m)\n";
  if (!r.warnings.empty()) {
    s += "Warnings (" + std::to_string(r.warnings.size()) + "):\n";
    for (const std::string& w : r.warnings)
      s += "  - " + w + "\n";
  }
  s += "Apply with:\n  " + apply_command(r) + "\n";
  return s;
}

// The files are put in place in the order given: the last one marks the set complete.
void write_files_atomically(const std::vector<std::pair<std::string, std::string>>& files) {
  namespace fs = std::filesystem;
  std::vector<std::string> temps;
  auto clean = [&] {
    for (const auto& t : temps)
      ::unlink(t.c_str());
  };
  for (const auto& [name, text] : files) {
    const std::string temp = name + ".tmp" + std::to_string(::getpid());
    temps.push_back(temp);
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out) {
      clean();
      bf::stop("can't write " + bf::quoted(name));
    }
  }
  for (std::size_t k = 0; k < files.size(); ++k) {
    std::error_code ec;
    fs::rename(temps[k], files[k].first, ec);
    if (ec) {
      clean();
      bf::stop("can't put " + bf::quoted(files[k].first) + " in place: " + ec.message());
    }
  }
}

}  // namespace bfcal

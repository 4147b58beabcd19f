#include "run/manifest.hpp"

#include <sys/stat.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "output/calib.hpp"
#include "run/deck.hpp"
#include "textio/json.hpp"

namespace bf {
namespace {

void write_deck(JsonWriter& w, const RunPar& p) {
  w.begin_object();
  w.field("scanname", file_name(p.scanname))
      .field("gpsname", file_name(p.gpsname))
      .field("geoidname", file_name(p.geoidname))
      .field("ptname", file_name(p.ptname))
      .field("cenname", file_name(p.cenname));
  w.field("hh", p.hh).field("mm", p.mm).field("ss", p.ss);
  w.field("tstart", p.tstart).field("tend", p.tend);
  w.field("latmin", p.latmin).field("latmax", p.latmax);
  w.field("lonmin", p.lonmin).field("lonmax", p.lonmax);
  w.field("naver", p.naver).field("nthin", p.nthin);
  w.field("bin2dd", p.bin2dd)
      .field("binout", p.binout)
      .field("gpsatt", p.gpsatt)
      .field("calib", p.calib)
      .field("useatt", p.useatt);
  w.field("dx", p.dx).field("dy", p.dy).field("dz", p.dz);
  w.field("pitch0", p.pitch0).field("roll0", p.roll0).field("heading0", p.heading0);
  w.field("amin", p.amin).field("ilo", p.ilo).field("ihi", p.ihi).field("rmin", p.rmin);
  w.end_object();
}

// A string option, null when not given.
void optional_text(JsonWriter& w, const char* key, const std::string& s) {
  w.key(key);
  if (s.empty())
    w.null();
  else
    w.value(s);
}

std::string date_text(const CalendarDate& d) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", d.year, d.month, d.day);
  return buf;
}

template <std::size_t N>
void optional_reals(JsonWriter& w, const char* key, const std::optional<std::array<double, N>>& v) {
  w.key(key);
  if (!v) {
    w.null();
    return;
  }
  w.begin_array();
  for (double x : *v)
    w.value(x);
  w.end_array();
}

void optional_real(JsonWriter& w, const char* key, const std::optional<double>& v) {
  w.key(key);
  if (v)
    w.value(*v);
  else
    w.null();
}

// The noise model and the calibration file as given (from version 3).
void write_noise_options(JsonWriter& w, const RunOptions& o) {
  optional_text(w, "calibration", o.calibration);
  const NoiseOptions& n = o.noise;
  optional_reals(w, "sigma_position", n.position);
  optional_reals(w, "sigma_attitude", n.attitude);
  optional_text(w, "sigma_trajectory", n.trajectory);
  optional_real(w, "sigma_range", n.range);
  optional_real(w, "sigma_angle", n.angle);
  optional_real(w, "sigma_lever", n.lever);
  optional_real(w, "beam_divergence", n.divergence);
}

void write_options(JsonWriter& w, const RunOptions& o) {
  w.begin_object();
  optional_text(w, "las", o.las_file);
  w.field("line_id", std::int32_t{o.line_id});
  optional_text(w, "date", o.date ? date_text(*o.date) : std::string());
  w.field("time_scale", o.time_scale == TimeScale::utc ? "utc" : "gps");
  optional_text(w, "vertical_crs", o.vertical_crs);
  w.field("rigorous", o.rigorous).field("progress", o.progress);
  w.key("roll0");
  if (o.roll0)
    w.value(*o.roll0);
  else
    w.null();
  w.key("boresight");
  if (o.boresight)
    w.begin_array()
        .value(o.boresight->roll)
        .value(o.boresight->pitch)
        .value(o.boresight->heading)
        .end_array();
  else
    w.null();
  w.field("range_offset", o.range_offset);
  optional_text(w, "manifest", o.manifest);
  write_noise_options(w, o);
  w.end_object();
}

// The name made absolute, with the links of its existing part resolved.
std::string resolved_path(const std::string& name) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::path absolute = fs::absolute(name, ec);
  if (ec) return name;
  const fs::path resolved = fs::weakly_canonical(absolute, ec);
  return (ec ? absolute.lexically_normal() : resolved).string();
}

enum class WithSize { no, yes };

void write_files(JsonWriter& w, const std::vector<RunFileName>& files, bool outputs,
                 WithSize with_size) {
  w.begin_array();
  for (const RunFileName& f : files) {
    if (f.output != outputs) continue;
    w.begin_object();
    w.field("role", f.role).field("name", f.name).field("path", resolved_path(f.name));
    if (with_size == WithSize::yes) {
      struct stat st {};
      w.key("size");
      if (f.role != "manifest" && ::stat(f.name.c_str(), &st) == 0 && S_ISREG(st.st_mode))
        w.value(static_cast<std::int64_t>(st.st_size));
      else
        w.null();
    }
    w.end_object();
  }
  w.end_array();
}

void write_file_lists(JsonWriter& w, const RunPar& deck, const RunOptions& options,
                      WithSize with_size) {
  const std::vector<RunFileName> files = run_file_names(deck, options);
  w.key("inputs");
  write_files(w, files, false, with_size);
  w.key("outputs");
  write_files(w, files, true, with_size);
}

void write_trajectory(JsonWriter& w, const RunRecord& r) {
  w.key("trajectory");
  if (!r.ngps) {
    w.null();
    return;
  }
  w.begin_object()
      .field("samples", *r.ngps)
      .field("min_spacing", r.trajectory.min_spacing)
      .field("max_spacing", r.trajectory.max_spacing)
      .field("min_speed", static_cast<double>(r.trajectory.min_speed))
      .field("max_speed", static_cast<double>(r.trajectory.max_speed))
      .end_object();
}

void write_summary(JsonWriter& w, const RunRecord& r) {
  w.key("summary");
  if (!r.summary) {
    w.null();
    return;
  }
  const RunStats& s = r.summary->stats;
  w.begin_object()
      .field("scans_read", r.summary->nscans)
      .field("scans_skipped", r.summary->nskip)
      .field("points_output", s.npout)
      .field("range_min", s.range_min)
      .field("range_max", s.range_max)
      .field("flight_height_min", s.h_a_min)
      .field("flight_height_max", s.h_a_max)
      .field("aircraft_lat_min", s.lat_a_min)
      .field("aircraft_lat_max", s.lat_a_max)
      .field("aircraft_lon_min", s.lon_a_min)
      .field("aircraft_lon_max", s.lon_a_max);
  w.key("rejected")
      .begin_object()
      .field("amplitude", s.nrejampl)
      .field("scan_angle", s.nrejscan)
      .field("range", s.nrejrange)
      .end_object();
  w.end_object();
}

// Printed only when the run's cross profiles were on: the calib switch as the
// run used it (off without a point file).
void write_regression(JsonWriter& w, const RunRecord& r) {
  w.key("regression");
  if (!r.summary || !r.deck.calib || is_no_file(r.deck.ptname)) {
    w.null();
    return;
  }
  const Regression reg = solve_regression(r.summary->sums);
  w.begin_object()
      .field("points", r.summary->sums.ncal)
      .field("bias", reg.bias)
      .field("roll", reg.roll)
      .end_object();
}

void write_percentiles(JsonWriter& w, const char* key, const MillimetreHistogram& h) {
  w.key(key).begin_object();
  w.field("p5", h.percentile(5)).field("p50", h.percentile(50)).field("p95", h.percentile(95));
  w.end_object();
}

// The points' uncertainty as the LAS file holds it (whole millimetres), and
// the calibration's covariance that joined it; null without the noise model.
void write_uncertainty(JsonWriter& w, const RunRecord& r) {
  w.key("uncertainty");
  if (!r.sigma) {
    w.null();
    return;
  }
  const SigmaRecord& s = *r.sigma;
  w.begin_object().field("points", static_cast<std::uint64_t>(s.histogram[0].count()));
  write_percentiles(w, "sigma_horizontal", s.histogram[0]);
  write_percentiles(w, "sigma_vertical", s.histogram[1]);
  w.key("calibration_covariance");
  if (s.calibration_covariance.given) {
    // Boresight roll, pitch, heading in radians and the range offset in metres.
    w.begin_array();
    for (const auto& row : s.calibration_covariance.c) {
      w.begin_array();
      for (double v : row)
        w.value(v);
      w.end_array();
    }
    w.end_array();
  } else {
    w.null();
  }
  w.end_object();
}

}  // namespace

std::string list_files_json(const RunPar& deck, const RunOptions& options) {
  JsonWriter w;
  w.begin_object().field("format", "beamfall-files").field("version", std::int32_t{1});
  w.key("deck");
  write_deck(w, deck);
  w.key("options");
  write_options(w, options);
  write_file_lists(w, deck, options, WithSize::no);
  w.end_object();
  return w.text();
}

std::string manifest_json(const ManifestRun& run) {
  const RunRecord& r = run.record;
  JsonWriter w;
  w.begin_object().field("format", "beamfall-manifest").field("version", std::int32_t{3});
  w.key("program").begin_object().field("name", "beamfall").field("version", BEAMFALL_VERSION);
  w.end_object();
  w.key("arguments").begin_array();
  for (const char* a : run.args)
    w.value(a);
  w.end_array();
  w.key("options");
  write_options(w, run.options);
  w.key("deck");
  if (r.deck_read)
    write_deck(w, r.deck);
  else
    w.null();
  RunPar known = r.deck;  // a deck read in part names only some files
  if (!r.deck_read) known = RunPar{};
  write_file_lists(w, known, run.options, WithSize::yes);
  write_trajectory(w, r);
  write_summary(w, r);
  write_regression(w, r);
  w.field("status", std::int32_t{run.outcome.status});
  optional_text(w, "stop", run.outcome.stop);
  w.key("signal");
  if (run.outcome.signal != 0)
    w.value(std::int32_t{run.outcome.signal});
  else
    w.null();
  w.field("elapsed_seconds", run.elapsed_seconds);
  w.field("outputs_written", r.outputs_written);
  write_uncertainty(w, r);
  w.end_object();
  return w.text();
}

}  // namespace bf

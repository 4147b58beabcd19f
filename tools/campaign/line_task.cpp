#include "line_task.hpp"

#include <unistd.h>

#include <csignal>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "campaign/folder/lines.hpp"
#include "kit/manifest.hpp"
#include "kit/spawn.hpp"
#include "run/session.hpp"
#include "textio/error.hpp"

namespace campaign {

namespace {

// beamfall's manifest of the line's run, read into the record and then removed.
constexpr const char* kManifestFile = ".campaign-manifest.tmp";

std::string line_dir_of(const TaskSettings& s, const LineJob& job) {
  return s.campaign_dir + "/" + job.name;
}

// The line's deck (deck_name); "deck" when it has none, so that the run fails on it.
std::string deck_of(const std::string& line_dir) {
  const std::string name = deck_name(line_dir);
  return name.empty() ? "deck" : name;
}

// The files a run of the line's deck reads and writes without options, as beamfall lists
// them (names as the deck gives them).
struct DeckFiles {
  std::vector<std::string> inputs;
  std::vector<std::string> outputs;
  std::string points;  // the point file; empty when the deck writes none
};

// The deck's own files, or none when beamfall cannot read the deck (the run then fails).
std::optional<DeckFiles> deck_files_of(const std::string& line_dir) {
  bf::RunPar deck;
  try {
    deck = bf::read_deck_file(line_dir + "/" + deck_of(line_dir));
  } catch (const bf::Stop&) {
    return std::nullopt;
  }
  DeckFiles f;
  for (const bf::RunFileName& file : bf::run_file_names(deck)) {
    (file.output ? f.outputs : f.inputs).push_back(file.name);
    if (file.role == "points") f.points = file.name;
  }
  return f;
}

// The deck, the files it reads, then the calibration and sigma trajectory files the options
// name (absolute): a changed calibration runs every line again.
std::vector<FileStamp> input_stamps(const TaskSettings& s, const std::string& line_dir,
                                    const std::optional<DeckFiles>& files) {
  std::vector<FileStamp> in = {stamp_file(line_dir, deck_of(line_dir))};
  if (files)
    for (const std::string& name : files->inputs)
      in.push_back(stamp_file(line_dir, name));
  for (std::size_t k = 0; k + 1 < s.uncertainty.size(); k += 2)
    if (s.uncertainty[k] == "--calibration" || s.uncertainty[k] == "--sigma-trajectory")
      in.push_back(stamp_file(line_dir, s.uncertainty[k + 1]));
  return in;
}

std::vector<std::string> output_names(const TaskSettings& s,
                                      const std::optional<DeckFiles>& files) {
  std::vector<std::string> out = {"report.txt"};
  if (files) out.insert(out.end(), files->outputs.begin(), files->outputs.end());
  if (s.las) out.push_back("points.las");
  // The page stands for the quick-look products: removing them makes the line run again.
  if (s.quicklook) out.push_back("quicklook/index.html");
  return out;
}

std::vector<std::string> beamfall_arguments(const TaskSettings& s, const LineJob& job) {
  std::vector<std::string> a = {s.beamfall};
  if (s.las)
    a.insert(a.end(),
             {"--las", "points.las", "--line-id", std::to_string(job.id), "--date", job.date});
  if (!s.roll0.empty()) a.insert(a.end(), {"--roll0", s.roll0});
  if (s.rigorous) a.push_back("--rigorous");
  if (!s.boresight.empty()) a.insert(a.end(), {"--boresight", s.boresight});
  if (!s.range_offset.empty()) a.insert(a.end(), {"--range-offset", s.range_offset});
  a.insert(a.end(), s.uncertainty.begin(), s.uncertainty.end());
  a.insert(a.end(), {"--threads", std::to_string(s.threads), "--manifest", kManifestFile});
  return a;
}

// Midnight (UTC) of the flight date, so that a LAS header is the same on every run.
std::string source_date_epoch(const std::string& date) {
  using namespace std::chrono;
  const year_month_day d{year(std::stoi(date.substr(0, 4))),
                         month(static_cast<unsigned>(std::stoi(date.substr(5, 2)))),
                         day(static_cast<unsigned>(std::stoi(date.substr(8, 2))))};
  return std::to_string(sys_days(d).time_since_epoch().count() * 86400LL);
}

int run_beamfall(const TaskSettings& s, const LineJob& job, const std::string& line_dir) {
  kit::Command c;
  c.argv = beamfall_arguments(s, job);
  c.dir = line_dir;
  c.stdin_file = deck_of(line_dir);
  c.stdout_file = "report.txt";
  if (s.las) c.env.emplace_back("SOURCE_DATE_EPOCH", source_date_epoch(job.date));
  return kit::run_command(c);
}

int run_quicklook(const TaskSettings& s, const std::string& line_dir,
                  const std::optional<DeckFiles>& files) {
  kit::Command c;
  c.argv = {s.quicklook_program, deck_of(line_dir), kManifestFile};
  // A deck that writes its points to the LAS file only: the quick look reads them there.
  if (s.las && files && files->points.empty()) c.argv.insert(c.argv.end(), {"--las", "points.las"});
  c.dir = line_dir;
  c.stdout_file = "quicklook.log";
  c.stderr_to_stdout = true;
  return kit::run_command(c);
}

// The manifest beamfall wrote, left in place for the quick look; null when there is none.
nlohmann::json read_manifest_file(const std::string& line_dir) {
  std::ifstream in(line_dir + "/" + kManifestFile, std::ios::binary);
  if (!in) return nullptr;
  std::ostringstream text;
  text << in.rdbuf();
  nlohmann::json j = nlohmann::json::parse(text.str(), nullptr, false);
  return j.is_object() ? j : nlohmann::json(nullptr);
}

volatile std::sig_atomic_t interrupted = 0;

extern "C" void note_interrupt(int signal) {
  interrupted = signal;
}

// The task's own interrupt is noted, not obeyed at once: it ends the task only after the
// program it waits for, and before a record is written.
void note_interrupts() {
  struct sigaction a {};
  a.sa_handler = note_interrupt;
  sigemptyset(&a.sa_mask);
  for (int s : {SIGINT, SIGTERM, SIGHUP})
    ::sigaction(s, &a, nullptr);
}

// A program ended by an interrupt (or stopped by one, as beamfall does, with 128 + its
// number): the line was interrupted, not failed. A cancelled Slurm job may signal the
// program before the task.
bool interrupted_status(int status) {
  return status == 128 + SIGINT || status == 128 + SIGTERM || status == 128 + SIGHUP;
}

}  // namespace

LineOptions line_options(const TaskSettings& s, const LineJob& job) {
  LineOptions o;
  o.las = s.las;
  if (s.las) {
    o.line_id = job.id;
    o.date = job.date;
  }
  o.roll0 = s.roll0;
  o.rigorous = s.rigorous;
  o.boresight = s.boresight;
  o.range_offset = s.range_offset;
  o.uncertainty = s.uncertainty;
  o.quicklook = s.quicklook;
  o.threads = s.threads;
  return o;
}

std::string seconds_text(double seconds) {
  char buf[32];
  const auto r = std::to_chars(buf, buf + sizeof buf, seconds, std::chars_format::fixed, 3);
  return std::string(buf, r.ptr);
}

Failure line_failure(int status, const nlohmann::json& manifest) {
  const std::optional<kit::Manifest> m =
      manifest.is_object() ? kit::manifest_from_json(manifest) : std::nullopt;
  if (m && m->summary && m->summary->points_output == 0) return Failure::no_points;
  return status != 0 ? Failure::exit_status : Failure::none;
}

Failure line_failure(const LineRecord& record) {
  return line_failure(record.status, record.manifest);
}

std::string failure_text(Failure f, int status) {
  switch (f) {
    case Failure::none:
      return "";
    case Failure::exit_status:
      return "exit status " + std::to_string(status);
    case Failure::no_points:
      return "no points";
  }
  return "";
}

std::string line_result(const std::string& name, const std::optional<LineRecord>& record) {
  if (!record) return name + ": FAILED (exit status none, no record)";
  const Failure f = line_failure(*record);
  if (f == Failure::none) return name + ": done in " + seconds_text(record->seconds) + " s";
  return name + ": FAILED (" + failure_text(f, record->status) + ")";
}

int run_line_task(const TaskSettings& s, const LineJob& job) {
  note_interrupts();
  const std::string line_dir = line_dir_of(s, job);
  ::unlink((line_dir + "/" + kRecordName).c_str());
  ::unlink((line_dir + "/" + kManifestFile).c_str());
  const auto start = std::chrono::steady_clock::now();
  const std::optional<DeckFiles> files = deck_files_of(line_dir);
  int status = run_beamfall(s, job, line_dir);
  nlohmann::json manifest = read_manifest_file(line_dir);
  // A run that ended normally but output no point failed as a line: status 1, as for
  // GNU parallel, Slurm and every reader of the record, and no quick look of nothing.
  if (status == 0 && line_failure(status, manifest) != Failure::none) status = 1;
  // An interrupt that came as beamfall ended stops the line before its quick look.
  if (status == 0 && s.quicklook && interrupted == 0) status = run_quicklook(s, line_dir, files);
  if (interrupted != 0 || interrupted_status(status)) {
    // No record: the next run takes the line up again.
    ::unlink((line_dir + "/" + kManifestFile).c_str());
    return interrupted != 0 ? 128 + interrupted : status;
  }
  LineRecord r;
  r.status = status;
  r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  r.options = line_options(s, job);
  r.binary = stamp_file(line_dir, s.beamfall);
  r.inputs = input_stamps(s, line_dir, files);
  for (const std::string& name : output_names(s, files))
    r.outputs.push_back(stamp_file(line_dir, name));
  r.manifest = std::move(manifest);
  ::unlink((line_dir + "/" + kManifestFile).c_str());
  save_record(line_dir, r);
  if (!s.quiet) std::printf("%s\n", line_result(job.name, r).c_str());
  return status;
}

bool line_is_current(const TaskSettings& s, const LineJob& job) {
  const std::string line_dir = line_dir_of(s, job);
  const std::optional<LineRecord> r = load_record(line_dir);
  if (!r || line_failure(*r) != Failure::none || !same_outputs(r->options, line_options(s, job)) ||
      r->outputs.empty())
    return false;
  const std::vector<FileStamp> inputs = input_stamps(s, line_dir, deck_files_of(line_dir));
  const FileStamp binary = stamp_file(line_dir, s.beamfall);
  if (r->binary != binary || r->inputs != inputs) return false;
  std::int64_t newest = binary.mtime_ns;
  for (const FileStamp& f : inputs) {
    if (!f.exists) return false;
    newest = std::max(newest, f.mtime_ns);
  }
  return std::all_of(r->outputs.begin(), r->outputs.end(), [&](const FileStamp& o) {
    return o.exists && stamp_file(line_dir, o.name) == o && o.mtime_ns >= newest;
  });
}

}  // namespace campaign

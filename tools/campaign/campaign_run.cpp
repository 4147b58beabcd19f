#include "campaign_run.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "campaign/folder/lines.hpp"
#include "engines.hpp"
#include "kit/program_path.hpp"
#include "kit/spawn.hpp"
#include "run/session.hpp"

namespace campaign {

namespace fs = std::filesystem;

namespace {

const char* const kProg = "beamfall-campaign";

std::string absolute(const std::string& program) {
  const std::string p =
      program.find('/') == std::string::npos ? kit::find_on_path(program).string() : program;
  std::error_code ec;
  const fs::path canonical = fs::canonical(p, ec);
  return ec ? p : canonical.string();
}

// Two runs on one campaign would run the same lines into the same folders. The lock is
// the process's until it ends; the programs it starts do not inherit it.
void lock_campaign(const std::string& state_dir, const std::string& dir) {
  const int fd = ::open((state_dir + "/lock").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) throw kit::ToolError("cannot create " + state_dir + "/lock");
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) throw kit::ToolError("another run is working on " + dir);
}

// beamfall's error and warning lines start with "***" (after blanks).
bool stars_line(const std::string& line) {
  const std::size_t at = line.find_first_not_of(' ');
  return at != std::string::npos && line.compare(at, 3, "***") == 0;
}

// The report's last error or warning line, else its last line: what says why a line failed,
// also when a line without points ended with its report's summary.
std::string report_reason(const std::string& line_dir) {
  std::string last, last_stars, line;
  const auto end_line = [&] {
    last = line;
    if (stars_line(line)) last_stars = line;
    line.clear();
  };
  if (FILE* f = std::fopen((line_dir + "/report.txt").c_str(), "rb")) {
    for (int ch; (ch = std::fgetc(f)) != EOF;) {
      if (ch == '\n')
        end_line();
      else
        line += static_cast<char>(ch);
    }
    if (!line.empty()) end_line();
    std::fclose(f);
  }
  return last_stars.empty() ? last : last_stars;
}

// Lines scheduled that failed (see line_failure) or left no record, with their report's reason.
bool report_failures(const std::string& campaign_dir, const std::vector<LineJob>& jobs) {
  std::size_t failed = 0;
  for (const LineJob& j : jobs) {
    const std::string line_dir = campaign_dir + "/" + j.name;
    const std::optional<LineRecord> r = load_record(line_dir);
    const std::string failure = r ? failure_text(line_failure(*r), r->status) : "no record";
    if (failure.empty()) continue;
    if (failed++ == 0)
      std::printf("\nFailed lines:\n%-30s %-14s %s\n", "line", "failure", "from the report");
    std::printf("%-30s %-14s %s\n", j.name.c_str(), failure.c_str(),
                report_reason(line_dir).c_str());
  }
  return failed == 0;
}

// The summary: this program's own, or the program BEAMFALL_CAMPAIGN_SUMMARY names.
int run_summary(const std::string& campaign_dir) {
  std::fflush(stdout);
  const char* other = std::getenv("BEAMFALL_CAMPAIGN_SUMMARY");
  if (other != nullptr && *other != '\0')
    return kit::run_command(kit::plain_command({other, campaign_dir}));
  return summary_main({campaign_dir});
}

TaskSettings settings_of(const RunOptions& o, const std::string& campaign_dir) {
  TaskSettings s;
  s.campaign_dir = campaign_dir;
  s.beamfall = absolute(locate_program("BEAMFALL", "beamfall"));
  s.las = o.las;
  s.quicklook = o.quicklook;
  s.roll0 = o.roll0;
  s.rigorous = o.rigorous;
  s.boresight = o.boresight;
  s.range_offset = o.range_offset;
  s.uncertainty = o.uncertainty;
  if (!kit::is_program_file(s.beamfall))
    throw kit::ToolError("beamfall not found (" + s.beamfall + "); set BEAMFALL");
  if (o.quicklook) {
    s.quicklook_program = absolute(locate_program("BEAMFALL_QUICKLOOK", "beamfall-quicklook"));
    if (!kit::is_program_file(s.quicklook_program))
      throw kit::ToolError("beamfall-quicklook not found; set BEAMFALL_QUICKLOOK");
  }
  return s;
}

// Each line's beamfall threads on this machine: --threads, else the cores the campaign may
// use shared among the lines that run at once (`jobs`, no more than the `lines` to run), so
// that lines x threads fits the cores.
int line_threads(int threads, int jobs, std::size_t lines) {
  if (threads > 0) return threads;
  const auto at_once =
      static_cast<int>(std::min<std::size_t>(static_cast<std::size_t>(jobs), lines));
  return std::max(1, bf::usable_cores() / std::max(1, at_once));
}

// The lines that need running, in folder order; the others are up to date.
std::vector<LineJob> plan(const RunOptions& o, const TaskSettings& s,
                          const std::vector<std::string>& names) {
  const std::vector<int> ids = line_ids(names);
  std::vector<LineJob> todo;
  for (std::size_t k = 0; k < names.size(); ++k) {
    const LineJob job{names[k], ids[k], line_date(s.campaign_dir + "/" + names[k], o.date)};
    if (o.las && !valid_date(job.date))
      throw kit::ToolError(names[k] +
                           ": no flight date (a one-line date file YYYY-MM-DD, or --date)");
    if (o.force || !line_is_current(s, job)) todo.push_back(job);
  }
  return todo;
}

}  // namespace

std::string self_path() {
  const fs::path p = kit::own_path();
  return p.empty() ? std::string(kProg) : p.string();
}

std::string locate_program(const char* env_var, const std::string& name) {
  const char* set = std::getenv(env_var);
  if (set != nullptr && *set != '\0') return set;
  return kit::find_program(name).string();
}

int run_main(const std::vector<std::string>& args) {
  const RunOptions o = parse_run_options(args);
  if (!fs::is_directory(o.dir)) throw kit::ToolError(o.dir + ": no such campaign folder");
  const std::string campaign_dir = fs::canonical(o.dir).string();
  EngineRun e;
  e.settings = settings_of(o, campaign_dir);
  const std::vector<std::string> names = list_lines(campaign_dir);
  if (names.empty()) throw kit::ToolError(o.dir + ": no line folders with a deck");
  e.self = self_path();
  e.task = task_program(e.self);
  e.state_dir = campaign_dir + "/.campaign";
  fs::create_directories(e.state_dir);
  lock_campaign(e.state_dir, o.dir);
  e.todo_file = e.state_dir + "/todo.list";
  e.jobs = plan(o, e.settings, names);
  write_todo(e.todo_file, e.jobs);
  const std::size_t n = e.jobs.size();
  std::printf("%s: %zu line(s), %zu up to date, %zu to run\n", kProg, names.size(),
              names.size() - n, n);
  bool ok = true;
  if (n > 0) {
    if (o.slurm) {
      e.settings.threads = o.threads > 0 ? o.threads : 1;
      run_slurm(e, o.partition, o.max_running);
    } else {
      const unsigned cores = std::thread::hardware_concurrency();
      const int jobs = o.jobs > 0 ? o.jobs : static_cast<int>(cores > 0 ? cores : 1);
      e.settings.threads = line_threads(o.threads, jobs, n);
      run_parallel(e, jobs);
    }
    ok = report_failures(campaign_dir, e.jobs);
  }
  if (run_summary(campaign_dir) != 0) ok = false;
  return ok ? 0 : 1;
}

}  // namespace campaign

#include "engines.hpp"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "kit/program_path.hpp"
#include "kit/spawn.hpp"

namespace campaign {

namespace {

const char* const kProg = "beamfall-campaign";

std::string file_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::int64_t mtime_ns(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return -1;
  return static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec;
}

// A file holding `text`, or an error: a file left unwritten would be taken for another.
void write_text(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  out.close();
  if (!out) throw kit::ToolError("cannot write " + path);
}

}  // namespace

void write_todo(const std::string& path, const std::vector<LineJob>& jobs) {
  std::string text;
  for (const LineJob& j : jobs) {
    for (const std::string& field : {j.name, std::to_string(j.id), j.date}) {
      text += field;
      text += '\0';
    }
  }
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  if (!out.flush()) throw kit::ToolError("cannot write " + path);
}

std::vector<LineJob> read_todo(const std::string& path) {
  const std::string text = file_text(path);
  std::vector<std::string> fields;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = text.find('\0', at);
    if (end == std::string::npos) break;
    fields.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  std::vector<LineJob> jobs;
  for (std::size_t k = 0; k + 2 < fields.size(); k += 3)
    jobs.push_back({fields[k], std::atoi(fields[k + 1].c_str()), fields[k + 2]});
  return jobs;
}

namespace {

sigset_t stop_signals() {
  sigset_t set;
  sigemptyset(&set);
  for (int s : {SIGINT, SIGTERM, SIGHUP})
    sigaddset(&set, s);
  return set;
}

// Ends this process by `signal`, as its default action would, so that a shell sees a command
// ended by an interrupt (a loop over campaigns stops at Ctrl-C); 128 + its number should the
// signal not end it.
[[noreturn]] void end_by_signal(int signal) {
  std::fflush(stdout);
  struct sigaction dfl {};
  dfl.sa_handler = SIG_DFL;
  sigemptyset(&dfl.sa_mask);
  ::sigaction(signal, &dfl, nullptr);
  sigset_t one;
  sigemptyset(&one);
  sigaddset(&one, signal);
  ::raise(signal);
  ::sigprocmask(SIG_UNBLOCK, &one, nullptr);
  std::_Exit(128 + signal);
}

// The signal mask as it was, whatever way the wait ends.
class BlockedSignals {
 public:
  explicit BlockedSignals(const sigset_t& block) { ::sigprocmask(SIG_BLOCK, &block, &before_); }
  ~BlockedSignals() { ::sigprocmask(SIG_SETMASK, &before_, nullptr); }
  BlockedSignals(const BlockedSignals&) = delete;
  BlockedSignals& operator=(const BlockedSignals&) = delete;

 private:
  sigset_t before_;
};

// Runs GNU parallel to its end. An interrupt that did not come from the terminal is passed on
// (a TERM again every second: parallel ignores it until its first jobs have started), so that
// parallel ends its jobs as it does on its own interrupts (HUP: it lets the running ones finish)
// and the campaign's lock is held until no task runs. A signal sent to the whole process group
// reaches parallel twice, which changes nothing. A signal from the terminal reached parallel
// already. Ends by the interrupt's signal.
void wait_for_parallel(const kit::Command& c) {
  sigset_t set = stop_signals();
  // Wakes the wait when parallel ends (main has taken SIGCHLD back from an ignoring parent).
  ::sigaddset(&set, SIGCHLD);
  int interrupt = 0;
  {
    const BlockedSignals blocked(set);
    const pid_t pid = kit::start(c);
    bool forwarded = false;
    while (kit::poll_exit(pid) < 0) {
      siginfo_t info{};
      const timespec second{1, 0};
      const int signal = ::sigtimedwait(&set, &info, &second);
      if (signal > 0 && signal != SIGCHLD) {
        interrupt = signal;
        forwarded = info.si_code != SI_KERNEL;
        if (forwarded) ::kill(pid, signal);
      } else if (signal < 0 && forwarded && interrupt == SIGTERM) {
        ::kill(pid, SIGTERM);
      }
    }
  }
  if (interrupt != 0) end_by_signal(interrupt);
}

}  // namespace

std::string task_program(const std::string& self) {
  const std::filesystem::path task =
      kit::find_program_from(std::filesystem::path(self).parent_path(), "beamfall-campaign-task");
  return task.has_parent_path() ? task.string() : self;
}

void run_parallel(EngineRun& e, int jobs) {
  kit::Command c;
  c.argv = {"parallel",
            "--will-cite",
            "-q",
            "-0",
            "-N3",
            "-a",
            e.todo_file,
            "--joblog",
            e.state_dir + "/joblog",
            "--jobs",
            std::to_string(jobs)};
  if (::isatty(1)) {
    c.argv.insert(c.argv.end(), {"--eta", "--bar"});
    e.settings.quiet = true;
  }
  c.argv.insert(c.argv.end(), {e.task, "_task"});
  // parallel starts each task through a shell (the user's unless PARALLEL_SHELL says): sh, not
  // an interactive user's bash, is the cheaper start, and the quoted task needs no more.
  if (std::getenv("PARALLEL_SHELL") == nullptr) c.env.emplace_back("PARALLEL_SHELL", "/bin/sh");
  for (const std::string& a : task_arguments(e.settings))
    c.argv.push_back(a);
  std::fflush(stdout);
  wait_for_parallel(c);  // a line's failure is told by its record
}

namespace {

// Tasks in one array: Slurm refuses an array index of MaxArraySize or more.
std::size_t slurm_array_limit() {
  std::string config;
  try {
    config = kit::capture(kit::plain_command({"scontrol", "show", "config"})).second;
  } catch (const std::exception&) {
  }
  long max = 1001;
  std::istringstream lines(config);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("MaxArraySize", 0) != 0) continue;
    const std::size_t eq = line.find('=');
    if (eq != std::string::npos) max = std::atol(line.c_str() + eq + 1);
  }
  if (max <= 0) max = 1001;
  return static_cast<std::size_t>(max > 2 ? max - 1 : 1);
}

// The number of tasks of the job Slurm counts as running.
std::size_t slurm_running(const std::string& jobid) {
  try {
    const std::string out = kit::capture(kit::plain_command({"squeue", "-h", "-r", "-j", jobid,
                                                             "-t", "RUNNING", "-o", "%i"}))
                                .second;
    std::size_t n = 0;
    for (char ch : out)
      n += ch == '\n';
    return n;
  } catch (const std::exception&) {
    return 0;
  }
}

// The leading digits of sbatch --parsable's "JOBID[;CLUSTER]", or "".
std::string job_id(const std::string& text) {
  std::size_t n = 0;
  while (n < text.size() && text[n] >= '0' && text[n] <= '9')
    ++n;
  return text.substr(0, n);
}

// Prints each line that has finished since the last call, with the lines done, running and
// left; on a terminal a status line, overwritten by the next call, shows the counts between.
class SlurmProgress {
 public:
  SlurmProgress(const EngineRun& e, std::string start_file)
      : e_(e), start_(std::move(start_file)), reported_(e.jobs.size(), false) {}

  void update(const std::string& jobid, bool final = false) {
    std::vector<std::size_t> fresh;
    const std::int64_t start = mtime_ns(start_);
    for (std::size_t k = 0; k < e_.jobs.size(); ++k) {
      if (reported_[k]) continue;
      // A line has finished when its record is newer than the first submission: its task
      // removes the old one when it starts and writes the new one at its end.
      if (final || mtime_ns(record_path(k)) > start) {
        fresh.push_back(k);
        reported_[k] = true;
        ++done_;
      }
    }
    // Slurm counts a task as running for a moment after its record is written: no more tasks
    // run than lines are not done (the last line's count once read "1 running, 0 left").
    const std::size_t not_done = e_.jobs.size() - done_;
    const std::size_t running = std::min(jobid.empty() ? 0 : slurm_running(jobid), not_done);
    const std::size_t left = not_done - running;
    std::string counts = "[";
    counts += std::to_string(done_) + " done, " + std::to_string(running) + " running, " +
              std::to_string(left) + " left]";
    const bool tty = ::isatty(1);
    if (tty) std::fputs("\r\033[K", stdout);
    for (std::size_t k : fresh) {
      std::printf("%s %s\n", line_result(e_.jobs[k].name, load_record(line_dir(k))).c_str(),
                  counts.c_str());
    }
    if (tty && !jobid.empty()) std::printf("Slurm job %s: %s", jobid.c_str(), counts.c_str());
    std::fflush(stdout);
  }

 private:
  std::string line_dir(std::size_t k) const {
    return e_.settings.campaign_dir + "/" + e_.jobs[k].name;
  }
  std::string record_path(std::size_t k) const { return line_dir(k) + "/" + kRecordName; }

  const EngineRun& e_;
  std::string start_;
  std::vector<bool> reported_;
  std::size_t done_ = 0;
};

// The batch script Slurm runs: the task program itself as its interpreter, so the task's
// arguments reach it untouched; a path a #! line cannot hold goes through exec "$@".
std::string batch_script(const std::string& task) {
  if (task.size() < 120 && task.find_first_of(" \t\n") == std::string::npos)
    return "#!" + task + " _array\n";
  return "#!/bin/sh\nexec \"$@\"\n";
}

std::vector<std::string> batch_arguments(const EngineRun& e, std::size_t first) {
  std::vector<std::string> a;
  if (batch_script(e.task).rfind("#!/bin/sh", 0) == 0) a = {e.task, "_array"};
  for (const std::string& s : task_arguments(e.settings))
    a.push_back(s);
  a.insert(a.end(), {e.todo_file, std::to_string(first)});
  return a;
}

// Waits up to `seconds` for an interrupt; its signal number, else 0.
int interrupt_within(double seconds) {
  const sigset_t set = stop_signals();
  timespec t{};
  t.tv_sec = static_cast<time_t>(seconds);
  t.tv_nsec = static_cast<long>((seconds - static_cast<double>(t.tv_sec)) * 1e9);
  const int signal = ::sigtimedwait(&set, nullptr, &t);
  return signal > 0 ? signal : 0;
}

// Cancels the submitted array, ends sbatch when it still runs, and exits as the signal asks.
[[noreturn]] void cancel_array(pid_t sbatch, const std::string& idfile, int signal) {
  const std::string id = job_id(file_text(idfile));
  if (!id.empty()) kit::run_command(kit::plain_command({"scancel", id}));
  if (sbatch > 0) {
    ::kill(sbatch, SIGTERM);
    kit::wait_for(sbatch);
  }
  end_by_signal(signal);
}

double poll_seconds() {
  const char* v = std::getenv("BFC_POLL_SECONDS");
  const double s = v != nullptr ? std::atof(v) : 3.0;
  return s > 0 && s < 3600 ? s : 3.0;
}

// One job array of `count` lines from entry `first`, waited for while its progress is
// printed. An interrupt cancels the array (sbatch --wait would leave it running) and ends
// sbatch, which would wait on for a controller that may be gone.
void run_array(const EngineRun& e, SlurmProgress& progress, std::size_t first, std::size_t count,
               const std::string& partition, int max_running) {
  std::string array = "0-";
  array += std::to_string(count - 1);
  if (max_running > 0) {
    array += '%';
    array += std::to_string(max_running);
  }
  // Slurm expands % and \ in file names; a campaign path holding them logs nowhere.
  const std::string out = e.state_dir.find_first_of("%\\") == std::string::npos
                              ? e.state_dir + "/slurm-%A_%a.out"
                              : "/dev/null";
  const std::string script = e.state_dir + "/slurm-task";
  write_text(script, batch_script(e.task));
  const std::string idfile = e.state_dir + "/slurm.jobid";
  kit::Command c;
  c.argv = {"sbatch",
            "--parsable",
            "--wait",
            "--array=" + array,
            "--job-name=beamfall-campaign",
            "--output=" + out,
            "--chdir=" + e.settings.campaign_dir,
            "--export=ALL"};
  if (!partition.empty()) c.argv.push_back("--partition=" + partition);
  // Each task's cores for its line's beamfall --threads.
  if (e.settings.threads > 1)
    c.argv.push_back("--cpus-per-task=" + std::to_string(e.settings.threads));
  c.argv.push_back(script);
  for (const std::string& a : batch_arguments(e, first))
    c.argv.push_back(a);
  c.stdout_file = idfile;
  const pid_t pid = kit::start(c);
  while (kit::poll_exit(pid) < 0) {
    if (const int signal = interrupt_within(poll_seconds())) cancel_array(pid, idfile, signal);
    const std::string id = job_id(file_text(idfile));
    if (!id.empty()) progress.update(id);
  }
  // An interrupt that came as sbatch ended: the arrays still to come are not submitted.
  if (const int signal = interrupt_within(0)) cancel_array(-1, idfile, signal);
  const std::string id = job_id(file_text(idfile));
  if (id.empty()) throw kit::ToolError("sbatch did not accept the job array");
  progress.update("");
  std::printf("%s: Slurm job %s finished\n", kProg, id.c_str());
  std::fflush(stdout);
}

}  // namespace

void run_slurm(const EngineRun& e, const std::string& partition, int max_running) {
  const std::string start_file = e.state_dir + "/slurm.start";
  write_text(start_file, "");
  const std::size_t n = e.jobs.size(), limit = slurm_array_limit();
  if (n <= limit) {
    std::printf("%s: submitting %zu line(s) as one Slurm job array; waiting for it to finish\n",
                kProg, n);
  } else {
    std::printf(
        "%s: submitting %zu line(s) as %zu Slurm job arrays of at most %zu, one after the other\n",
        kProg, n, (n + limit - 1) / limit, limit);
  }
  std::fflush(stdout);
  // The interrupts are taken in the poll loop; the tasks' programs get them as usual.
  const sigset_t set = stop_signals();
  ::sigprocmask(SIG_BLOCK, &set, nullptr);
  SlurmProgress progress(e, start_file);
  for (std::size_t first = 0; first < n; first += limit)
    run_array(e, progress, first, std::min(limit, n - first), partition, max_running);
  ::sigprocmask(SIG_UNBLOCK, &set, nullptr);
  // A line without a new record (its task never ran, or was killed) is reported too.
  progress.update("", true);
}

int run_array_task(const TaskSettings& s, const std::string& todo_file, const std::string& first) {
  const char* task = std::getenv("SLURM_ARRAY_TASK_ID");
  if (task == nullptr) throw kit::ToolError("_array: not a Slurm array task");
  const std::vector<LineJob> jobs = read_todo(todo_file);
  const std::size_t k = static_cast<std::size_t>(std::atol(first.c_str()) + std::atol(task));
  if (k >= jobs.size())
    throw kit::ToolError("_array: no line " + std::to_string(k) + " in " + todo_file);
  return run_line_task(s, jobs[k]);
}

}  // namespace campaign

// Runs that must not harm their files, on the real binary:
//  - a deck (or --las) that names an output as an input or as another output,
//    under the same name, "./name", a path through another directory name, a
//    symbolic link or a hard link, stops with one "*** file clash" line and
//    exit status 1, and leaves every file in the directory exactly as it was
//    (the fault: a point file named as the scanner file deleted the scanner
//    file and the run reported success); the deck read from a file and the
//    report written to one count as an input and an output (the fault:
//    `beamfall < my.deck` with point file my.deck overwrote the deck and exited
//    0, and a report redirected into the point file was mixed with the
//    points); a clash with the report is told on standard error alone;
//  - a run stopped by SIGINT or SIGTERM keeps its report so far, ends it with
//    the interrupt line, exits 128 + the signal number, and leaves every output
//    ending with a whole record (the fault: the whole report was lost);
//  - a run whose scanner loop stops leaves no progress line behind on the
//    terminal (the fault: it was cleared only when the loop ended normally),
//    and tells its stop there, on standard error (the fault: with the report
//    in a file, a failed run said nothing).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "../run/run_util.hpp"

namespace fs = std::filesystem;

namespace {

using bftest::beside;
using bftest::lines_of;
using bftest::slurp;
using bftest::spit;
using bftest::TempDir;
using bftest::wait_status;

// Starts beamfall in `dir` with standard input, output and error on the
// descriptors `in`, `out` and `err`, and files limited to `max_file_size` bytes.
pid_t start_beamfall_on(const fs::path& dir, const std::vector<std::string>& args, int in, int out,
                        int err, rlim_t max_file_size = RLIM_INFINITY) {
  std::vector<const char*> argv{BEAMFALL_BIN};
  for (const auto& a : args)
    argv.push_back(a.c_str());
  argv.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    const rlimit limit{max_file_size, max_file_size};
    if (in < 0 || out < 0 || err < 0 || ::chdir(dir.c_str()) != 0 || ::dup2(in, 0) < 0 ||
        ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0 || ::setrlimit(RLIMIT_FSIZE, &limit) != 0)
      _exit(127);
    ::execv(BEAMFALL_BIN, const_cast<char* const*>(argv.data()));
    _exit(127);
  }
  return pid;
}

// Starts beamfall in `dir` with standard input from the descriptor `in` and
// standard output to `out`.
pid_t start_beamfall(const fs::path& dir, const std::vector<std::string>& args, int in,
                     const fs::path& out) {
  const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const pid_t pid = start_beamfall_on(dir, args, in, fd, STDERR_FILENO);
  ::close(fd);
  return pid;
}

struct Result {
  int status = -1;
  std::string stdout_text, stderr_text;
};

// Runs beamfall in `dir` on the deck in `deck_file`, its report appended to
// the existing `report_file` (as `>>` does: not a byte of it is lost before
// the run), its standard error kept.
Result run_on_files(const fs::path& dir, const std::vector<std::string>& args,
                    const fs::path& deck_file, const fs::path& report_file) {
  const fs::path err_file = beside(dir, ".stderr");
  const int in = ::open(deck_file.c_str(), O_RDONLY);
  const int out = ::open(report_file.c_str(), O_WRONLY | O_APPEND);
  const int err = ::open(err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const pid_t pid = start_beamfall_on(dir, args, in, out, err);
  for (const int fd : {in, out, err})
    ::close(fd);
  Result r{wait_status(pid), slurp(report_file), slurp(err_file)};
  fs::remove(err_file);
  return r;
}

Result run_beamfall(const fs::path& dir, const std::string& deck,
                    const std::vector<std::string>& args = {}) {
  const fs::path deck_file = beside(dir, ".deck"), out = beside(dir, ".stdout");
  spit(deck_file, deck);
  spit(out, "");
  Result r = run_on_files(dir, args, deck_file, out);
  fs::remove(deck_file);
  fs::remove(out);
  return r;
}

// Every entry under a directory: its kind and its bytes or link target.
std::map<std::string, std::string> snapshot(const fs::path& dir) {
  std::map<std::string, std::string> entries;
  for (const auto& e : fs::recursive_directory_iterator(dir)) {
    const std::string name = fs::relative(e.path(), dir).string();
    struct stat st {};
    ::lstat(e.path().c_str(), &st);
    if (e.is_symlink()) {
      entries[name] = "link to " + fs::read_symlink(e.path()).string();
    } else if (e.is_directory()) {
      entries[name] = "directory";
    } else {
      entries[name] = "file, inode " + std::to_string(st.st_ino) + ": " + slurp(e.path());
    }
  }
  return entries;
}

// ---------------------------------------------------------------------------
// File clashes

// One of the run's files: its deck line (or option) and the role the message gives it.
struct Role {
  const char* key;   // scanner, trajectory, geoid, deck, report, points, centre, cal, las
  const char* text;  // as the clash message names it
};

constexpr Role kScanner{"scanner", "name line 1 (scanner file)"};
constexpr Role kTrajectory{"trajectory", "name line 2 (trajectory file)"};
constexpr Role kGeoid{"geoid", "name line 3 (geoid grid file)"};
constexpr Role kPoints{"points", "name line 4 (point file)"};
constexpr Role kCentre{"centre", "name line 5 (centre file)"};
constexpr Role kCal{"cal", "the cross-profile file"};
constexpr Role kLas{"las", "--las"};
// Standard input and output when they are files: named by no deck line.
constexpr Role kDeck{"deck", "the deck (standard input)"};
constexpr Role kReport{"report", "the report (standard output)"};

bool is_role(const Role& r, const Role& which) {
  return std::string_view(r.key) == which.key;
}

bool is_stream(const Role& r) {
  return is_role(r, kDeck) || is_role(r, kReport);
}

// Another name for the file `real` in the run directory, made there by setup.
struct Alias {
  const char* kind;
  std::function<std::string(const fs::path& dir, const std::string& real)> make;
};

const std::vector<Alias>& aliases() {
  static const std::vector<Alias> all{
      {"same_name", [](const fs::path&, const std::string& r) { return r; }},
      {"dot_slash", [](const fs::path&, const std::string& r) { return "./" + r; }},
      {"through_other_directory",
       [](const fs::path& d, const std::string& r) {
         fs::create_directory(d / "sub");
         return "sub/../" + r;
       }},
      {"through_directory_link",
       [](const fs::path& d, const std::string& r) {
         fs::create_directory_symlink(".", d / "here");
         return "here/" + r;
       }},
      {"symbolic_link",
       [](const fs::path& d, const std::string& r) {
         fs::create_symlink(r, d / "alias.lnk");
         return std::string("alias.lnk");
       }},
      {"hard_link",
       [](const fs::path& d, const std::string& r) {
         // A hard link needs the file: an old output of that name, when there is none yet.
         if (!fs::exists(d / r)) spit(d / r, "an old file\n");
         fs::create_hard_link(d / r, d / "alias.hard");
         return std::string("alias.hard");
       }},
  };
  return all;
}

struct ClashCase {
  std::string name;
  Role output;  // the file named second in the check order: the one reported
  Role other;   // an input, or an output checked before it
  const Alias* alias;
  bool binout = true;
};

void PrintTo(const ClashCase& c, std::ostream* os) {
  *os << c.name;
}

std::vector<ClashCase> clash_cases() {
  std::vector<ClashCase> cases;
  for (const Role& in : {kScanner, kTrajectory, kGeoid})
    for (const Role& out : {kPoints, kCentre, kCal, kLas})
      for (const Alias& a : aliases())
        cases.push_back({std::string(out.key) + "_is_" + in.key + "_by_" + a.kind, out, in, &a});
  // Outputs against each other, the later one in the check order reported.
  const std::pair<Role, Role> output_pairs[] = {{kCentre, kPoints}, {kCal, kPoints},
                                                {kCal, kCentre},    {kLas, kPoints},
                                                {kLas, kCentre},    {kLas, kCal}};
  for (const auto& [later, earlier] : output_pairs)
    for (const Alias& a : aliases())
      cases.push_back(
          {std::string(later.key) + "_is_" + earlier.key + "_by_" + a.kind, later, earlier, &a});
  // The issue's own case: a text point file named as the trajectory file.
  cases.push_back({"text_points_is_trajectory", kPoints, kTrajectory, &aliases()[0], false});
  // The deck read from a file is an input; the report written to a file is
  // the first output, and an input, the deck included, can't be it.
  for (const Role& out : {kPoints, kCentre, kCal, kLas})
    for (const Alias& a : aliases()) {
      cases.push_back({std::string(out.key) + "_is_deck_by_" + a.kind, out, kDeck, &a});
      cases.push_back({std::string(out.key) + "_is_report_by_" + a.kind, out, kReport, &a});
    }
  for (const Role& in : {kScanner, kTrajectory, kGeoid, kDeck})
    for (const Alias& a : aliases())
      cases.push_back({std::string("report_is_") + in.key + "_by_" + a.kind, kReport, in, &a});
  cases.push_back({"text_points_is_report", kPoints, kReport, &aliases()[0], false});
  return cases;
}

// The names of a run of the small text-scanner fixture with a geoid grid,
// cross profiles and a binary point file.
struct DeckNames {
  // "deck" and "report": in the run directory when a case names them, else
  // beside it.
  std::map<std::string, std::string> name{{"scanner", "scan.txt"},
                                          {"trajectory", "traj.txt"},
                                          {"geoid", "geoid.txt"},
                                          {"points", "pts.bin"},
                                          {"centre", "cen.txt"},
                                          {"las", ""},
                                          {"deck", ""},
                                          {"report", ""}};

  std::string deck(bool binout) const {
    std::string d;
    for (const char* key : {"scanner", "trajectory", "geoid", "points", "centre"})
      d += name.at(key) + "\n";
    d += "10.0 0 0.0\n10.0 10.01\n50.0 60.0 0.0 20.0\n";
    d += binout ? "1 1 F T T T T\n" : "1 1 F F T T T\n";
    d += "0.0 0.0 0.0\n0.0 0.0 0.0\n0\n1 1000\n10.0\n";
    return d;
  }
  std::vector<std::string> args() const {
    if (name.at("las").empty()) return {};
    return {"--las", name.at("las"), "--date", "2020-03-01"};
  }
};

void copy_fixture(const fs::path& dir) {
  const fs::path src = fs::path(BEAMFALL_CASES) / "geo_text_geoid";
  for (const char* f : {"scan.txt", "traj.txt", "geoid.txt"})
    fs::copy_file(src / f, dir / f);
}

// Makes the two roles of `c` one file: the one that has a fixed or existing
// name (an input, "scan.cal", the earlier output) keeps it, the other gets the
// alias. Returns the names the message quotes: {output's, other's}.
std::pair<std::string, std::string> name_both(const ClashCase& c, const fs::path& dir,
                                              DeckNames& names) {
  const std::string output_key = c.output.key, other_key = c.other.key;
  if (output_key == "cal") {
    // "scan.cal" can't be renamed: the other file is stored under that name.
    std::string real = "scan.cal";
    if (names.name.count(other_key) && fs::exists(dir / names.name[other_key]))
      fs::rename(dir / names.name[other_key], dir / real);
    names.name[other_key] = c.alias->make(dir, real);
    return {real, names.name[other_key]};
  }
  const std::string real = other_key == "cal" ? "scan.cal" : names.name[other_key];
  names.name[output_key] = c.alias->make(dir, real);
  if (other_key != "cal") names.name[other_key] = real;
  return {names.name[output_key], real};
}

// Writes the deck and makes the report file where `names` puts them: a
// report in the run directory holds an old report already. Returns both paths.
std::pair<fs::path, fs::path> place_streams(const fs::path& dir, DeckNames& names, bool binout) {
  const std::string deck = names.name["deck"], report = names.name["report"];
  const fs::path deck_file = deck.empty() ? beside(dir, ".deck") : dir / deck;
  const fs::path report_file = report.empty() ? beside(dir, ".stdout") : dir / report;
  spit(deck_file, names.deck(binout));
  if (report.empty()) {
    spit(report_file, "");
  } else if (!fs::exists(report_file)) {
    spit(report_file, "an old report\n");
  }
  return {deck_file, report_file};
}

// "role 'name'", or the role alone for standard input and output.
std::string clash_side(const Role& role, const std::string& name) {
  return is_stream(role) ? std::string(role.text) : std::string(role.text) + " '" + name + "'";
}

class FileClash : public ::testing::TestWithParam<ClashCase> {};

TEST_P(FileClash, StopsBeforeAnyFileIsTouched) {
  const ClashCase& c = GetParam();
  TempDir tmp(c.name);
  copy_fixture(tmp.path());
  DeckNames names;
  for (const Role* role : {&c.output, &c.other})
    if (is_stream(*role)) names.name[role->key] = is_role(*role, kDeck) ? "my.deck" : "report.txt";
  const auto [output_name, other_name] = name_both(c, tmp.path(), names);
  const auto [deck_file, report_file] = place_streams(tmp.path(), names, c.binout);
  const auto before = snapshot(tmp.path());

  const Result r = run_on_files(tmp.path(), names.args(), deck_file, report_file);

  EXPECT_EQ(r.status, 1);
  const std::string message = "*** file clash: " + clash_side(c.output, output_name) +
                              " is the same file as " + clash_side(c.other, other_name);
  // Standard error tells the stop also when the report is a file.
  EXPECT_EQ(r.stderr_text, "beamfall: " + message + "\n");
  if (!is_role(c.output, kReport) && !is_role(c.other, kReport)) {
    EXPECT_EQ(r.stdout_text, " " + message + "\n");
  }
  EXPECT_EQ(snapshot(tmp.path()), before) << "a file was changed, created or deleted";
  if (names.name["deck"].empty()) fs::remove(deck_file);
  if (names.name["report"].empty()) fs::remove(report_file);
}

INSTANTIATE_TEST_SUITE_P(Table, FileClash, ::testing::ValuesIn(clash_cases()),
                         [](const auto& param_info) { return param_info.param.name; });

// Names that only look alike, and outputs that may share a device, run as usual.
TEST(FileClash, LookalikesAndSharedDevicesRun) {
  struct Lookalike {
    const char* what;
    const char* points;
    const char* centre;
    bool binout;
  };
  const Lookalike cases[] = {
      {"the scanner file's name in another directory", "sub/scan.txt", "cen.txt", true},
      {"a point file and a centre file both on /dev/null", "/dev/null", "/dev/null", false},
      {"a name that only begins like an input", "scan.txt.bin", "traj.txt.cen", true},
  };
  for (const Lookalike& l : cases) {
    SCOPED_TRACE(l.what);
    TempDir tmp("lookalike");
    copy_fixture(tmp.path());
    fs::create_directory(tmp.path() / "sub");
    DeckNames names;
    names.name["points"] = l.points;
    names.name["centre"] = l.centre;
    const std::string inputs = slurp(tmp.path() / "scan.txt") + slurp(tmp.path() / "traj.txt") +
                               slurp(tmp.path() / "geoid.txt");
    const Result r = run_beamfall(tmp.path(), names.deck(l.binout));
    EXPECT_EQ(r.status, 0) << r.stdout_text;
    EXPECT_NE(r.stdout_text.find("Total number of points output:  18"), std::string::npos);
    EXPECT_EQ(slurp(tmp.path() / "scan.txt") + slurp(tmp.path() / "traj.txt") +
                  slurp(tmp.path() / "geoid.txt"),
              inputs);
  }
}

// ---------------------------------------------------------------------------
// Signals

// True once the process has its own handlers for SIGINT and SIGTERM (the
// "SigCgt" mask of /proc/PID/status).
bool catches_interrupts(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("SigCgt:", 0) != 0) continue;
    const unsigned long long mask = std::stoull(line.substr(7), nullptr, 16);
    const unsigned long long wanted = (1ULL << (SIGINT - 1)) | (1ULL << (SIGTERM - 1));
    return (mask & wanted) == wanted;
  }
  return false;
}

template <class Pred>
bool wait_for(Pred ready, std::chrono::seconds limit = std::chrono::seconds(60)) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!ready()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  return true;
}

// Ctrl-C while the deck is being typed: the read that waits for the next line
// returns, and the run stops with the interrupt line alone.
TEST(Interrupt, SigintWhileTheDeckWaitsForInput) {
  TempDir tmp("deck");
  int pipe_fds[2];
  ASSERT_EQ(::pipe(pipe_fds), 0);
  const fs::path out = tmp.path() / "report";
  const pid_t pid = start_beamfall(tmp.path(), {}, pipe_fds[0], out);
  ::close(pipe_fds[0]);
  ASSERT_EQ(::write(pipe_fds[1], "scan.txt\ntraj.txt\n", 18), 18);
  ASSERT_TRUE(wait_for([&] { return catches_interrupts(pid); }));
  ::kill(pid, SIGINT);
  EXPECT_EQ(wait_status(pid), 130);
  ::close(pipe_fds[1]);
  EXPECT_EQ(slurp(out), " *** interrupted by signal 2 (SIGINT)\n");
  EXPECT_FALSE(fs::exists(tmp.path() / "cen.txt"));
}

// Every line of a text output has `width` characters and the file ends with a line end.
void expect_whole_lines(const std::string& text, std::size_t width, const char* what) {
  SCOPED_TRACE(what);
  ASSERT_TRUE(text.empty() || text.back() == '\n') << "ends in a partial line";
  std::size_t bad = 0;
  for (std::size_t p = 0; p < text.size();) {
    const std::size_t e = text.find('\n', p);
    if (e - p != width) ++bad;
    p = e + 1;
  }
  EXPECT_EQ(bad, 0u) << "lines of the wrong length";
}

// True when `part` is where `whole` begins.
bool is_prefix(const std::string& part, const std::string& whole) {
  return whole.compare(0, part.size(), part) == 0 && part.size() <= whole.size();
}

// SIGTERM after the first block of points has reached the point file: the
// scanner loop stops at its next block, every output is closed with whole
// records (a prefix of the uninterrupted run's), and the report keeps what it
// had printed. The same on one thread and on several (--threads: the signal
// reaches the reading thread, the blocks read before it are written whole);
// the default takes the cores the machine gives.
class InterruptUnderThreads : public ::testing::TestWithParam<std::vector<std::string>> {};

TEST_P(InterruptUnderThreads, SigtermDuringTheScannerLoop) {
  const std::vector<std::string>& args = GetParam();
  TempDir tmp("flight");
  const fs::path full = tmp.path() / "full", cut = tmp.path() / "cut";
  // 240 s of 208-beam scans: about a million measurements, the first megabyte
  // of points (58254 records) flushed within the first 6 %.
  const std::string sim = std::string(BEAMFALL_SIM_BIN) + " --out '" + full.string() +
                          "' --duration 240 --nmeas 208 --scan-rate 20 > /dev/null";
  ASSERT_EQ(std::system(sim.c_str()), 0);
  fs::copy(full, cut);
  const std::string deck = slurp(full / "deck.txt");
  const Result whole = run_beamfall(full, deck, args);
  ASSERT_EQ(whole.status, 0) << whole.stdout_text;

  const int in = ::open((cut / "deck.txt").c_str(), O_RDONLY);
  const fs::path report = tmp.path() / "cut.report";
  const pid_t pid = start_beamfall(cut, args, in, report);
  ::close(in);
  const bool grew = wait_for([&] {
    std::error_code ec;
    return fs::file_size(cut / "points.bin", ec) > 0 && !ec;
  });
  ::kill(pid, SIGTERM);
  const int status = wait_status(pid);
  ASSERT_TRUE(grew) << "the point file never grew";
  ASSERT_EQ(status, 143) << "0 means the run ended before the signal: lengthen the flight";

  const std::string text = slurp(report);
  const std::string last = " *** interrupted by signal 15 (SIGTERM)\n";
  ASSERT_GE(text.size(), last.size());
  EXPECT_EQ(text.substr(text.size() - last.size()), last);
  EXPECT_TRUE(is_prefix(text.substr(0, text.size() - last.size()), whole.stdout_text))
      << "the report so far differs from the uninterrupted run's";

  const std::string points = slurp(cut / "points.bin");
  EXPECT_GT(points.size(), 0u);
  EXPECT_EQ(points.size() % 18, 0u) << "the point file ends in a partial record";
  EXPECT_LT(points.size(), fs::file_size(full / "points.bin"));
  EXPECT_TRUE(is_prefix(points, slurp(full / "points.bin")));
  for (const auto& [file, width] : {std::pair{"centre.txt", 62}, std::pair{"scan.cal", 20}}) {
    const std::string got = slurp(cut / file);
    expect_whole_lines(got, width, file);
    EXPECT_TRUE(is_prefix(got, slurp(full / file))) << file;
  }
  for (const char* input : {"flight.2dd", "flight.traj", "deck.txt"})
    EXPECT_EQ(slurp(cut / input), slurp(full / input)) << input;
}

INSTANTIATE_TEST_SUITE_P(Table, InterruptUnderThreads,
                         ::testing::Values(std::vector<std::string>{},
                                           std::vector<std::string>{"--threads", "1"},
                                           std::vector<std::string>{"--threads", "2"},
                                           std::vector<std::string>{"--threads", "7"}),
                         [](const auto& p) {
                           return p.param.empty() ? std::string("default")
                                                  : "threads_" + p.param.back();
                         });

// ---------------------------------------------------------------------------
// The progress line

// A pseudo-terminal: beamfall draws its progress line only on a terminal.
struct PseudoTerminal {
  int master = -1, slave = -1;
  PseudoTerminal() {
    master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) return;
    slave = ::open(::ptsname(master), O_RDWR | O_NOCTTY);
  }
  ~PseudoTerminal() {
    for (const int fd : {master, slave})
      if (fd >= 0) ::close(fd);
  }
  // All that has been written to the terminal and not read yet (the slave
  // stays open here, so nothing is lost when the writer exits).
  std::string drain() const {
    std::string text;
    pollfd p{master, POLLIN, 0};
    char buf[4096];
    while (::poll(&p, 1, 0) == 1 && (p.revents & POLLIN) != 0) {
      const ssize_t n = ::read(master, buf, sizeof buf);
      if (n <= 0) break;
      text.append(buf, static_cast<std::size_t>(n));
    }
    return text;
  }
};

// A write error stops the scanner loop after the progress line was drawn: the
// line is cleared all the same, so the terminal ends with the erase sequence,
// not with a stale line. The run is held for 0.3 s once the loop has begun so
// that a line is drawn (it is drawn a quarter of a second apart); the files'
// size limit of 8 MiB then fails a write about 40 % into the flight.
TEST(Progress, LineClearedWhenTheScannerLoopStops) {
  TempDir tmp("progress");
  const fs::path run_dir = tmp.path() / "run";
  const std::string sim = std::string(BEAMFALL_SIM_BIN) + " --out '" + run_dir.string() +
                          "' --duration 240 --nmeas 208 --scan-rate 20 > /dev/null";
  ASSERT_EQ(std::system(sim.c_str()), 0);
  PseudoTerminal tty;
  ASSERT_GE(tty.slave, 0) << "no pseudo-terminal";
  const fs::path report = tmp.path() / "report";
  const int in = ::open((run_dir / "deck.txt").c_str(), O_RDONLY);
  const int out = ::open(report.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const pid_t pid = start_beamfall_on(run_dir, {}, in, out, tty.slave, 8 << 20);
  ::close(in);
  ::close(out);
  std::string screen;
  const bool began = wait_for([&] {
    screen += tty.drain();  // never let a full terminal buffer hold the run
    std::error_code ec;
    return fs::file_size(run_dir / "points.bin", ec) > 0 && !ec;
  });
  ::kill(pid, SIGSTOP);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  ::kill(pid, SIGCONT);
  int status = -1;
  ASSERT_TRUE(wait_for([&] {
    screen += tty.drain();
    int st = 0;
    if (::waitpid(pid, &st, WNOHANG) != pid) return false;
    status = WIFEXITED(st) ? WEXITSTATUS(st) : 1000 + WTERMSIG(st);
    return true;
  }));
  screen += tty.drain();
  ASSERT_TRUE(began) << "the point file never grew";
  EXPECT_EQ(status, 1);
  const std::string text = slurp(report);
  EXPECT_NE(text.find("\n *** write error"), std::string::npos) << text;
  ASSERT_NE(screen.find("% of the scanner file"), std::string::npos)
      << "no progress line was drawn: the run ended before it was held";
  // The line is erased, and the stop is told on a line of its own after it
  // (the terminal turns its line end into "\r\n").
  const std::string erase = "\r\x1b[K";
  const std::string stop_line = lines_of(text).back();
  ASSERT_EQ(stop_line.rfind(" *** write error", 0), 0u) << text;
  const std::string told = erase + "beamfall: " + stop_line.substr(1) + "\r\n";
  ASSERT_GE(screen.size(), told.size());
  EXPECT_EQ(screen.substr(screen.size() - told.size()), told)
      << "the terminal ends with a stale progress line, or without the stop";
}

}  // namespace

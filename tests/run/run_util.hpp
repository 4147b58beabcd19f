// Runs of the real binary for the tests of its run records and options: a
// scratch directory, a run with captured output, and a simulated flight.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace bftest {

namespace fs = std::filesystem;

inline std::string slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

inline void spit(const fs::path& p, const std::string& text) {
  std::ofstream(p, std::ios::binary) << text;
}

// A fresh directory, removed when the test passed.
class TempDir {
 public:
  explicit TempDir(const std::string& tag) {
    static int serial = 0;
    path_ = fs::path(::testing::TempDir()) /
            ("beamfall-" + tag + "-" + std::to_string(::getpid()) + "-" + std::to_string(++serial));
    fs::remove_all(path_);
    fs::create_directories(path_);
  }
  ~TempDir() {
    if (!::testing::Test::HasFailure()) fs::remove_all(path_);
  }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

struct Result {
  int status = -1;  // exit status, or 1000 + the signal that ended the process
  std::string out, err;
};

// Starts beamfall in `dir` with `args`, standard input from `deck_file`,
// output and error into the files `out` and `err`.
inline pid_t start_beamfall(const fs::path& dir, const std::vector<std::string>& args,
                            const fs::path& deck_file, const fs::path& out, const fs::path& err) {
  std::vector<const char*> argv{BEAMFALL_BIN};
  for (const auto& a : args)
    argv.push_back(a.c_str());
  argv.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int in = ::open(deck_file.c_str(), O_RDONLY);
    const int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || o < 0 || e < 0 || ::chdir(dir.c_str()) != 0 || ::dup2(in, 0) < 0 ||
        ::dup2(o, 1) < 0 || ::dup2(e, 2) < 0)
      _exit(127);
    ::execv(BEAMFALL_BIN, const_cast<char* const*>(argv.data()));
    _exit(127);
  }
  return pid;
}

inline int wait_status(pid_t pid) {
  int st = 0;
  if (::waitpid(pid, &st, 0) != pid) return -1;
  return WIFEXITED(st) ? WEXITSTATUS(st) : 1000 + WTERMSIG(st);
}

// A file beside the directory `dir`, outside what it holds.
inline fs::path beside(const fs::path& dir, const std::string& suffix) {
  return dir.parent_path() / (dir.filename().string() + suffix);
}

// Runs beamfall in `dir` on the deck text `deck` (kept beside the directory).
inline Result run_beamfall(const fs::path& dir, const std::string& deck,
                           const std::vector<std::string>& args = {}) {
  const fs::path deck_file = beside(dir, ".deck"), out = beside(dir, ".stdout"),
                 err = beside(dir, ".stderr");
  spit(deck_file, deck);
  Result r;
  r.status = wait_status(start_beamfall(dir, args, deck_file, out, err));
  r.out = slurp(out);
  r.err = slurp(err);
  for (const auto& f : {deck_file, out, err})
    fs::remove(f);
  return r;
}

// Every regular file in `dir` (not below it) with its content.
inline std::map<std::string, std::string> files_in(const fs::path& dir) {
  std::map<std::string, std::string> files;
  for (const auto& e : fs::directory_iterator(dir))
    if (e.is_regular_file()) files[e.path().filename().string()] = slurp(e.path());
  return files;
}

#ifdef BEAMFALL_SIM_BIN
// A simulated flight in `dir` (deck.txt, flight.2dd, flight.traj, ...).
inline void simulate(const fs::path& dir, const std::string& sim_args) {
  const std::string cmd =
      std::string(BEAMFALL_SIM_BIN) + " --out '" + dir.string() + "' " + sim_args + " > /dev/null";
  ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
}
#endif

// Copies every file of the fixture case `name` into `dir` (the scanner file
// descriptions *.2dd.txt are not used by these tests).
inline std::string copy_case(const std::string& name, const fs::path& dir) {
  const fs::path src = fs::path(BEAMFALL_CASES) / name;
  for (const auto& e : fs::directory_iterator(src)) {
    const std::string file = e.path().filename().string();
    if (file == "expected" || file == "NOTES.md" || file == "deck") continue;
    fs::copy(e.path(), dir / file, fs::copy_options::recursive);
  }
  if (fs::exists(src / "setup")) {
    const std::string cmd = "cd '" + dir.string() + "' && sh '" + (src / "setup").string() + "'";
    EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
  }
  return slurp(src / "deck");
}

// The lines of a text.
inline std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    lines.push_back(line);
  return lines;
}

inline std::string join_lines(const std::vector<std::string>& lines) {
  std::string text;
  for (const auto& l : lines)
    text += l + "\n";
  return text;
}

}  // namespace bftest

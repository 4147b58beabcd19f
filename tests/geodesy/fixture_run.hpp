// A copy of an end-to-end fixture's inputs in a fresh directory, run by the
// real binary with extra options.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace fixture {

namespace fs = std::filesystem;

inline std::string slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// The fixture `name` run with `options`.
class FixtureRun {
 public:
  FixtureRun(const std::string& name, const std::string& options)
      : src_(fs::path(BEAMFALL_CASES) / name),
        dir_(fs::temp_directory_path() /
             ("beamfall-fixture-" + name + "-" + std::to_string(::getpid()) + "-" +
              std::to_string(serial()++))) {
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    for (const auto& e : fs::directory_iterator(src_)) {
      const std::string file = e.path().filename().string();
      if (file != "expected" && file != "NOTES.md") fs::copy(e.path(), dir_ / file);
    }
    const std::string cmd =
        "cd '" + dir_.string() + "' && " + BEAMFALL_BIN + " " + options + " < deck > stdout.txt";
    const int st = std::system(cmd.c_str());
    status_ = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  }
  ~FixtureRun() { fs::remove_all(dir_); }
  FixtureRun(const FixtureRun&) = delete;
  FixtureRun& operator=(const FixtureRun&) = delete;

  int status() const { return status_; }
  std::string output(const std::string& file) const { return slurp(dir_ / file); }
  std::string expected(const std::string& file) const { return slurp(src_ / "expected" / file); }

 private:
  static int& serial() {
    static int n = 0;
    return n;
  }

  fs::path src_, dir_;
  int status_ = -1;
};

}  // namespace fixture

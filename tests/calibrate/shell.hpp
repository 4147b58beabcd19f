// The calibration tests' two helpers: a command run by the shell with its output captured,
// and a fresh temporary folder.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <string>

namespace caltest {

struct Shell {
  int status = -1;  // the exit status, or -1 when the command could not run or was signalled
  std::string out;  // its standard output
};

inline Shell shell(const std::string& cmd) {
  Shell s;
  FILE* p = ::popen(cmd.c_str(), "r");
  if (p == nullptr) {
    ADD_FAILURE() << "cannot start: " << cmd;
    return s;
  }
  char buf[4096];
  for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;)
    s.out.append(buf, n);
  const int status = ::pclose(p);
  s.status = status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return s;
}

class TempDir {
 public:
  TempDir() {
    char templ[] = "/tmp/beamfall-calibrate-test.XXXXXX";
    if (::mkdtemp(templ) == nullptr) throw std::runtime_error("cannot create a temporary folder");
    path_ = templ;
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace caltest

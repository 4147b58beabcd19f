// An OutFile whose output lands in a temporary file and can be read back, for
// tests of code that writes reports, point files or centre files.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "textio/error.hpp"
#include "textio/outfile.hpp"

namespace bf::test {

// The message of the Stop that `f` throws, or "" when it returns normally.
template <class F>
std::string stop_message(F f) {
  try {
    f();
  } catch (const Stop& s) {
    return s.what();
  }
  return "";
}

class CapturedOutput {
 public:
  CapturedOutput() {
    static int serial = 0;
    path_ = std::filesystem::path(::testing::TempDir()) /
            ("beamfall-unit-" + std::to_string(::getpid()) + "-" + std::to_string(++serial));
    file.create(path_.string());
  }
  ~CapturedOutput() {
    file.close();
    std::filesystem::remove(path_);
  }
  CapturedOutput(const CapturedOutput&) = delete;
  CapturedOutput& operator=(const CapturedOutput&) = delete;

  // Everything written so far.
  std::string text() {
    file.flush();
    std::ifstream in(path_, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
  }

  OutFile file;

 private:
  std::filesystem::path path_;
};

}  // namespace bf::test

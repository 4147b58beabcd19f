// A copy of an end-to-end fixture's inputs in a fresh directory, run by the real binary with
// extra options: the run records' helpers applied to a whole case.
#pragma once

#include <sstream>
#include <string>
#include <vector>

#include "../run/run_util.hpp"

namespace fixture {

// The fixture `name` run with `options` (words separated by blanks).
class FixtureRun {
 public:
  FixtureRun(const std::string& name, const std::string& options)
      : src_(bftest::fs::path(BEAMFALL_CASES) / name), dir_("fixture-" + name) {
    const std::string deck = bftest::copy_case(name, dir_.path());
    result_ = bftest::run_beamfall(dir_.path(), deck, words(options));
  }

  int status() const { return result_.status; }
  // A file the run wrote; "stdout.txt" is its standard output.
  std::string output(const std::string& file) const {
    return file == "stdout.txt" ? result_.out : bftest::slurp(dir_.path() / file);
  }
  std::string expected(const std::string& file) const {
    return bftest::slurp(src_ / "expected" / file);
  }

 private:
  static std::vector<std::string> words(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> w;
    for (std::string word; in >> word;)
      w.push_back(word);
    return w;
  }

  bftest::fs::path src_;
  bftest::TempDir dir_;
  bftest::Result result_;
};

}  // namespace fixture

// End-to-end runs of the real binary: every directory under cases/ is one
// run, compared byte for byte with what its expected/ directory holds.
//
// A case directory holds:
//   deck                 the input deck (standard input)
//   NAME.2dd.txt         a scanner file description, turned into NAME.2dd by mk2dd
//   setup                optional shell commands run in the run directory first
//   any other file       copied into the run directory as it is
//   expected/stdout      the whole standard output
//   expected/stderr      the whole standard error (empty when absent): a stopped run
//                        repeats its stop line there, prefixed "beamfall: ", and a run
//                        with no usable input gives its reason there alone
//   expected/exit        the exit status (0 when absent)
//   expected/files/NAME  files that must exist afterwards with exactly this content
//   expected/absent      names of files that must not exist afterwards, one a line
//   NOTES.md             how the expected output was derived
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::string slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<std::string> case_names() {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(BEAMFALL_CASES)) {
    if (e.is_directory()) names.push_back(e.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

int shell(const std::string& cmd) {
  int st = std::system(cmd.c_str());
  return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

std::string quote(const fs::path& p) {
  std::string q(1, '\'');
  q += p.string();
  q += '\'';
  return q;
}

class EndToEnd : public ::testing::TestWithParam<std::string> {};

TEST_P(EndToEnd, MatchesExpectedOutput) {
  const fs::path src = fs::path(BEAMFALL_CASES) / GetParam();
  const fs::path dir =
      fs::temp_directory_path() / ("beamfall-e2e-" + GetParam() + "-" + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  for (const auto& e : fs::directory_iterator(src)) {
    const std::string name = e.path().filename().string();
    if (name == "expected" || name == "NOTES.md" || name == "setup") continue;
    if (name.size() > 8 && name.ends_with(".2dd.txt")) {
      const fs::path target = dir / name.substr(0, name.size() - 4);
      ASSERT_EQ(shell(std::string(MK2DD_BIN) + " " + quote(e.path()) + " " + quote(target)), 0);
    } else {
      fs::copy(e.path(), dir / name, fs::copy_options::recursive);
    }
  }
  if (fs::exists(src / "setup")) {
    ASSERT_EQ(shell("cd " + quote(dir) + " && sh " + quote(src / "setup")), 0);
  }
  const fs::path out = dir / ".stdout", err = dir / ".stderr";
  const int status =
      shell("cd " + quote(dir) + " && " + BEAMFALL_BIN + " < deck > .stdout 2> .stderr");

  const fs::path exp = src / "expected";
  const int expected_status = fs::exists(exp / "exit") ? std::stoi(slurp(exp / "exit")) : 0;
  EXPECT_EQ(status, expected_status);
  EXPECT_EQ(slurp(out), slurp(exp / "stdout")) << "standard output differs";
  const std::string expected_err = fs::exists(exp / "stderr") ? slurp(exp / "stderr") : "";
  EXPECT_EQ(slurp(err), expected_err) << "standard error differs";
  if (fs::exists(exp / "files")) {
    for (const auto& e : fs::directory_iterator(exp / "files")) {
      const fs::path actual = dir / e.path().filename();
      ASSERT_TRUE(fs::exists(actual)) << actual << " was not written";
      EXPECT_EQ(slurp(actual), slurp(e.path())) << actual.filename() << " differs";
    }
  }
  if (fs::exists(exp / "absent")) {
    std::istringstream names(slurp(exp / "absent"));
    for (std::string name; std::getline(names, name);) {
      if (!name.empty()) {
        EXPECT_FALSE(fs::exists(fs::symlink_status(dir / name))) << name << " should not exist";
      }
    }
  }
  if (!HasFailure()) fs::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(Cases, EndToEnd, ::testing::ValuesIn(case_names()),
                         [](const auto& param_info) {
                           std::string n = param_info.param;
                           for (char& c : n) {
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           }
                           return n;
                         });

}  // namespace

// How the tools find each other: the installed layout (bin/ and libexec/beamfall/), the
// build tree (side by side) and PATH, on a scratch tree of real files.
#include "kit/program_path.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <string>

namespace fs = std::filesystem;
using kit::find_program;
using kit::find_program_from;

namespace {

class ProgramPath : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "beamfall-program-path.XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
  }
  void TearDown() override { fs::remove_all(root_); }

  void make_file(const fs::path& relative, bool executable) {
    fs::create_directories((root_ / relative).parent_path());
    std::ofstream(root_ / relative) << "#!/bin/sh\n";
    ::chmod((root_ / relative).c_str(), executable ? 0755 : 0644);
  }

  fs::path root_;
};

TEST_F(ProgramPath, InstalledAndBuildLayouts) {
  make_file("usr/bin/beamfall", true);
  make_file("usr/bin/beamfall-campaign", true);
  make_file("usr/libexec/beamfall/beamfall-campaign-summary", true);
  make_file("usr/bin/not-executable", false);
  make_file("usr/libexec/beamfall/not-executable", false);
  make_file("build/beamfall-campaign-summary", true);
  fs::create_directories(root_ / "usr/bin/a-directory");

  struct Case {
    const char* from;
    const char* name;
    fs::path expected;  // relative to the scratch root, or a bare name for PATH
    bool on_path;
  } cases[] = {
      {"usr/bin", "beamfall", "usr/bin/beamfall", false},
      {"usr/bin", "beamfall-campaign-summary", "usr/libexec/beamfall/beamfall-campaign-summary",
       false},
      {"build", "beamfall-campaign-summary", "build/beamfall-campaign-summary", false},
      {"usr/bin", "not-executable", "not-executable", true},
      {"usr/bin", "a-directory", "a-directory", true},
      {"usr/bin", "gnuplot", "gnuplot", true},
      {"", "beamfall", "beamfall", true},
  };
  for (const Case& c : cases) {
    const fs::path dir = *c.from ? root_ / c.from : fs::path{};
    const fs::path expected = c.on_path ? c.expected : root_ / c.expected;
    EXPECT_EQ(find_program_from(dir, c.name), expected) << c.from << " / " << c.name;
  }
}

// PATH is searched in order as execvp searches it: a directory, a file that can't be run
// and a missing entry are passed over; NAME alone when no entry holds it.
TEST_F(ProgramPath, SearchPath) {
  make_file("a/tool", false);
  make_file("b/tool", true);
  make_file("c/tool", true);
  fs::create_directories(root_ / "d/tool");
  const std::string a = (root_ / "a").string(), b = (root_ / "b").string(),
                    c = (root_ / "c").string(), d = (root_ / "d").string();
  struct Case {
    std::string path;
    fs::path expected;
  };
  const Case cases[] = {
      {b + ":" + c, root_ / "b/tool"},
      {c + ":" + b, root_ / "c/tool"},
      {a + ":" + d + ":" + (root_ / "missing").string() + ":" + c, root_ / "c/tool"},
      {a + ":" + d, "tool"},
      {"", "tool"},
  };
  const char* saved = std::getenv("PATH");
  const std::string old_path = saved != nullptr ? saved : "";
  for (const Case& k : cases) {
    ::setenv("PATH", k.path.c_str(), 1);
    EXPECT_EQ(kit::find_on_path("tool"), k.expected) << k.path;
  }
  ::setenv("PATH", old_path.c_str(), 1);
}

TEST(ProgramPathSelf, TheRunningProgramFindsItself) {
  EXPECT_EQ(kit::own_path(), fs::read_symlink("/proc/self/exe"));
  const fs::path self = fs::read_symlink("/proc/self/exe");
  EXPECT_EQ(find_program(self.filename().string()), self);
}

}  // namespace

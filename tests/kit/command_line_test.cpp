// The tools' option parser: what each kind of mistake is told, what reaches the setters, and
// --version.
#include "kit/command_line.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct Parsed {
  std::string out;
  bool quiet = false;
  std::string count;
  std::vector<std::string> positional;
};

// A tool's table: a value, a switch with an alias, a value with a check and its own "needs".
Parsed parse(const std::vector<std::string>& args) {
  Parsed p;
  p.positional = kit::parse_command_line(
      args, {{"--out", "", true, kit::store(p.out)},
             {"--quiet", "-q", false, kit::flag(p.quiet)},
             {"--count", "", true,
              [&](const std::string& v) {
                p.count = v;
                return v.find_first_not_of("0123456789") == std::string::npos && !v.empty();
              },
              "a count"}});
  return p;
}

TEST(CommandLine, OptionsAnywhereAndPositionalInOrder) {
  const Parsed p = parse({"a", "--out", "-x", "b", "-q", "--count", "12", "c"});
  EXPECT_EQ(p.out, "-x");  // a value may look like an option
  EXPECT_TRUE(p.quiet);
  EXPECT_EQ(p.count, "12");
  EXPECT_EQ(p.positional, (std::vector<std::string>{"a", "b", "c"}));
}

TEST(CommandLine, DoubleDashEndsTheOptions) {
  const Parsed p = parse({"--quiet", "--", "--out", "-", "--"});
  EXPECT_TRUE(p.quiet);
  EXPECT_TRUE(p.out.empty());
  EXPECT_EQ(p.positional, (std::vector<std::string>{"--out", "-", "--"}));
}

TEST(CommandLine, EveryMistakeIsAUsageErrorNamingTheOption) {
  const struct {
    std::vector<std::string> args;
    const char* message;
  } cases[] = {
      {{"--bogus"}, "unknown option '--bogus'"},    {{"a", "-z"}, "unknown option '-z'"},
      {{"--out"}, "--out needs a value"},           {{"--count"}, "--count needs a count"},
      {{"--count", "1x"}, "--count needs a count"},
  };
  for (const auto& c : cases) {
    try {
      parse(c.args);
      ADD_FAILURE() << c.message << ": accepted";
    } catch (const kit::UsageError& e) {
      EXPECT_STREQ(e.what(), c.message);
    }
  }
}

TEST(CommandLine, MainsArgumentsSkipTheProgramName) {
  char prog[] = "tool", value[] = "--quiet", file[] = "f";
  char* argv[] = {prog, value, file, nullptr};
  bool quiet = false;
  const auto positional =
      kit::parse_command_line(3, argv, {{"--quiet", "", false, kit::flag(quiet)}});
  EXPECT_TRUE(quiet);
  EXPECT_EQ(positional, (std::vector<std::string>{"f"}));
}

// Every tool's parse knows --version: the program's file name and version on standard output,
// exit status 0, whatever comes before it; after "--" it is a positional argument.
TEST(CommandLineDeathTest, VersionEndsTheProgram) {
  EXPECT_EXIT(parse({"a", "--quiet", "--version", "--count", "x"}), testing::ExitedWithCode(0), "");
  EXPECT_EXIT(
      {
        if (std::freopen("/dev/full", "w", stdout) == nullptr) std::exit(3);
        parse({"--version"});
      },
      testing::ExitedWithCode(1), "");  // standard output could not be written
  EXPECT_EQ(parse({"--", "--version"}).positional, (std::vector<std::string>{"--version"}));
}

}  // namespace

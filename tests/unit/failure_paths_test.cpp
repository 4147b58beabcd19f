// Failure paths found in review: a scanner header that can't be read, geoid
// values beyond single precision, a dangling link as binary point file name.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "captured_output.hpp"
#include "input/geoid.hpp"
#include "input/scanfile.hpp"
#include "textio/error.hpp"
#include "textio/outfile.hpp"

namespace bf {
namespace {

using test::stop_message;

// A file that opens but fails to read counts as a header that isn't there.
TEST(FailurePaths, UnreadableScannerHeaderIsEndOfFileInHeader) {
  const int fd = ::open("/proc/self/mem", O_RDONLY);
  if (fd < 0) GTEST_SKIP() << "no /proc/self/mem here";
  BinaryInput in(fd, "/proc/self/mem");
  test::CapturedOutput console;
  EXPECT_EQ(stop_message([&] { readhdr(in, console.file); }), "*** end of file met in header");
  EXPECT_EQ(console.text(), "");
}

TEST(FailurePaths, GeoidValueBeyondSinglePrecisionIsAnInputError) {
  TextInput text("0 1 0 1 1 1\n1 2\n3 1e39\n");
  FreeReader reader(text);
  GeoidGrid grid;
  test::CapturedOutput console;
  EXPECT_EQ(stop_message([&] { load_geoid(reader, "geoid.txt", grid, console.file); }),
            "*** input error: geoid.txt, line 3: real value out of range: '1e39'");
}

TEST(FailurePaths, GeoidValuesAreRoundedOnceToSinglePrecision) {
  // This value lies 1e-18 above the midpoint between two floats; through a
  // double it would round to the midpoint first and then to the even float
  // below it.
  TextInput text("0 1 0 1 1 1\n0.1000000126659870157705078125 0\n0 0\n");
  FreeReader reader(text);
  GeoidGrid grid;
  test::CapturedOutput console;
  load_geoid(reader, "geoid.txt", grid, console.file);
  EXPECT_EQ(grid.values[2], 0.100000016391277313f);  // the file's first row is the northern one
}

TEST(FailurePaths, DanglingLinkAsBinaryPointFileIsRefusedAndKept) {
  const std::filesystem::path dir =
      std::filesystem::path(::testing::TempDir()) / ("beamfall-link-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const std::filesystem::path link = dir / "pts.bin";
  std::filesystem::create_symlink(dir / "nowhere", link);
  OutFile out;
  EXPECT_EQ(stop_message([&] { out.create(link.string(), CreateMode::replace_regular); }),
            "*** open error: '" + link.string() + "': is a link to nothing");
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace bf

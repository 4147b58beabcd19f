// What lets a run check its inputs before it touches an output: an output is
// checked without being created (the fault: a typo in the geoid grid's name
// emptied the point file of the previous run), and the report written
// meanwhile is held, so that an output that can't be created after all is
// still the report's only line.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "captured_output.hpp"
#include "textio/error.hpp"
#include "textio/outfile.hpp"

namespace bf {
namespace {

namespace fs = std::filesystem;
using test::stop_message;

class OutFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::path(::testing::TempDir()) / ("beamfall-outfile-" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string path(const std::string& name) const { return (dir_ / name).string(); }
  static std::string slurp(const std::string& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
  }
  // Every entry of the directory: its kind and its bytes or link target.
  std::map<std::string, std::string> snapshot() const {
    std::map<std::string, std::string> entries;
    for (const auto& e : fs::recursive_directory_iterator(dir_)) {
      const std::string name = fs::relative(e.path(), dir_).string();
      if (e.is_symlink())
        entries[name] = "link to " + fs::read_symlink(e.path()).string();
      else if (e.is_directory())
        entries[name] = "directory";
      else
        entries[name] = slurp(e.path().string());
    }
    return entries;
  }

  fs::path dir_;
};

TEST_F(OutFileTest, HeldTextStaysInMemoryBeyondTheBlockAndCanBeDropped) {
  OutFile out;
  out.create(path("report"), CreateMode::truncate, 16);
  out.write("before\n");
  out.hold();
  const std::string held(100, 'x');
  out.write(held);  // six blocks: a file not held would have been written to
  EXPECT_EQ(fs::file_size(path("report")), 0u);
  out.drop_held();
  out.write("after\n");
  out.close();
  EXPECT_EQ(slurp(path("report")), "before\nafter\n");
}

TEST_F(OutFileTest, HeldTextIsWrittenByCloseAndAfterRelease) {
  OutFile out;
  out.create(path("report"), CreateMode::truncate, 16);
  out.hold();
  out.write(std::string(40, 'a'));
  out.release();
  out.write(std::string(40, 'b'));  // fills the grown buffer: now written out
  EXPECT_GT(fs::file_size(path("report")), 0u);
  out.drop_held();  // nothing is held any more: changes nothing
  out.close();
  EXPECT_EQ(slurp(path("report")), std::string(40, 'a') + std::string(40, 'b'));
}

// A name as an output finds it, and what was there.
struct OutputName {
  const char* what;
  const char* name;
  CreateMode mode;
  void (*make)(const fs::path& dir);
};

const OutputName kNames[] = {
    {"a missing directory", "no/such/pts.txt", CreateMode::truncate, [](const fs::path&) {}},
    {"a directory, overwritten", "pts.txt", CreateMode::truncate,
     [](const fs::path& d) { fs::create_directory(d / "pts.txt"); }},
    {"a directory, replaced", "pts.bin", CreateMode::replace_regular,
     [](const fs::path& d) { fs::create_directory(d / "pts.bin"); }},
    {"a device, replaced", "pts.bin", CreateMode::replace_regular,
     [](const fs::path& d) { fs::create_symlink("/dev/null", d / "pts.bin"); }},
    {"a device, overwritten", "pts.txt", CreateMode::truncate,
     [](const fs::path& d) { fs::create_symlink("/dev/null", d / "pts.txt"); }},
    {"a link to nothing, replaced", "pts.bin", CreateMode::replace_regular,
     [](const fs::path& d) { fs::create_symlink("nowhere", d / "pts.bin"); }},
    {"a link into a missing directory", "pts.txt", CreateMode::truncate,
     [](const fs::path& d) { fs::create_symlink("no/such/file", d / "pts.txt"); }},
    {"a file under a file", "old.txt/pts.txt", CreateMode::truncate,
     [](const fs::path& d) { std::ofstream(d / "old.txt") << "old\n"; }},
    {"an old file, overwritten", "pts.txt", CreateMode::truncate,
     [](const fs::path& d) { std::ofstream(d / "pts.txt") << "old points\n"; }},
    {"an old file, replaced", "pts.bin", CreateMode::replace_regular,
     [](const fs::path& d) { std::ofstream(d / "pts.bin") << "old points\n"; }},
    {"a link to nothing, overwritten", "pts.txt", CreateMode::truncate,
     [](const fs::path& d) { fs::create_symlink("target.txt", d / "pts.txt"); }},
    {"a new file", "pts.txt", CreateMode::truncate, [](const fs::path&) {}},
};

// check_creatable gives the message create() gives (none when create()
// succeeds), and changes nothing.
TEST_F(OutFileTest, CheckCreatableFindsWhatCreateWouldFindAndTouchesNothing) {
  for (const OutputName& s : kNames) {
    SCOPED_TRACE(s.what);
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    s.make(dir_);
    const auto before = snapshot();
    const std::string checked =
        stop_message([&] { OutFile::check_creatable(path(s.name), s.mode); });
    EXPECT_EQ(snapshot(), before) << "a file was created, changed or deleted";
    OutFile out;
    EXPECT_EQ(checked, stop_message([&] { out.create(path(s.name), s.mode); }));
  }
}

TEST_F(OutFileTest, CheckCreatableLeavesAnOldFileItsTimes) {
  std::ofstream(path("cen.txt")) << "old centre track\n";
  const timespec times[2] = {{1000000000, 0}, {1000000000, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path("cen.txt").c_str(), times, 0), 0);
  OutFile::check_creatable(path("cen.txt"));
  struct stat st {};
  ASSERT_EQ(::stat(path("cen.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mtim.tv_sec, 1000000000);
  EXPECT_EQ(slurp(path("cen.txt")), "old centre track\n");
}

}  // namespace
}  // namespace bf

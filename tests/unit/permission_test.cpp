// Files that exist but can't be read or created for lack of permission: an
// open error, and nothing that was there before is changed. Root ignores
// file permissions, so these tests are skipped when run as root (the
// end-to-end table covers the other kinds of files that can't be opened).
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "run/run.hpp"
#include "textio/error.hpp"

namespace fs = std::filesystem;

namespace {

void write_text(const fs::path& p, const std::string& text) {
  std::ofstream(p, std::ios::binary) << text;
}

std::string read_text(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// Runs the deck in a fresh directory prepared by `prepare`; returns the stop
// message (empty when the run ended normally).
class PermissionRun : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::geteuid() == 0) GTEST_SKIP() << "root ignores file permissions";
    dir_ = fs::temp_directory_path() / ("beamfall-perm-" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    write_text(dir_ / "traj.txt", "10.0 70.0 -40.0 500.0 0 0 0\n10.001 70.001 -40.0 500.0 0 0 0\n");
    write_text(dir_ / "scan.txt", "1 400.0 20 100.0 0.36\n");
    write_text(dir_ / "pts.txt", "old points\n");
  }
  void TearDown() override {
    if (dir_.empty()) return;
    fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add);
    fs::remove_all(dir_);
  }

  std::string run_deck(const std::string& outdir, const std::string& centre_dir = "") {
    const std::string deck = "scan.txt\ntraj.txt\n0\n" + outdir + "pts.txt\n" +
                             (centre_dir.empty() ? outdir : centre_dir) +
                             "cen.txt\n10 0 0\n10.0 10.1\n60 80 -50 -30\n1 1 F F T F T\n"
                             "0 0 0\n0 0 0\n0\n1 200\n10.0\n";
    const fs::path cwd = fs::current_path();
    fs::current_path(dir_);
    bf::TextInput in(deck);
    bf::OutFile console;
    console.create((dir_ / ".stdout").string());
    std::string message;
    try {
      bf::run(in, console);
    } catch (const bf::Stop& s) {
      message = s.what();
    }
    fs::current_path(cwd);
    return message;
  }

  fs::path dir_;
};

TEST_F(PermissionRun, UnreadableTrajectoryIsAnOpenErrorAndThePointFileSurvives) {
  ::chmod((dir_ / "traj.txt").c_str(), 0);
  EXPECT_EQ(run_deck(""), "*** open error: 'traj.txt': Permission denied");
  EXPECT_EQ(read_text(dir_ / "pts.txt"), "old points\n");
  EXPECT_FALSE(fs::exists(dir_ / "cen.txt"));
}

TEST_F(PermissionRun, UnreadableScannerFileIsAnOpenError) {
  ::chmod((dir_ / "scan.txt").c_str(), 0);
  EXPECT_EQ(run_deck(""), "*** open error: 'scan.txt': Permission denied");
  EXPECT_EQ(read_text(dir_ / "pts.txt"), "old points\n");
}

// Every output is checked before the first is created (the fault: the old
// point file was emptied before the centre file was found unwritable).
TEST_F(PermissionRun, CentreFileInAReadOnlyDirectoryLeavesTheOldPointFile) {
  fs::create_directories(dir_ / "ro");
  ::chmod((dir_ / "ro").c_str(), 0555);
  EXPECT_EQ(run_deck("", "ro/"), "*** open error: 'ro/cen.txt': Permission denied");
  EXPECT_EQ(read_text(dir_ / "pts.txt"), "old points\n");
}

TEST_F(PermissionRun, PointFileInAReadOnlyDirectoryIsAnOpenError) {
  fs::create_directories(dir_ / "ro");
  ::chmod((dir_ / "ro").c_str(), 0555);
  EXPECT_EQ(run_deck("ro/"), "*** open error: 'ro/pts.txt': Permission denied");
  EXPECT_FALSE(fs::exists(dir_ / "ro" / "cen.txt"));
}

}  // namespace

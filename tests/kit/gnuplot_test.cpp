// gnuplot as the kit starts it: whatever signals the caller blocks or ignores, gnuplot starts
// with none blocked and none ignored; and a signal arriving while the caller waits for it
// neither fails the plot nor leaves gnuplot unreaped.
#include <gtest/gtest.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "gnuplot.hpp"

namespace kit {
namespace {

namespace fs = std::filesystem;

struct Folder {
  fs::path path = fs::temp_directory_path() / ("kit_gnuplot_" + std::to_string(getpid()));
  Folder() { fs::create_directories(path); }
  ~Folder() { fs::remove_all(path); }
};

void write(const fs::path& file, const std::string& text) {
  std::ofstream(file) << text;
}

std::string read(const fs::path& file) {
  std::stringstream s;
  s << std::ifstream(file).rdbuf();
  return s.str();
}

// The signal set of a /proc status line ("SigBlk:\t0000000000000200") as a mask.
unsigned long long status_mask(const std::string& status, const std::string& field) {
  const auto at = status.find(field + ":");
  if (at == std::string::npos) return ~0ull;
  return std::stoull(status.substr(at + field.size() + 1), nullptr, 16);
}

TEST(Gnuplot, StartsWithNoSignalBlockedOrIgnored) {
  Folder dir;
  // The shell of gnuplot's system command reports its parent's status: gnuplot's own. (Not
  // through a nested system('echo $PPID'): that has been seen to name a child of gnuplot
  // caught before its exec, with every signal blocked.)
  write(dir.path / "status.gp", "system 'cat /proc/$PPID/status > status.txt'\nplot x\n");
  sigset_t usr1, before;
  sigemptyset(&usr1);
  sigaddset(&usr1, SIGUSR1);
  ASSERT_EQ(pthread_sigmask(SIG_BLOCK, &usr1, &before), 0);
  const auto old_usr2 = std::signal(SIGUSR2, SIG_IGN);
  run_gnuplot(dir.path, "status.gp", "dumb", "plot.txt");
  std::signal(SIGUSR2, old_usr2);
  pthread_sigmask(SIG_SETMASK, &before, nullptr);

  const std::string status = read(dir.path / "status.txt");
  ASSERT_NE(status.find("SigBlk:"), std::string::npos) << status;
  EXPECT_EQ(status_mask(status, "SigBlk") & (1ull << (SIGUSR1 - 1)), 0u) << status;
  EXPECT_EQ(status_mask(status, "SigIgn") & (1ull << (SIGUSR2 - 1)), 0u) << status;
  EXPECT_TRUE(fs::exists(dir.path / "plot.txt"));
}

void on_alarm(int) {}

TEST(Gnuplot, SignalsDuringTheWaitNeitherFailNorLeaveAZombie) {
  Folder dir;
  write(dir.path / "slow.gp", "pause 0.5\nplot x\n");
  struct sigaction alarm {};
  alarm.sa_handler = on_alarm;  // no SA_RESTART: a blocked waitpid returns EINTR
  struct sigaction old_alarm {};
  ASSERT_EQ(sigaction(SIGALRM, &alarm, &old_alarm), 0);
  const itimerval every_20ms{{0, 20000}, {0, 20000}}, stop{};
  ASSERT_EQ(setitimer(ITIMER_REAL, &every_20ms, nullptr), 0);
  EXPECT_NO_THROW(run_gnuplot(dir.path, "slow.gp", "dumb", "plot.txt"));
  setitimer(ITIMER_REAL, &stop, nullptr);
  sigaction(SIGALRM, &old_alarm, nullptr);

  EXPECT_TRUE(fs::exists(dir.path / "plot.txt"));
  errno = 0;
  EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);  // no child left, reaped or not
  EXPECT_EQ(errno, ECHILD);
}

}  // namespace
}  // namespace kit

int main(int argc, char** argv) {
  if (std::system("command -v gnuplot > /dev/null 2>&1") != 0) {
    std::puts("skipped: gnuplot not installed (Debian package gnuplot-nox)");
    return 77;
  }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}

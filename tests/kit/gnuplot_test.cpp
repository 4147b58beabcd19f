// gnuplot as the kit starts it: whatever signals the caller blocks or ignores, gnuplot starts
// with none blocked and none ignored; and a signal arriving while the caller waits for it
// neither fails the plot nor leaves gnuplot unreaped.
#include <gtest/gtest.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "kit/gnuplot.hpp"

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

// The /proc status of this process's child called `name`, read while it runs: polled for up
// to five seconds, empty if none was seen.
std::string child_status(const std::string& name) {
  const std::string parent = std::to_string(::getpid());
  for (int tries = 0; tries < 500; ++tries) {
    for (const auto& e : fs::directory_iterator("/proc")) {
      const std::string status = read(e.path() / "status");
      if (status.rfind("Name:\t" + name + "\n", 0) == 0 &&
          status.find("\nPPid:\t" + parent + "\n") != std::string::npos)
        return status;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return "";
}

TEST(Gnuplot, StartsWithNoSignalBlockedOrIgnored) {
  Folder dir;
  // gnuplot pauses a second, while a thread of this process reads its status. (A shell that
  // gnuplot starts cannot read it reliably: gnuplot may still be inside posix_spawn, with
  // every signal blocked for the moment, when the shell runs.)
  write(dir.path / "pause.gp", "pause 1\nplot x\n");
  std::string status;
  std::thread reader([&] { status = child_status("gnuplot"); });
  sigset_t usr1, before;
  sigemptyset(&usr1);
  sigaddset(&usr1, SIGUSR1);
  ASSERT_EQ(pthread_sigmask(SIG_BLOCK, &usr1, &before), 0);
  const auto old_usr2 = std::signal(SIGUSR2, SIG_IGN);
  run_gnuplot(dir.path, "pause.gp", "dumb", "plot.txt");
  std::signal(SIGUSR2, old_usr2);
  pthread_sigmask(SIG_SETMASK, &before, nullptr);
  reader.join();

  ASSERT_NE(status.find("SigBlk:"), std::string::npos) << "gnuplot not seen running";
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

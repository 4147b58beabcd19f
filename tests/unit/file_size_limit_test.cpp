// A run whose output file meets the file size limit: the write fails, the run
// stops with a write error line and exit status 1. (It used to be killed by
// SIGXFSZ without a word, with its report lost.)
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "run/run.hpp"

namespace fs = std::filesystem;

namespace {

void write_text(const fs::path& p, const std::string& text) {
  std::ofstream(p, std::ios::binary) << text;
}

TEST(FileSizeLimit, StopsWithWriteErrorInsteadOfDying) {
  const fs::path dir = fs::temp_directory_path() / ("beamfall-fsize-" + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  write_text(dir / "deck",
             "scan.txt\ntraj.txt\n0\npts.txt\ncen.txt\n10 0 0\n10.0 10.1\n60 80 -50 -30\n"
             "1 1 F F T F T\n0 0 0\n0 0 0\n0\n1 200\n10.0\n");
  write_text(dir / "traj.txt", "10.0 70.0 -40.0 500.0 0 0 0\n10.001 70.001 -40.0 500.0 0 0 0\n");
  std::string scan;
  for (int i = 1; i <= 10; ++i)
    scan += std::to_string(i) + " 400.0 20 100.0 0." + std::to_string(10 + i) + "\n";
  write_text(dir / "scan.txt", scan);  // ten nadir points: 470 bytes of point file

  int out[2];
  ASSERT_EQ(::pipe(out), 0);
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    // The child: a 200-byte limit on every file it writes (not on the pipe).
    const rlimit limit{200, 200};
    const int deck = ::open((dir / "deck").c_str(), O_RDONLY);
    if (::chdir(dir.c_str()) != 0 || deck < 0 || ::setrlimit(RLIMIT_FSIZE, &limit) != 0 ||
        ::dup2(deck, STDIN_FILENO) < 0 || ::dup2(out[1], STDOUT_FILENO) < 0)
      ::_exit(99);
    ::close(out[0]);
    ::_exit(bf::run_program());
  }
  ::close(out[1]);
  std::string report;
  char buf[4096];
  for (ssize_t n; (n = ::read(out[0], buf, sizeof buf)) > 0;)
    report.append(buf, static_cast<std::size_t>(n));
  ::close(out[0]);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);

  ASSERT_TRUE(WIFEXITED(status)) << "killed by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 1);
  // The whole summary comes first, then the error of the point file's last write.
  EXPECT_NE(report.find(" Total number of points output:  10 \n"), std::string::npos) << report;
  const std::string last = " *** write error: 'pts.txt': File too large\n";
  ASSERT_GE(report.size(), last.size());
  EXPECT_EQ(report.substr(report.size() - last.size()), last) << report;
  EXPECT_LE(fs::file_size(dir / "pts.txt"), 200u);
  fs::remove_all(dir);
}

}  // namespace

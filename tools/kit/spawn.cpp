#include "kit/spawn.hpp"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <map>
#include <stdexcept>

extern char** environ;

namespace kit {

namespace {

std::vector<std::string> environment_with(
    const std::vector<std::pair<std::string, std::string>>& extra) {
  std::map<std::string, std::string> vars;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry = *e;
    const std::size_t eq = entry.find('=');
    if (eq != std::string::npos) vars[entry.substr(0, eq)] = entry.substr(eq + 1);
  }
  for (const auto& [name, value] : extra)
    vars[name] = value;
  std::vector<std::string> env;
  for (const auto& [name, value] : vars)
    env.push_back(name + "=" + value);
  return env;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
  std::vector<char*> p;
  for (std::string& s : strings)
    p.push_back(s.data());
  p.push_back(nullptr);
  return p;
}

// posix_spawn's attribute and file-action objects, released however start() leaves.
struct SpawnSetup {
  posix_spawnattr_t attr;
  posix_spawn_file_actions_t actions;
  SpawnSetup() {
    posix_spawnattr_init(&attr);
    posix_spawn_file_actions_init(&actions);
  }
  ~SpawnSetup() {
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;
};

void set_signals(posix_spawnattr_t& attr) {
  sigset_t none, defaults;
  sigemptyset(&none);
  sigemptyset(&defaults);
  for (int s : {SIGINT, SIGTERM, SIGHUP, SIGPIPE})
    sigaddset(&defaults, s);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &defaults);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
}

void set_files(posix_spawn_file_actions_t& a, const Command& c) {
  if (!c.dir.empty()) posix_spawn_file_actions_addchdir_np(&a, c.dir.c_str());
  if (!c.stdin_file.empty())
    posix_spawn_file_actions_addopen(&a, 0, c.stdin_file.c_str(), O_RDONLY, 0);
  if (!c.stdout_file.empty())
    posix_spawn_file_actions_addopen(&a, 1, c.stdout_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0666);
  if (c.stderr_to_stdout) posix_spawn_file_actions_adddup2(&a, 1, 2);
}

// Starts c with the file actions and attributes of `s`; 0 or the error number.
int spawn(const Command& c, SpawnSetup& s, pid_t& pid) {
  std::vector<std::string> args = c.argv;
  std::vector<std::string> env = environment_with(c.env);
  const std::vector<char*> argv = pointers(args);
  const std::vector<char*> envp = pointers(env);
  return posix_spawnp(&pid, argv[0], &s.actions, &s.attr, argv.data(), envp.data());
}

}  // namespace

pid_t start(const Command& c) {
  SpawnSetup s;
  set_signals(s.attr);
  set_files(s.actions, c);
  pid_t pid = 0;
  const int err = spawn(c, s, pid);
  if (err != 0) throw std::runtime_error("cannot start " + c.argv[0] + ": " + std::strerror(err));
  return pid;
}

namespace {

int exit_status(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return 1;
}

}  // namespace

int wait_for(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return 1;
  }
  return exit_status(status);
}

int poll_exit(pid_t pid) {
  int status = 0;
  const pid_t r = ::waitpid(pid, &status, WNOHANG);
  if (r == 0) return -1;
  return r < 0 ? 1 : exit_status(status);
}

int run_command(const Command& c) {
  return wait_for(start(c));
}

std::pair<int, std::string> capture(const Command& c) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("cannot make a pipe");
  SpawnSetup s;
  set_signals(s.attr);
  set_files(s.actions, c);
  posix_spawn_file_actions_adddup2(&s.actions, fds[1], 1);
  pid_t pid = 0;
  const int err = spawn(c, s, pid);
  ::close(fds[1]);
  if (err != 0) {
    ::close(fds[0]);
    throw std::runtime_error("cannot start " + c.argv[0] + ": " + std::strerror(err));
  }
  std::string out;
  char buf[4096];
  for (;;) {
    const ssize_t n = ::read(fds[0], buf, sizeof buf);
    if (n > 0) {
      out.append(buf, static_cast<std::size_t>(n));
    } else if (n == 0 || errno != EINTR) {
      break;
    }
  }
  ::close(fds[0]);
  return {wait_for(pid), out};
}

}  // namespace kit

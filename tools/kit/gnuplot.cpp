#include "kit/gnuplot.hpp"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <string_view>

#include "kit/error.hpp"

extern char** environ;

namespace kit {

std::string gnuplot_quote(const std::string& text) {
  std::string q = "'";
  for (char c : text) {
    if (c == '\'') {
      q += "''";
    } else if (c == '\n' || c == '\r') {
      q += ' ';
    } else {
      q += c;
    }
  }
  return q + "'";
}

namespace {

std::string first_line(const std::string& path) {
  std::string text;
  try {
    text = runfiles::read_file(path);
  } catch (const ToolError&) {
    return "";
  }
  return text.substr(0, text.find('\n'));
}

// gnuplot's exit status, or -1 when it could not be started.
int spawn_gnuplot(const std::string& dir, const std::string& setup, const std::string& script,
                  const std::string& log) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
  posix_spawn_file_actions_addopen(&actions, 2, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  char* argv[] = {const_cast<char*>("gnuplot"), const_cast<char*>("-e"),
                  const_cast<char*>(setup.c_str()), const_cast<char*>(script.c_str()), nullptr};
  // gnuplot starts with no signal blocked and every signal at its default, whatever this
  // process (or a thread of it) has blocked or ignored.
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &all);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  pid_t pid = 0;
  const int spawned = posix_spawnp(&pid, "gnuplot", &actions, &attr, argv, environ);
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return -1;
  int status = 0;
  pid_t waited = 0;
  do {
    waited = waitpid(pid, &status, 0);
  } while (waited < 0 && errno == EINTR);  // a signal is no reason to leave gnuplot unreaped
  if (waited != pid || !WIFEXITED(status)) return 128;
  return WEXITSTATUS(status);
}

}  // namespace

void run_gnuplot(const std::string& dir, const std::string& script, const std::string& terminal,
                 const std::string& output) {
  const std::string log = script + ".log";
  const std::string setup = "set terminal " + terminal + "; set output " + gnuplot_quote(output);
  const int status = spawn_gnuplot(dir, setup, script, log);
  if (status == -1) throw ToolError("gnuplot not found (Debian package gnuplot-nox)");
  if (status != 0) {
    const std::string why = first_line(dir + "/" + log);
    throw ToolError("gnuplot failed on " + dir + "/" + script + " (see " + log + ")" +
                    (why.empty() ? "" : ": " + why));
  }
  std::remove((dir + "/" + log).c_str());
}

}  // namespace kit

// Other programs started directly (posix_spawn), never through a shell: their arguments are
// passed as they are, whatever characters a folder name holds.
#pragma once

#include <sys/types.h>

#include <string>
#include <utility>
#include <vector>

namespace kit {

struct Command {
  std::vector<std::string> argv;  // argv[0] is looked up on PATH when it holds no '/'
  std::string dir;                // working folder; empty: this process's
  std::string stdin_file;         // empty: inherited
  std::string stdout_file;        // empty: inherited
  bool stderr_to_stdout = false;  // 2>&1
  std::vector<std::pair<std::string, std::string>> env;  // set on top of this environment
};

// A command of these words, everything else inherited.
inline Command plain_command(std::vector<std::string> argv) {
  Command c;
  c.argv = std::move(argv);
  return c;
}

// Starts the command; throws std::runtime_error naming the program when it cannot start.
// Signals blocked here are unblocked in the child, and its INT, TERM and HUP take their
// default action.
pid_t start(const Command& c);

// Waits for the process: its exit status, or 128 + the signal that ended it.
int wait_for(pid_t pid);

// The exit status of the process when it has ended, else -1 (no waiting).
int poll_exit(pid_t pid);

// start, then wait_for.
int run_command(const Command& c);

// The command's standard output (standard error inherited) and its exit status.
std::pair<int, std::string> capture(const Command& c);

}  // namespace kit

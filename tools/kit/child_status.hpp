// For the programs that start others and wait for their exit status.
#pragma once

#include <csignal>

namespace kit {

// SIGCHLD back at its default action, whatever the parent left: an ignored SIGCHLD survives
// exec and makes the kernel reap every child unseen, so that no exit status can be had.
inline void take_child_status_back() {
  std::signal(SIGCHLD, SIG_DFL);
}

}  // namespace kit

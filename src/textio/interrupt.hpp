// Stopping a run on SIGINT or SIGTERM at a record boundary. The handler only
// records the signal; the buffered readers look at it once a block (and when a
// blocking read is interrupted) and throw Interrupted, so no output record is
// ever cut in two.
#pragma once

#include <csignal>
#include <exception>
#include <string>

namespace bf {

namespace detail {
// The number of the first SIGINT or SIGTERM received; 0 while none has come.
extern volatile std::sig_atomic_t interrupt_signal;
}  // namespace detail

// A run stopped by a signal. Not a Stop: code that turns a failed read into a
// message of its own must not swallow it.
class Interrupted : public std::exception {
 public:
  explicit Interrupted(int signal);
  int signal() const { return signal_; }
  // "*** interrupted by signal 15 (SIGTERM)"
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  int signal_;
  std::string message_;
};

// Installs the handler for SIGINT and SIGTERM, without SA_RESTART so that a
// blocked read returns. A signal ignored when the program starts (a job
// started in the background) stays ignored.
void install_interrupt_handlers();

// The signal received so far, 0 if none.
inline int pending_interrupt() {
  return detail::interrupt_signal;
}

// Throws Interrupted when a signal has been received.
inline void check_interrupt() {
  if (const int sig = pending_interrupt()) throw Interrupted(sig);
}

// Waits until a read of `fd` (a pipe or a terminal) will not block, or throws
// Interrupted. The signals are held back between the check and the wait, so
// one that arrives just before the wait still ends it.
void wait_readable(int fd);

}  // namespace bf

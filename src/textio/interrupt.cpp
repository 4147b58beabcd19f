#include "textio/interrupt.hpp"

#include <poll.h>
#include <pthread.h>

#include <cerrno>

namespace bf {

namespace detail {
volatile std::sig_atomic_t interrupt_signal = 0;
}  // namespace detail

namespace {

void record_interrupt(int sig) {
  if (detail::interrupt_signal == 0) detail::interrupt_signal = sig;
}

const char* signal_name(int sig) {
  switch (sig) {
    case SIGINT:
      return " (SIGINT)";
    case SIGTERM:
      return " (SIGTERM)";
    default:
      return "";
  }
}

void install_for(int sig) {
  struct sigaction old {};
  if (::sigaction(sig, nullptr, &old) != 0 || old.sa_handler == SIG_IGN) return;
  struct sigaction sa {};
  sa.sa_handler = record_interrupt;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = 0;  // no SA_RESTART: a blocked read returns with EINTR
  ::sigaction(sig, &sa, nullptr);
}

}  // namespace

Interrupted::Interrupted(int signal)
    : signal_(signal),
      message_("*** interrupted by signal " + std::to_string(signal) + signal_name(signal)) {}

void install_interrupt_handlers() {
  install_for(SIGINT);
  install_for(SIGTERM);
}

void wait_readable(int fd) {
  sigset_t held, old;
  sigemptyset(&held);
  sigaddset(&held, SIGINT);
  sigaddset(&held, SIGTERM);
  ::pthread_sigmask(SIG_BLOCK, &held, &old);
  pollfd p{fd, POLLIN, 0};
  // The signals are let through only while waiting: one that came after the
  // check is delivered there and ends the wait. Another signal's EINTR waits on.
  while (pending_interrupt() == 0 && ::ppoll(&p, 1, nullptr, &old) < 0 && errno == EINTR) {
  }
  ::pthread_sigmask(SIG_SETMASK, &old, nullptr);
  check_interrupt();
}

}  // namespace bf

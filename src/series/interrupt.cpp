#include "series/interrupt.h"

#include <csignal>
#include <cstring>

namespace series {
namespace {

// The one piece of process-wide state: a signal handler can reach nothing
// else. Written only by the handler, read by ThrowIfInterrupted.
volatile std::sig_atomic_t pending_signal = 0;

extern "C" void RecordStop(int signal_number) {
  pending_signal = signal_number;
}

}  // namespace

Interrupted::Interrupted(int signal_number)
    : std::runtime_error(std::string("interrupted by ") +
                         (signal_number == SIGINT ? "SIGINT" : "SIGTERM") +
                         "; the result lines written so far are complete"),
      signal_(signal_number) {}

InterruptGuard::InterruptGuard() {
  pending_signal = 0;
  struct sigaction action;
  std::memset(&action, 0, sizeof(action));
  action.sa_handler = RecordStop;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  // A signal ignored when the run began (nohup, a background job of a
  // shell without job control) stays ignored.
  sigaction(SIGINT, nullptr, &previous_int_);
  sigaction(SIGTERM, nullptr, &previous_term_);
  if (previous_int_.sa_handler != SIG_IGN) sigaction(SIGINT, &action, nullptr);
  if (previous_term_.sa_handler != SIG_IGN) {
    sigaction(SIGTERM, &action, nullptr);
  }
}

InterruptGuard::~InterruptGuard() {
  sigaction(SIGINT, &previous_int_, nullptr);
  sigaction(SIGTERM, &previous_term_, nullptr);
}

void ThrowIfInterrupted() {
  const int signal_number = pending_signal;
  if (signal_number != 0) throw Interrupted(signal_number);
}

}  // namespace series

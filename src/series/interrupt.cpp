#include "series/interrupt.h"

#include <csignal>

#include "platform/platform.h"

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
  // A signal ignored when the run began (nohup, a background job of a
  // shell without job control) stays ignored.
  platform::CatchStopSignals(RecordStop);
}

InterruptGuard::~InterruptGuard() { platform::RestoreStopSignals(); }

void ThrowIfInterrupted() {
  const int signal_number = pending_signal;
  if (signal_number != 0) throw Interrupted(signal_number);
}

}  // namespace series

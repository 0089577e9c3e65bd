// Stopping a run on SIGINT or SIGTERM between windows, so that the result
// files keep whole lines and are closed, and the exit status tells which
// signal stopped the run (128 + the signal's number).
#pragma once

#include <stdexcept>
#include <string>

namespace series {

// Thrown where the run notices a pending stop request; main reports it.
class Interrupted : public std::runtime_error {
 public:
  explicit Interrupted(int signal_number);
  int ExitStatus() const { return 128 + signal_; }

 private:
  int signal_;
};

// While it lives, SIGINT and SIGTERM only record a stop request (the
// previous dispositions come back when it ends). One at a time per process.
class InterruptGuard {
 public:
  InterruptGuard();
  ~InterruptGuard();
  InterruptGuard(const InterruptGuard&) = delete;
  InterruptGuard& operator=(const InterruptGuard&) = delete;
};

// Throws Interrupted when a stop request is pending.
void ThrowIfInterrupted();

}  // namespace series

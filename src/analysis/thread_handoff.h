// TBB hands work to its worker threads inside its own library: a window
// from stage to stage, the bodies of parallel loops, and memory it reuses.
// Debian's TBB is built without ThreadSanitizer, which therefore cannot see
// that ordering and would report every hand-off as a race. Under
// ThreadSanitizer a ThreadHandoff acquires and releases one hand-off point
// as it is made (before the task reads anything, its own captures included)
// and as it ends, by an exception too; a task body makes one first thing,
// and so does the calling thread around the parallel part. The order TBB
// guarantees becomes visible, and any access that TBB does not order is
// still reported. Elsewhere this is nothing.
#pragma once

#if defined(__SANITIZE_THREAD__)
#define MFWINDOW_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define MFWINDOW_TSAN 1
#endif
#endif
#ifndef MFWINDOW_TSAN
#define MFWINDOW_TSAN 0
#endif
#if MFWINDOW_TSAN
extern "C" void __tsan_acquire(void* addr);
extern "C" void __tsan_release(void* addr);
#endif

namespace analysis {

class ThreadHandoff {
 public:
  ThreadHandoff() { Point(); }
  ~ThreadHandoff() { Point(); }
  ThreadHandoff(const ThreadHandoff&) = delete;
  ThreadHandoff& operator=(const ThreadHandoff&) = delete;

 private:
  static void Point() {
#if MFWINDOW_TSAN
    static char point = 0;
    __tsan_acquire(&point);
    __tsan_release(&point);
#endif
  }
};

}  // namespace analysis

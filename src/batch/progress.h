// Progress of a batch run on the standard error stream: on a terminal one
// line that redraws itself in place (series done, windows done, time left),
// elsewhere one plain line per finished series, or nothing at all.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

namespace batch {

enum class ProgressMode {
  kQuiet,  // nothing but messages
  kLines,  // a line per finished series (standard error is not a terminal)
  kBar,    // one line redrawn in place (standard error is a terminal)
};

// Where a run stands.
struct ProgressState {
  std::size_t SeriesDone = 0;
  std::size_t SeriesTotal = 0;
  std::uint64_t WindowsDone = 0;
  double Fraction = 0.0;              // of all input bytes, 0..1
  std::optional<double> SecondsLeft;  // unknown before any input is read
};

// `seconds` rounded down to whole seconds as H:MM:SS (hours not limited).
//   DurationText(3725.9) -> "1:02:05"
std::string DurationText(double seconds);

// The progress line, without line end; the bar has 20 cells, each 5% of
// the input bytes:
//   "[########............]  40%  2/5 series  1234 windows  0:01:23 left"
//   "[....................]   0%  0/5 series  0 windows  -:--:-- left"
std::string ProgressBarText(const ProgressState& state);

// Counts windows and series and shows them in the chosen mode. The time
// left is the time so far scaled by the share of input bytes still to read.
// WindowDone and SeriesDone are called one at a time, in order (possibly
// on an engine thread); SetPosition may be called from the thread that
// reads the series at the same time.
class ProgressReport {
 public:
  ProgressReport(std::ostream& err, ProgressMode mode, std::size_t series_total,
                 std::uint64_t bytes_total);

  // The next series starts; `bytes` is the size of its file.
  void SeriesStarted(std::uint64_t bytes);
  // Bytes of the current series read so far.
  void SetPosition(std::uint64_t bytes) {
    position_.store(bytes, std::memory_order_relaxed);
  }
  void WindowDone();
  void SeriesDone(std::string_view name, std::uint64_t windows);
  // The current series was skipped: it counts as done.
  void SeriesSkipped();
  // Writes `line` as a line of its own, the bar (if any) drawn again below.
  void Message(std::string_view line);
  // Ends the bar's line.
  void Finish();

 private:
  ProgressState State() const;
  void Draw(bool force);
  void ClearBar();

  std::ostream& err_;
  ProgressMode mode_;
  std::size_t series_total_;
  std::uint64_t bytes_total_;
  std::size_t series_done_ = 0;
  std::uint64_t windows_done_ = 0;
  std::uint64_t bytes_done_ = 0;     // of the finished series
  std::uint64_t current_bytes_ = 0;  // size of the current series
  std::atomic<std::uint64_t> position_{0};
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point last_draw_;
  std::size_t drawn_width_ = 0;  // of the bar line on the screen, 0: none
};

}  // namespace batch

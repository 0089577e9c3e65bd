#include "batch/progress.h"

#include <cmath>
#include <string>

namespace batch {
namespace {

constexpr int kBarCells = 20;
// Redrawing more often than this shows nothing new and costs writes.
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);

std::string TwoDigits(std::int64_t value) {
  std::string text = std::to_string(value);
  if (text.size() < 2) text.insert(text.begin(), '0');
  return text;
}

}  // namespace

std::string DurationText(double seconds) {
  const auto whole = static_cast<std::int64_t>(std::floor(seconds));
  return std::to_string(whole / 3600) + ":" + TwoDigits(whole / 60 % 60) + ":" +
         TwoDigits(whole % 60);
}

std::string ProgressBarText(const ProgressState& state) {
  const double fraction = state.Fraction < 0.0
                              ? 0.0
                              : (state.Fraction > 1.0 ? 1.0 : state.Fraction);
  const auto percent = static_cast<int>(std::floor(fraction * 100.0));
  const int filled = percent * kBarCells / 100;
  std::string text = "[";
  text.append(static_cast<std::size_t>(filled), '#');
  text.append(static_cast<std::size_t>(kBarCells - filled), '.');
  text += "] ";
  const std::string percent_text = std::to_string(percent);
  text.append(3 - percent_text.size(), ' ');
  text += percent_text + "%  " + std::to_string(state.SeriesDone) + "/" +
          std::to_string(state.SeriesTotal) + " series  " +
          std::to_string(state.WindowsDone) + " windows  " +
          (state.SecondsLeft ? DurationText(*state.SecondsLeft) : "-:--:--") +
          " left";
  return text;
}

ProgressReport::ProgressReport(std::ostream& err, ProgressMode mode,
                               std::size_t series_total,
                               std::uint64_t bytes_total)
    : err_(err),
      mode_(mode),
      series_total_(series_total),
      bytes_total_(bytes_total),
      start_(std::chrono::steady_clock::now()),
      last_draw_(start_) {
  Draw(true);
}

void ProgressReport::SeriesStarted(std::uint64_t bytes) {
  current_bytes_ = bytes;
  position_.store(0, std::memory_order_relaxed);
}

void ProgressReport::WindowDone() {
  ++windows_done_;
  Draw(false);
}

void ProgressReport::SeriesDone(std::string_view name, std::uint64_t windows) {
  ++series_done_;
  bytes_done_ += current_bytes_;
  current_bytes_ = 0;
  position_.store(0, std::memory_order_relaxed);
  if (mode_ == ProgressMode::kLines) {
    err_ << "mfwindow-batch: " << name << ": " << std::to_string(windows)
         << " windows (" << std::to_string(series_done_) << "/"
         << std::to_string(series_total_) << " series)\n";
    err_.flush();
  }
  Draw(true);
}

void ProgressReport::SeriesSkipped() {
  ++series_done_;
  bytes_done_ += current_bytes_;
  current_bytes_ = 0;
  Draw(true);
}

void ProgressReport::Message(std::string_view line) {
  ClearBar();
  err_ << line << '\n';
  err_.flush();
  Draw(true);
}

void ProgressReport::Finish() {
  if (mode_ != ProgressMode::kBar) return;
  Draw(true);
  err_ << '\n';
  err_.flush();
  drawn_width_ = 0;
}

ProgressState ProgressReport::State() const {
  ProgressState state;
  state.SeriesDone = series_done_;
  state.SeriesTotal = series_total_;
  state.WindowsDone = windows_done_;
  const std::uint64_t position = position_.load(std::memory_order_relaxed);
  const std::uint64_t done =
      bytes_done_ + (position < current_bytes_ ? position : current_bytes_);
  if (bytes_total_ == 0) {
    state.Fraction = series_total_ == 0
                         ? 1.0
                         : static_cast<double>(series_done_) /
                               static_cast<double>(series_total_);
  } else {
    state.Fraction =
        static_cast<double>(done) / static_cast<double>(bytes_total_);
  }
  if (state.Fraction > 0.0) {
    const std::chrono::duration<double> elapsed =
        std::chrono::steady_clock::now() - start_;
    state.SecondsLeft =
        elapsed.count() * (1.0 - state.Fraction) / state.Fraction;
  }
  return state;
}

void ProgressReport::Draw(bool force) {
  if (mode_ != ProgressMode::kBar) return;
  const auto now = std::chrono::steady_clock::now();
  if (!force && now - last_draw_ < kRedrawInterval) return;
  last_draw_ = now;
  std::string line = "\r";
  line += ProgressBarText(State());
  const std::size_t width = line.size() - 1;
  // Blanks over whatever a longer line before left on the screen.
  if (width < drawn_width_) line.append(drawn_width_ - width, ' ');
  drawn_width_ = width;
  err_ << line;
  err_.flush();
}

void ProgressReport::ClearBar() {
  if (drawn_width_ == 0) return;
  err_ << '\r' << std::string(drawn_width_, ' ') << '\r';
  drawn_width_ = 0;
}

}  // namespace batch

#include "series/series_notes.h"

#include <array>
#include <cstdio>

#include "series/noise_check.h"

namespace series {
namespace {

std::string Count(std::int64_t n, std::string_view one, std::string_view many) {
  return std::to_string(n) + " " + std::string(n == 1 ? one : many);
}

}  // namespace

bool IsDegenerate(const analysis::WindowResult& r) {
  const analysis::SpectrumSummary& d = analysis::kDegenerateSummary;
  return r.AlfaMin == d.AlfaMin && r.AlfaMax == d.AlfaMax &&
         r.AlfaWidth == d.AlfaWidth && r.AlfaSz == d.AlfaSz &&
         r.FAlfaSz == d.FAlfaSz;
}

std::optional<std::string> ShortWindowWarning(std::int32_t lrec) {
  if (lrec >= kShortLrec) return std::nullopt;
  return "Lrec " + std::to_string(lrec) + " is below " +
         std::to_string(kShortLrec) +
         ": the larger scales hold few segments, and at order 2 and above "
         "many windows come out degenerate; the results mean little";
}

std::string NoWindowWarning(std::int64_t samples, std::int32_t lrec) {
  return "no window: " + Count(samples, "sample", "samples") +
         ", fewer than Lrec " + std::to_string(lrec);
}

std::string AllDegenerateWarning(std::int64_t windows) {
  return (windows == 1
              ? std::string("the only window is degenerate")
              : "all " + std::to_string(windows) + " windows are degenerate") +
         " (0.5, 0.5, 0, 0.5, 1: no scaling was found; a flat series, or "
         "windows too short for the order)";
}

std::vector<SeriesNote> SeriesNotes(std::string_view name,
                                    const SeriesReport& report,
                                    std::int32_t lrec) {
  const std::string prefix = std::string(name) + ": ";
  const InputSummary& input = report.Input;
  std::vector<SeriesNote> notes;
  for (const std::string& warning : input.Warnings) {
    notes.push_back({true, warning});
  }
  if (input.EndedAt) {
    notes.push_back({true, input.EndedAt->Text() +
                               "; the series ends there, after " +
                               Count(input.Samples, "sample", "samples")});
  }
  if (input.Skipped > 0) {
    notes.push_back(
        {false, prefix + Count(input.Skipped, "bad sample", "bad samples") +
                    " skipped (the first: " + input.FirstSkipped->Text() +
                    "); " + Count(input.Samples, "sample", "samples") +
                    " read"});
  }
  if (input.Masked > 0) {
    notes.push_back(
        {false, prefix + Count(input.Masked, "bad sample", "bad samples") +
                    " kept as gaps (the first: " + input.FirstSkipped->Text() +
                    (report.Bridged > 0
                         ? "); " + std::to_string(report.Bridged) +
                               " of them bridged (their windows have status "
                               "filled), the windows over the others have "
                               "status gap"
                         : "); the windows over them have status gap")});
  }
  if (report.LagOne && *report.LagOne < kWalkCorrelation) {
    std::array<char, 32> r1{};
    std::snprintf(r1.data(), r1.size(), "%.2f", *report.LagOne);
    notes.push_back(
        {true, prefix + "looks like a noise, not a walk (lag-1 correlation " +
                   r1.data() + ", below 0.5), and the described method " +
                   "analyses its values as a walk, so h(q) comes out near " +
                   "0; give --method standard (the textbook method, on the " +
                   "profile)" +
                   (report.LagOneOfIncrements
                        ? ", or --incr 0"
                        : ", or analyse the series' cumulative sum")});
  }
  if (report.Windows == 0) {
    notes.push_back(
        {true, prefix + NoWindowWarning(input.Samples + input.Masked, lrec)});
  } else if (report.DegenerateWindows == report.Windows) {
    notes.push_back({true, prefix + AllDegenerateWarning(report.Windows)});
  }
  return notes;
}

}  // namespace series

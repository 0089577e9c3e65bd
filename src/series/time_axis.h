// The time axis a series' own time stamps set: the time column of
// delimited text read and checked (numbers or ISO 8601 date-times, one per
// record, rising, evenly spaced) before the samples are, and turned into
// the Tini and Tstep of the result files.
#pragma once

#include <cstdint>
#include <istream>
#include <string>
#include <vector>

#include "series/series_input.h"

namespace series {

// The samples that end windows: sample First (counted from 1), then every
// Step-th.
struct WindowEnds {
  std::int64_t First = 0;  // 0: none
  std::int64_t Step = 1;
};

// The time axis that the time column of a series sets: sample j (counted
// from 1) lies at Tini + j*Tstep.
struct TimeAxis {
  double Tini = 0.0;
  double Tstep = 1.0;
  std::int64_t Stamps = 0;  // the records read, gaps included
  // ISO 8601 stamps: the axis is in seconds since the first stamp, which
  // is kept here as written (sample 1 at 0, Tini = -Tstep). Empty for
  // stamps that are numbers: the axis is in their own unit, Tini one step
  // before the first stamp and Tstep the mean step, (last - first) /
  // (Stamps - 1).
  std::string Origin;
  std::int64_t OriginNs = 0;  // that stamp, as textio::ParseIsoStamp reads it
  // The stamps of the samples that end windows, in window order: numbers
  // as they are, ISO stamps in seconds since the first (the time marks of
  // InputOptions::TimeLabels); and ISO stamps in nanoseconds, as
  // textio::ParseIsoStamp reads them (empty for numbers).
  std::vector<double> EndMarks;
  std::vector<std::int64_t> EndNs;
};

// Reads the time column of the whole series `name` from `in` (delimited
// text; the header row as `options` say) and checks its stamps: each
// record that is not blank has one, all numbers or all ISO 8601 date-times
// (textio::ParseIsoStamp), rising, and evenly spaced. Numbers may step off the
// first step by 1e-9 of it plus the rounding of the stamps to doubles (4
// machine epsilons of the larger stamp); ISO stamps must step exactly, to
// the nanosecond; with InputOptions::TimeLabels they need only rise, and
// Tini and Tstep stay 0 and 1. The stamps of the samples `ends` names are
// kept. A record whose sample is bad keeps its stamp, and every
// record is checked, those after a bad sample that ends the series
// included. Throws BadSeriesInput naming the line: a missing or unreadable
// stamp, a blank line inside the series (it has no stamp), the first step
// that does not rise or that is uneven (both stamps and the expected
// step), a time column that is the series column, or an array:
//   "ecg.csv:7: the time stamps step unevenly: \"0.012\" to \"0.02\" (step
//    0.008, expected 0.004)"
// Fewer than two stamps leave Tini 0 and Tstep 1.
TimeAxis ReadTimeAxis(std::istream& in, const std::string& name,
                      const InputOptions& options, WindowEnds ends = {});

}  // namespace series

// Reading a whole series through MakeSampleReader, for the tests of the
// readers: the samples, the summary, or the BadSeriesInput that ended it.
#pragma once

#include <cstdint>
#include <istream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "series/series_input.h"

namespace test_support {

struct Read {
  std::vector<double> Samples;
  series::InputSummary Summary;
  std::optional<std::string> Error;  // BadSeriesInput's text
  bool ErrorIsBadSample = false;
};

// The series "s" read from `in` to its end.
inline Read ReadAll(std::istream& in, const series::InputOptions& options) {
  Read read;
  try {
    const std::unique_ptr<series::SampleReader> reader =
        series::MakeSampleReader(in, "s", options);
    while (std::optional<double> sample = reader->Next()) {
      read.Samples.push_back(*sample);
    }
    read.Summary = reader->Summary();
  } catch (const series::BadSeriesInput& bad) {
    read.Error = bad.what();
    read.ErrorIsBadSample = bad.BadSample();
  }
  return read;
}

inline Read ReadAll(const std::string& bytes,
                    const series::InputOptions& options) {
  std::istringstream in(bytes);
  return ReadAll(in, options);
}

// The batch tool's reading with a policy, delimited when asked.
inline series::InputOptions Batch(
    series::BadSamplePolicy policy, bool delimited = false,
    std::optional<series::ColumnChoice> column = std::nullopt,
    series::HeaderMode header = series::HeaderMode::kAuto) {
  series::InputOptions o;
  o.OnBadSample = policy;
  o.BlankRecordsPassOver = false;
  o.BatchHints = true;
  o.AcceptNpy = true;
  o.Delimited = delimited;
  o.Column = std::move(column);
  o.Header = header;
  return o;
}

inline series::ColumnChoice Named(const char* name) {
  return series::ColumnChoice{0, name};
}
inline series::ColumnChoice Number(std::int32_t index) {
  return series::ColumnChoice{index, ""};
}

}  // namespace test_support

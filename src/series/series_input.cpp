#include "series/series_input.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <utility>

#include "series/npy_reader.h"
#include "series/text_reader.h"

namespace series {
namespace detail {

const char* NonFiniteWord(double value) {
  if (std::isnan(value)) return "NaN";
  return value > 0 ? "inf" : "-inf";
}

bool IsBlank(std::string_view record) {
  return record.find_first_not_of(" \t\r") == std::string_view::npos;
}

std::string Quoted(std::string_view text) {
  std::string quoted(1, '"');
  quoted += textio::VisibleExcerpt(text);
  quoted += '"';
  return quoted;
}

std::string LinePlace(const std::string& name, std::uint64_t line) {
  return name + ":" + std::to_string(line);
}

}  // namespace detail

InputOptions MfwindowInput() { return InputOptions{}; }

InputOptions BatchInput() {
  InputOptions input;
  input.OnBadSample = BadSamplePolicy::kError;
  input.BlankRecordsPassOver = false;
  input.BatchHints = true;
  input.AcceptNpy = true;
  return input;
}

bool SampleReader::Bad(BadRecord record, std::int64_t count) {
  switch (policy_) {
    case BadSamplePolicy::kError:
      throw BadSeriesInput(record.Text(), !record.LooksDelimited, record.Index);
    case BadSamplePolicy::kStop:
      summary_.EndedAt = std::move(record);
      return false;
    case BadSamplePolicy::kMask:
      summary_.Masked += count;
      gaps_ += count;
      if (!summary_.FirstSkipped) summary_.FirstSkipped = std::move(record);
      return true;
    case BadSamplePolicy::kSkip:
      break;
  }
  summary_.Skipped += count;
  if (!summary_.FirstSkipped) summary_.FirstSkipped = std::move(record);
  return true;
}

std::optional<double> SampleReader::Next() {
  if (gaps_ == 0) {
    if (held_) return std::exchange(held_, std::nullopt);
    if (ended_) return std::nullopt;
    std::optional<double> sample = Read();
    if (gaps_ == 0) return sample;
    held_ = sample;  // the gaps before it come first
    ended_ = !sample;
  }
  --gaps_;
  return std::numeric_limits<double>::quiet_NaN();
}

ArraySampleReader::ArraySampleReader(std::span<const double> values,
                                     const std::string& name,
                                     BadSamplePolicy policy)
    : SampleReader(policy), values_(values), end_(values.size()) {
  for (std::size_t i = 0; i < values.size(); ++i) {
    const double value = values[i];
    if (std::isfinite(value)) {
      ++length_;
      continue;
    }
    BadRecord record{
        name + "[" + std::to_string(i) + "]",
        std::string("not a number: ") + detail::NonFiniteWord(value)};
    record.Index = static_cast<std::int64_t>(i);
    if (!Bad(std::move(record))) {
      end_ = i;
      break;
    }
    if (Policy() == BadSamplePolicy::kMask) ++length_;
  }
  // The gaps stand in the array itself: Read hands each out in its place.
  HandGapsOutInPlace();
}

std::optional<double> ArraySampleReader::Read() {
  // Before end_, a value that is not finite was skipped or masked.
  while (next_ < end_) {
    const double value = values_[next_++];
    if (std::isfinite(value)) {
      ++summary_.Samples;
      return value;
    }
    if (Policy() == BadSamplePolicy::kMask) {
      return std::numeric_limits<double>::quiet_NaN();
    }
  }
  return std::nullopt;
}

std::unique_ptr<SampleReader> MakeSampleReader(std::istream& in,
                                               std::string name,
                                               const InputOptions& options) {
  if (options.AcceptNpy) {
    std::streambuf* const buffer = in.rdbuf();
    if (buffer != nullptr && buffer->sgetc() == 0x93) {
      return MakeNpySampleReader(in, std::move(name), options);
    }
  }
  return MakeTextSampleReader(in, std::move(name), options);
}

}  // namespace series

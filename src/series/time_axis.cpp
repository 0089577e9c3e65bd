#include "series/time_axis.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <initializer_list>
#include <limits>
#include <optional>
#include <string_view>
#include <vector>

#include "series/column_choice.h"
#include "textio/fields.h"
#include "textio/full_precision.h"
#include "textio/iso_stamp.h"
#include "textio/numeric_token.h"
#include "textio/records.h"

namespace series {
namespace {

// The parts, one after another.
std::string Joined(std::initializer_list<std::string_view> parts) {
  std::string text;
  for (const std::string_view part : parts) text += part;
  return text;
}

}  // namespace

TimeAxis ReadTimeAxis(std::istream& in, const std::string& name,
                      const InputOptions& options, WindowEnds ends) {
  assert(options.TimeColumn);
  if (options.AcceptNpy && in.peek() == 0x93) {
    throw BadSeriesInput(
        name +
            ": a .npy array has no time column; time stamps are read "
            "from delimited text",
        false);
  }
  textio::RecordReader reader(in, detail::kSeriesRecordRules);
  std::string record;
  std::vector<std::string> fields;
  textio::FieldSeparator separator = textio::FieldSeparator::kComma;
  std::size_t at = 0;  // the time column, from 0
  std::string label;
  bool started = false;
  std::int64_t blank_run = 0;
  std::uint64_t blank_from = 0;
  bool iso = false;
  double first = 0.0;
  double last = 0.0;
  double step = 0.0;  // the first step
  std::int64_t last_ns = 0;
  std::int64_t step_ns = 0;
  std::string last_text;
  TimeAxis axis;
  for (;;) {
    const textio::RecordReader::Status status = reader.Next(record);
    if (status == textio::RecordReader::Status::kEndOfInput) break;
    const std::string place = detail::LinePlace(name, reader.RecordsRead());
    if (status == textio::RecordReader::Status::kDeviceError) {
      throw BadSeriesInput(place +
                               ": the file cannot be read further (read "
                               "error)",
                           false);
    }
    if (detail::IsBlank(record)) {
      if (started && !options.BlankRecordsPassOver) {
        if (blank_run++ == 0) blank_from = reader.RecordsRead();
      }
      continue;
    }
    if (blank_run > 0) {
      throw BadSeriesInput(detail::LinePlace(name, blank_from) +
                               ": an empty line has no time stamp",
                           false);
    }
    if (!started) {
      started = true;
      separator = options.Separator ? *options.Separator
                                    : textio::GuessSeparator(record);
      textio::SplitFields(record, separator, fields);
      const auto index_of = [&](const ColumnChoice& column) {
        if (column.Index > 0) return static_cast<std::size_t>(column.Index - 1);
        const std::size_t found = detail::FieldNamed(fields, column.Name);
        if (found == fields.size()) {
          detail::NoColumnNamed(place, column.Name, fields, separator);
        }
        return found;
      };
      at = index_of(*options.TimeColumn);
      label = "column " + std::to_string(at + 1);
      if (at >= fields.size()) {
        throw BadSeriesInput(
            Joined({place, ": no time ", label, ": the first line has ",
                    std::to_string(fields.size()), " fields"}),
            false);
      }
      if (index_of(options.Column.value_or(ColumnChoice{})) == at) {
        throw BadSeriesInput(Joined({place, ": ", label,
                                     " is the time column; choose the "
                                     "series' column with --column"}),
                             false);
      }
      if (detail::IsHeaderRow(fields, options)) continue;
    }
    textio::SplitFields(record, separator, fields, at + 1);
    if (fields.size() <= at || fields[at].empty()) {
      throw BadSeriesInput(
          Joined({place, ": no time stamp (", label, " is ",
                  fields.size() <= at ? "missing)" : "empty)"}),
          false);
    }
    const std::string& text = fields[at];
    double value = 0.0;
    const bool number =
        !textio::detail::ConvertToken(text, value) && std::isfinite(value);
    const std::optional<std::int64_t> ns =
        number ? std::nullopt : textio::ParseIsoStamp(text);
    if (axis.Stamps == 0) iso = ns.has_value();
    const std::int64_t stamp_ns = ns.value_or(0);
    if (iso ? !ns : !number) {
      constexpr std::string_view kIso =
          "an ISO 8601 date-time (YYYY-MM-DD[Thh:mm:ss[.f][Z]])";
      throw BadSeriesInput(
          Joined({place, ": the time stamp ", detail::Quoted(text),
                  axis.Stamps == 0 ? " is neither a number nor " : " is not ",
                  axis.Stamps == 0 || iso ? kIso : "a number",
                  axis.Stamps == 0 ? "" : " as the first stamp is"}),
          false);
    }
    std::string problem;
    std::string expected;
    std::string got;
    if (iso) {
      const std::int64_t now = stamp_ns - last_ns;
      if (axis.Stamps > 0 && now <= 0) {
        problem = "do not rise";
      } else if (axis.Stamps == 1) {
        step_ns = now;
      } else if (axis.Stamps > 1 && now != step_ns && !options.TimeLabels) {
        problem = "step unevenly";
        got = textio::FormatSeconds(now) + " s";
        expected = textio::FormatSeconds(step_ns) + " s";
      }
      last_ns = stamp_ns;
    } else {
      const double now = value - last;
      if (axis.Stamps == 0) {
        first = value;
      } else if (!(now > 0.0)) {
        problem = "do not rise";
      } else if (axis.Stamps == 1) {
        step = now;
      } else if (!options.TimeLabels) {
        // 1e-9 of the step, and the rounding of two steps' four stamps
        // to doubles, which the largest of them bounds.
        const double largest = std::max(std::abs(first), std::abs(value));
        const double tolerance =
            1e-9 * step +
            4.0 * std::numeric_limits<double>::epsilon() * largest;
        if (std::abs(now - step) > tolerance) {
          problem = "step unevenly";
          got = textio::FormatShortest(now);
          expected = textio::FormatShortest(step);
        }
      }
      last = value;
    }
    if (!problem.empty()) {
      throw BadSeriesInput(
          Joined({place, ": the time stamps ", problem, ": ",
                  detail::Quoted(last_text), " to ", detail::Quoted(text),
                  got.empty() ? "" : " (step ", got,
                  got.empty() ? "" : ", expected ", expected,
                  got.empty() ? "" : ")"}),
          false);
    }
    if (axis.Stamps == 0) {
      axis.Origin = text;
      axis.OriginNs = stamp_ns;
    }
    last_text = text;
    ++axis.Stamps;
    if (ends.First > 0 && axis.Stamps >= ends.First &&
        (axis.Stamps - ends.First) % ends.Step == 0) {
      if (iso) axis.EndNs.push_back(stamp_ns);
      axis.EndMarks.push_back(
          iso ? static_cast<double>(stamp_ns - axis.OriginNs) / 1e9 : value);
    }
  }
  if (options.TimeLabels) {
    if (!iso) axis.Origin.clear();
    return axis;
  }
  if (axis.Stamps < 2) {
    axis.Origin.clear();
    return axis;
  }
  const auto steps = static_cast<double>(axis.Stamps - 1);
  if (iso) {
    // Exact steps: the first is every step.
    axis.Tstep = static_cast<double>(step_ns) / 1e9;
    axis.Tini = -axis.Tstep;
  } else {
    axis.Tstep = (last - first) / steps;
    axis.Tini = first - axis.Tstep;
    axis.Origin.clear();
  }
  return axis;
}

}  // namespace series

#include "api/sidecar.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <variant>

#include "mfwindow/settings_table.h"
#include "numerics/simd_target.h"
#include "series/series_notes.h"

namespace mfwindow {
namespace {

// A JSON string: quotes, backslashes and control characters escaped; other
// bytes as they are.
std::string Quoted(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      std::array<char, 8> escape{};
      std::snprintf(escape.data(), escape.size(), "\\u%04x",
                    static_cast<unsigned>(c));
      out += escape.data();
    } else {
      out += c;
    }
  }
  return out + '"';
}

// The shortest text that reads back to `value`; null for NaN and
// infinities, which JSON cannot hold.
std::string Number(double value) {
  if (!std::isfinite(value)) return "null";
  std::array<char, 32> buffer{};
  const auto result =
      std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
  return std::string(buffer.data(), result.ptr);
}

std::string SettingValue(const SettingRow& row, const Settings& s) {
  struct Visitor {
    const SettingRow& Row;
    const Settings& S;
    std::string operator()(std::int32_t Settings::*m) const {
      return std::to_string(S.*m);
    }
    std::string operator()(double Settings::*m) const { return Number(S.*m); }
    std::string operator()(bool Settings::*m) const {
      return S.*m ? "true" : "false";
    }
    std::string operator()(std::vector<double> Settings::*m) const {
      std::string text = "[";
      for (const double q : S.*m) {
        if (text.size() > 1) text += ", ";
        text += Number(q);
      }
      return text + "]";
    }
    std::string operator()(std::uint64_t Settings::*m) const {
      return std::to_string(S.*m);
    }
    std::string operator()(const WordMember& m) const {
      return Quoted(Row.Words[static_cast<std::size_t>(m.Get(S))]);
    }
    // The file options are the batch tool's, not the analysis': the
    // sidecar's settings name only the analysis rows.
    std::string operator()(std::string FileOptions::* /*m*/) const {
      return "null";
    }
    std::string operator()(bool FileOptions::* /*m*/) const { return "null"; }
    std::string operator()(std::optional<double> Settings::*m) const {
      return (S.*m).has_value() ? Number(*(S.*m)) : "null";
    }
  };
  return std::visit(Visitor{row, s}, row.Member);
}

// The column analysed: null for plain reading, else its number (null when
// it was not looked up) and the name it was chosen by (null: by number).
std::string ColumnJson(const std::optional<series::ColumnChoice>& column) {
  if (!column) return "null";
  return std::string("{\"number\": ") +
         (column->Index > 0 ? std::to_string(column->Index) : "null") +
         ", \"name\": " +
         (column->Name.empty() ? std::string("null") : Quoted(column->Name)) +
         "}";
}

}  // namespace

std::vector<std::string> NoteTexts(std::string_view name,
                                   const series::SeriesReport& report,
                                   std::int32_t lrec) {
  std::vector<std::string> texts;
  for (const series::SeriesNote& note :
       series::SeriesNotes(name, report, lrec)) {
    texts.push_back((note.Warning ? "warning: " : "note: ") + note.Text);
  }
  return texts;
}

std::string SidecarJson(std::string_view program, const Settings& used,
                        std::string_view series_path,
                        const series::SeriesReport& report,
                        const std::vector<std::string>& notes) {
  std::string json = "{\n  \"program\": " + Quoted(program) +
                     ",\n  \"version\": " + Quoted(MFWINDOW_VERSION) +
                     ",\n  \"settings\": {";
  bool first = true;
  for (const SettingRow& row : SettingRows()) {
    if (IsFileRow(row)) continue;
    json += first ? "\n    " : ",\n    ";
    first = false;
    json += Quoted(row.Name) + ": " + SettingValue(row, used);
  }
  std::array<char, 20> hash{};
  std::snprintf(hash.data(), hash.size(), "%016llx",
                static_cast<unsigned long long>(report.SampleHash));
  json += "\n  },\n  \"series\": {\"path\": " + Quoted(series_path) +
          ", \"samples\": " + std::to_string(report.SamplesRead) +
          ", \"masked\": " + std::to_string(report.Input.Masked) +
          ", \"skipped\": " + std::to_string(report.Input.Skipped) +
          ", \"fnv1a64\": " + Quoted(hash.data()) +
          ", \"column\": " + ColumnJson(report.Column) + "},\n";
  // Time stamps of the series: ISO ones give seconds since the first,
  // numbers their own unit ("stamp").
  const bool seconds =
      used.Fs.has_value() || (report.Time && !report.Time->Origin.empty());
  json +=
      "  \"sampling_rate_hz\": " +
      (used.Fs ? Number(*used.Fs) : std::string("null")) +
      ",\n  \"time_unit\": " +
      Quoted(seconds       ? "s"
             : report.Time ? "stamp"
                           : "dt") +
      ",\n  \"time_origin\": " +
      (report.Time && !report.Time->Origin.empty() ? Quoted(report.Time->Origin)
                                                   : std::string("null")) +
      ",\n  \"simd_target\": " + Quoted(numerics::ActiveSimdTarget().Name) +
      ",\n  \"started\": " + Quoted(report.Started) +
      ",\n  \"ended\": " + Quoted(report.Ended) +
      ",\n  \"windows\": " + std::to_string(report.Windows) +
      ",\n  \"notes\": [";
  for (std::size_t i = 0; i < notes.size(); ++i) {
    json += (i == 0 ? "" : ", ") + Quoted(notes[i]);
  }
  return json + "]\n}\n";
}

}  // namespace mfwindow

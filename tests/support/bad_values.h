// Values that each row of the settings table must refuse, made from the
// row's own constraints, for the front ends' common refusal tests: beyond
// each bound of a row that refuses (bounds taken from other settings
// evaluated on the default settings), NaN and infinity where a finite
// number is due, an enumerator past the last word, lists out of order, not
// finite or too long.
#pragma once

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "mfwindow/settings_table.h"
#include "textio/full_precision.h"

namespace test_support {

struct BadValue {
  std::string Text;           // as typed: "-1", "nan", "2,1"
  double Number = 0.0;        // a count or real row's value
  std::vector<double> Items;  // a list row's value
  int Word = -1;              // a word row's enumerator
  mfwindow::SettingReason Reason = mfwindow::SettingReason::kOutOfRange;
};

inline std::string NumberText(double value) {
  if (std::isnan(value)) return "nan";
  if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
  return textio::FormatShortest(value);
}

inline std::vector<BadValue> BadValuesOf(const mfwindow::SettingRow& row) {
  using mfwindow::SettingReason;
  using mfwindow::SettingType;
  std::vector<BadValue> bad;
  const mfwindow::Settings defaults =
      mfwindow::Settle(mfwindow::Settings{}).Used();
  const auto number = [&](double v, SettingReason reason) {
    bad.push_back({NumberText(v), v, {}, -1, reason});
  };
  if (row.Type == SettingType::kCount || row.Type == SettingType::kReal) {
    const double step = row.Type == SettingType::kCount ? 1.0 : 0.5;
    if (!row.Clamp) {
      if (row.Min) {
        const double b = row.Min->Of ? row.Min->Of(defaults) : row.Min->Value;
        double v = row.Min->Open ? b : b - step;
        if (row.Unset && v == 0.0) v = -step;  // 0 stands for "not given"
        number(v, SettingReason::kOutOfRange);
      }
      if (row.Max) {
        const double b = row.Max->Of ? row.Max->Of(defaults) : row.Max->Value;
        number(row.Max->Open ? b : b + step, SettingReason::kOutOfRange);
      }
    }
    if (row.Finite) {
      number(std::numeric_limits<double>::quiet_NaN(),
             SettingReason::kNotFinite);
      number(-std::numeric_limits<double>::infinity(),
             SettingReason::kNotFinite);
    }
  } else if (row.Type == SettingType::kWord && !mfwindow::IsFileRow(row)) {
    bad.push_back({"not-a-word",
                   0.0,
                   {},
                   static_cast<int>(row.Words.size()),
                   SettingReason::kNotAWord});
  } else if (row.Type == SettingType::kReals) {
    bad.push_back({"2,1", 0.0, {2.0, 1.0}, -1, SettingReason::kOutOfRange});
    bad.push_back(
        {"1,nan", 0.0, {1.0, std::nan("")}, -1, SettingReason::kNotFinite});
    if (row.MostItems > 0) {
      std::vector<double> many(static_cast<std::size_t>(row.MostItems) + 1);
      for (std::size_t i = 0; i < many.size(); ++i) {
        many[i] = static_cast<double>(i);
      }
      bad.push_back({"", 0.0, many, -1, SettingReason::kOutOfRange});
    }
  }
  return bad;
}

// `value` set into the row's member of `s`.
inline void SetBad(const mfwindow::SettingRow& row, const BadValue& value,
                   mfwindow::Settings& s) {
  if (const auto* m =
          std::get_if<std::int32_t mfwindow::Settings::*>(&row.Member)) {
    s.** m = static_cast<std::int32_t>(value.Number);
  } else if (const auto* r =
                 std::get_if<double mfwindow::Settings::*>(&row.Member)) {
    s.** r = value.Number;
  } else if (const auto* o =
                 std::get_if<std::optional<double> mfwindow::Settings::*>(
                     &row.Member)) {
    s.** o = value.Number;
  } else if (const auto* w = std::get_if<mfwindow::WordMember>(&row.Member)) {
    w->Set(s, value.Word);
  } else if (const auto* l =
                 std::get_if<std::vector<double> mfwindow::Settings::*>(
                     &row.Member)) {
    s.** l = value.Items;
  }
}

}  // namespace test_support

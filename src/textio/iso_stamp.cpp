#include "textio/iso_stamp.h"

#include <array>
#include <cassert>
#include <cstdio>

namespace textio {
namespace {

// The digits text[from, from + count) as a number, or -1.
int Digits(std::string_view text, std::size_t from, std::size_t count) {
  if (from + count > text.size()) return -1;
  int value = 0;
  for (std::size_t i = from; i < from + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return -1;
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

// Days from 1970-01-01 to the given day of the proleptic Gregorian
// calendar (H. Hinnant's days_from_civil).
std::int64_t DaysFromCivil(int year, int month, int day) {
  year -= month <= 2 ? 1 : 0;
  const int era = year / 400;  // years from 1900 on: never negative
  const int yoe = year - era * 400;
  const int doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return std::int64_t{era} * 146097 + doe - 719468;
}

// The day of the proleptic Gregorian calendar `days` after 1970-01-01 (H.
// Hinnant's civil_from_days), as {year, month, day}.
std::array<std::int64_t, 3> CivilFromDays(std::int64_t days) {
  days += 719468;
  const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const std::int64_t doe = days - era * 146097;
  const std::int64_t yoe =
      (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  const std::int64_t day = doy - (153 * mp + 2) / 5 + 1;
  const std::int64_t month = mp < 10 ? mp + 3 : mp - 9;
  return {yoe + era * 400 + (month <= 2 ? 1 : 0), month, day};
}

// The fraction of a second `ns` (below 10^9) as ".25", or nothing.
std::string Fraction(std::int64_t ns) {
  std::string fraction = std::to_string(1000000000 + ns).substr(1);
  while (!fraction.empty() && fraction.back() == '0') fraction.pop_back();
  return fraction.empty() ? fraction : "." + fraction;
}

}  // namespace

std::optional<std::int64_t> ParseIsoStamp(std::string_view text) {
  const int year = Digits(text, 0, 4);
  const int month = Digits(text, 5, 2);
  const int day = Digits(text, 8, 2);
  // A date alone, as pandas writes a date index, is that day's midnight.
  const bool date_only = text.size() == 10;
  const int hour = date_only ? 0 : Digits(text, 11, 2);
  const int minute = date_only ? 0 : Digits(text, 14, 2);
  const int second = date_only ? 0 : Digits(text, 17, 2);
  if (text.size() < 10 || text[4] != '-' || text[7] != '-' ||
      (!date_only &&
       (text.size() < 19 || (text[10] != 'T' && text[10] != ' ') ||
        text[13] != ':' || text[16] != ':')) ||
      year < 1900 || year > 2100 || month < 1 || month > 12 || day < 1 ||
      hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 ||
      second > 59) {
    return std::nullopt;
  }
  static constexpr int kMonthDays[] = {31, 28, 31, 30, 31, 30,
                                       31, 31, 30, 31, 30, 31};
  const bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
  if (day > kMonthDays[month - 1] + (month == 2 && leap ? 1 : 0)) {
    return std::nullopt;
  }
  std::size_t at = date_only ? text.size() : 19;
  std::int64_t nanos = 0;
  if (at < text.size() && text[at] == '.') {
    std::int64_t scale = 100000000;
    for (++at; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
      if (scale == 0) return std::nullopt;  // finer than a nanosecond
      nanos += (text[at] - '0') * scale;
      scale /= 10;
    }
    if (scale == 100000000) return std::nullopt;  // a point without digits
  }
  std::int64_t offset_minutes = 0;
  if (at < text.size() && text[at] == 'Z') {
    ++at;
  } else if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
    const int hours = Digits(text, at + 1, 2);
    const int minutes = Digits(text, at + 4, 2);
    if (hours < 0 || hours > 23 || minutes < 0 || minutes > 59 ||
        text[at + 3] != ':') {
      return std::nullopt;
    }
    offset_minutes = (text[at] == '-' ? -1 : 1) * (hours * 60 + minutes);
    at += 6;
  }
  if (at != text.size()) return std::nullopt;
  const std::int64_t seconds = DaysFromCivil(year, month, day) * 86400 +
                               hour * 3600 + minute * 60 + second -
                               offset_minutes * 60;
  return seconds * 1000000000 + nanos;
}

std::string FormatSeconds(std::int64_t ns) {
  assert(ns >= 0);
  constexpr std::int64_t kSecond = 1000000000;
  return std::to_string(ns / kSecond) + Fraction(ns % kSecond);
}

std::string FormatIsoStamp(std::int64_t ns) {
  constexpr std::int64_t kSecond = 1000000000;
  constexpr std::int64_t kDay = 86400;
  const std::int64_t floor_seconds = ns / kSecond - (ns % kSecond < 0 ? 1 : 0);
  const std::int64_t nanos = ns - floor_seconds * kSecond;
  const std::int64_t days =
      floor_seconds / kDay - (floor_seconds % kDay < 0 ? 1 : 0);
  const std::int64_t second_of_day = floor_seconds - days * kDay;
  const auto [year, month, day] = CivilFromDays(days);
  std::array<char, 64> text{};
  std::snprintf(text.data(), text.size(), "%04d-%02d-%02dT%02d:%02d:%02d",
                static_cast<int>(year), static_cast<int>(month),
                static_cast<int>(day), static_cast<int>(second_of_day / 3600),
                static_cast<int>(second_of_day / 60 % 60),
                static_cast<int>(second_of_day % 60));
  return text.data() + Fraction(nanos);
}

}  // namespace textio

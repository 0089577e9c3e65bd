#include "textio/format.h"

#include <cassert>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <string>
#include <system_error>
#include <vector>

#include "textio/records.h"

namespace textio {
namespace {

enum class Align { kLeft, kRight };

// The one padding rule of every field: `text` justified in `width` columns
// with blanks, or `width` asterisks when it does not fit. Nothing is ever cut
// or widened.
std::string Justify(std::string_view text, int width, Align align) {
  assert(width >= 0);
  const auto columns = static_cast<std::size_t>(width);
  if (text.size() > columns) return std::string(columns, '*');
  const std::string padding(columns - text.size(), ' ');
  std::string field;
  field.reserve(columns);
  if (align == Align::kRight) field.append(padding);
  field.append(text);
  if (align == Align::kLeft) field.append(padding);
  return field;
}

// Room for any double in plain or scientific notation with `decimals`
// digits after the point: at most 309 integer digits, a sign, a point and an
// exponent.
std::size_t ScratchSize(int decimals) {
  return static_cast<std::size_t>(decimals) + 320;
}

// `magnitude` (not negative) rounded to `decimals` decimals in `columns`
// columns: the integer digits (none when 0), ".", the decimals, a "0" before
// the "." when the integer part is 0 and a column is left for it, and a "-"
// in front when `negative`.
std::string FixedForm(double magnitude, bool negative, int decimals,
                      int columns) {
  std::vector<char> scratch(ScratchSize(decimals));
  // to_chars with a precision rounds the exact binary value, ties to even.
  const auto [end, ec] =
      std::to_chars(scratch.data(), scratch.data() + scratch.size(), magnitude,
                    std::chars_format::fixed, decimals);
  assert(ec == std::errc{});
  std::string_view plain(scratch.data(),
                         static_cast<std::size_t>(end - scratch.data()));
  const std::size_t point = plain.find('.');
  std::string_view integer_digits = plain.substr(0, point);
  const std::string_view decimal_digits = point == std::string_view::npos
                                              ? std::string_view{}
                                              : plain.substr(point + 1);
  if (integer_digits == "0") integer_digits = {};

  // A "0" before the point only when the integer part is 0 and a column is
  // left for it.
  const std::size_t bare =
      (negative ? 1u : 0u) + integer_digits.size() + 1 + decimal_digits.size();
  const bool leading_zero =
      integer_digits.empty() && bare < static_cast<std::size_t>(columns);
  std::string text = negative ? "-" : "";
  if (leading_zero) text.push_back('0');
  text.append(integer_digits);
  text.push_back('.');
  text.append(decimal_digits);
  return Justify(text, columns, Align::kRight);
}

// The fixed form in `width` - 4 columns followed by 4 blanks, the layout
// that keeps fixed values aligned with exponent-form values in a column.
std::string FixedFormWithMargin(double magnitude, bool negative, int decimals,
                                int width) {
  if (width < 4) return std::string(static_cast<std::size_t>(width), '*');
  return FixedForm(magnitude, negative, decimals, width - 4) + "    ";
}

// Exponent of the form 0.ddd x 10^exponent: "E+dd" for up to two digits,
// "+ddd" for three; empty when it cannot be written.
std::string ExponentSuffix(int exponent) {
  const char sign = exponent < 0 ? '-' : '+';
  const int magnitude = exponent < 0 ? -exponent : exponent;
  std::string suffix;
  if (magnitude <= 99) {
    suffix = {'E', sign, static_cast<char>('0' + magnitude / 10),
              static_cast<char>('0' + magnitude % 10)};
  } else if (magnitude <= 999) {
    suffix = {sign, static_cast<char>('0' + magnitude / 100),
              static_cast<char>('0' + magnitude / 10 % 10),
              static_cast<char>('0' + magnitude % 10)};
  }
  return suffix;
}

// `value` not zero, NaN nor infinite.
std::string FiniteGeneralReal(double value, int width, int digits) {
  const double magnitude = std::fabs(value);
  const bool negative = std::signbit(value);

  // R, the magnitude rounded to `digits` significant digits, as d.ddddde±x.
  std::vector<char> scratch(ScratchSize(digits - 1));
  const auto [end, ec] =
      std::to_chars(scratch.data(), scratch.data() + scratch.size(), magnitude,
                    std::chars_format::scientific, digits - 1);
  assert(ec == std::errc{});
  const std::string_view scientific(
      scratch.data(), static_cast<std::size_t>(end - scratch.data()));
  const std::size_t letter = scientific.find('e');
  std::string significand;
  for (const char c : scientific.substr(0, letter)) {
    if (c != '.') significand.push_back(c);
  }
  std::string_view exponent_text = scientific.substr(letter + 1);
  if (exponent_text.front() == '+') exponent_text.remove_prefix(1);
  int power = 0;  // R = d.ddddd x 10^power
  std::from_chars(exponent_text.data(),
                  exponent_text.data() + exponent_text.size(), power);

  // Digits before the decimal point of R in plain notation: 0 for
  // [0.1, 1), -1 for [0.01, 0.1), and so on.
  const int integer_digits = power + 1;
  if (integer_digits >= 0 && integer_digits <= digits) {
    // Rounding the magnitude itself at R's last digit gives R's digits, even
    // when the rounding to R carried into a new leading digit.
    return FixedFormWithMargin(magnitude, negative, digits - integer_digits,
                               width);
  }

  // 0.ddddd x 10^(power + 1); to_chars has already carried a rounding that
  // reached 10 into the exponent.
  const std::string suffix = ExponentSuffix(power + 1);
  if (suffix.empty()) return std::string(static_cast<std::size_t>(width), '*');
  // A "0" before the point only when a column is left for it.
  const std::size_t bare =
      (negative ? 1u : 0u) + 1 + significand.size() + suffix.size();
  std::string text = negative ? "-" : "";
  if (bare < static_cast<std::size_t>(width)) text.push_back('0');
  text.push_back('.');
  text.append(significand);
  text.append(suffix);
  return Justify(text, width, Align::kRight);
}

template <typename T>
const T& ItemAs(const FormattedItem& item) {
  assert(std::holds_alternative<T>(item) && "item type does not match field");
  return std::get<T>(item);
}

}  // namespace

std::string FormatTextField(std::string_view text, int width) {
  assert(width >= 0);
  return Justify(text.substr(0, static_cast<std::size_t>(width)), width,
                 Align::kRight);
}

std::string FormatInteger(std::int64_t value, int width) {
  char digits[24];
  const auto [end, ec] = std::to_chars(digits, digits + sizeof digits, value);
  assert(ec == std::errc{});
  return Justify(
      std::string_view(digits, static_cast<std::size_t>(end - digits)), width,
      Align::kRight);
}

std::string FormatGeneralReal(double value, int width, int digits) {
  assert(width >= 0 && digits >= 1);
  if (std::isnan(value)) return Justify(" NaN", width, Align::kLeft);
  if (std::isinf(value)) {
    return Justify(value < 0 ? " -Infinity" : " Infinity", width, Align::kLeft);
  }
  if (value == 0.0) {
    // Zero takes the fixed form of a value in [1, 10); negative zero loses
    // its sign.
    return FixedFormWithMargin(0.0, false, digits - 1, width);
  }
  return FiniteGeneralReal(value, width, digits);
}

std::string FreeRecordText(std::span<const FreeItem> items) {
  std::string record = " ";
  for (const FreeItem& item : items) {
    if (const auto* text = std::get_if<std::string_view>(&item)) {
      record.append(*text);
    } else {
      record.append(FormatInteger(*std::get_if<std::int32_t>(&item), 12));
    }
  }
  return record;
}

bool WriteFreeRecord(std::ostream& out, std::initializer_list<FreeItem> items) {
  return WriteRecord(out, FreeRecordText(std::span<const FreeItem>(
                              items.begin(), items.size())));
}

std::string FormattedRecordText(std::span<const LayoutField> layout,
                                std::span<const FormattedItem> items,
                                std::span<const int> supplied_repeats) {
  std::string record;
  std::size_t next_item = 0;
  std::size_t next_repeat = 0;
  for (const LayoutField& field : layout) {
    int repeat = field.Repeat;
    if (repeat == LayoutField::kSuppliedRepeat) {
      assert(next_repeat < supplied_repeats.size());
      repeat = supplied_repeats[next_repeat++];
    }
    assert(repeat >= 0);
    for (int r = 0; r < repeat; ++r) {
      if (field.FieldKind == LayoutField::Kind::kLiteral) {
        record.append(field.Literal);
        continue;
      }
      // Running out of items ends the record quietly at the field that
      // needed one.
      if (next_item == items.size()) return record;
      const FormattedItem& item = items[next_item++];
      switch (field.FieldKind) {
        case LayoutField::Kind::kText:
          record.append(
              FormatTextField(ItemAs<std::string_view>(item), field.Width));
          break;
        case LayoutField::Kind::kInteger:
          record.append(
              FormatInteger(std::holds_alternative<std::int64_t>(item)
                                ? std::get<std::int64_t>(item)
                                : std::int64_t{ItemAs<std::int32_t>(item)},
                            field.Width));
          break;
        case LayoutField::Kind::kGeneralReal:
          record.append(FormatGeneralReal(ItemAs<double>(item), field.Width,
                                          field.Digits));
          break;
        case LayoutField::Kind::kLiteral:
          break;
      }
    }
  }
  assert(next_item == items.size() && "more items than the layout takes");
  return record;
}

bool WriteFormattedRecord(std::ostream& out,
                          std::span<const LayoutField> layout,
                          std::span<const FormattedItem> items,
                          std::span<const int> supplied_repeats) {
  return WriteRecord(out, FormattedRecordText(layout, items, supplied_repeats));
}

}  // namespace textio

// Fuzz target for the field renderers, each checked against a rendering
// built here from glibc's printf, which rounds the exact binary value to
// nearest, ties to even, as the fields must.
//   bytes 0..7  a double: FormatGeneralReal(v, 15, 6), the result field
//   bytes 0..3  an int32: FormatInteger(v, 10), (v, 12) and, with byte 4,
//               (v, byte 4 % 24)
//   bytes 8, 9  a width 0..47 and 1..20 significant digits for
//               FormatGeneralReal of the same double
//   bytes 10..  a text for FormatTextField with the width of byte 8
// Shorter inputs are padded with zero bytes for the double and the int.
// The record layouts built on them are checked too: a result line of six
// doubles (bytes 0..47, or the one double six times), the progress line and
// a free-format record of a text and an integer.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "textio/format.h"

namespace {

std::string Asterisks(int width) {
  return std::string(static_cast<std::size_t>(width), '*');
}

std::string Right(const std::string& text, int width) {
  if (text.size() > static_cast<std::size_t>(width)) return Asterisks(width);
  return std::string(static_cast<std::size_t>(width) - text.size(), ' ') + text;
}

std::string Left(const std::string& text, int width) {
  if (text.size() > static_cast<std::size_t>(width)) return Asterisks(width);
  return text + std::string(static_cast<std::size_t>(width) - text.size(), ' ');
}

std::string Printf(const char* format, int precision, double value) {
  char buffer[512];
  const int n = std::snprintf(buffer, sizeof buffer, format, precision, value);
  FUZZ_CHECK(n > 0 && static_cast<std::size_t>(n) < sizeof buffer, format);
  return std::string(buffer, static_cast<std::size_t>(n));
}

// The fixed form: `magnitude` rounded to `decimals` decimals, its integer
// digits (none for 0), ".", the decimals, a "0" before the "." when the
// integer part is 0 and a column is left, "-" in front when negative; in
// `columns` columns, then four blanks.
std::string Fixed(double magnitude, bool negative, int decimals, int width) {
  if (width < 4) return Asterisks(width);
  const int columns = width - 4;
  // "#" keeps the "." when there are no decimals.
  std::string plain = Printf("%#.*f", decimals, magnitude);
  const std::size_t point = plain.find('.');
  FUZZ_CHECK(point != std::string::npos, plain);
  std::string integer = plain.substr(0, point);
  if (integer == "0") integer.clear();
  const std::string fraction = plain.substr(point + 1);
  const std::size_t bare =
      (negative ? 1 : 0) + integer.size() + 1 + fraction.size();
  std::string text = negative ? "-" : "";
  if (integer.empty() && bare < static_cast<std::size_t>(columns)) {
    text += '0';
  }
  text += integer + "." + fraction;
  return Right(text, columns) + "    ";
}

std::string ExpectedGeneralReal(double value, int width, int digits) {
  if (std::isnan(value)) return Left(" NaN", width);
  if (std::isinf(value)) {
    return Left(value < 0 ? " -Infinity" : " Infinity", width);
  }
  if (value == 0.0) return Fixed(0.0, false, digits - 1, width);

  const double magnitude = std::fabs(value);
  const bool negative = value < 0;
  // R = magnitude rounded to `digits` significant digits: m.mmm E power.
  const std::string scientific = Printf("%.*E", digits - 1, magnitude);
  const std::size_t letter = scientific.find('E');
  FUZZ_CHECK(letter != std::string::npos, scientific);
  const int power = std::atoi(scientific.c_str() + letter + 1);
  std::string mantissa;
  for (std::size_t i = 0; i < letter; ++i) {
    if (scientific[i] != '.') mantissa += scientific[i];
  }
  FUZZ_CHECK(mantissa.size() == static_cast<std::size_t>(digits), scientific);

  const int before_point = power + 1;  // digits of R before the point
  if (before_point >= 0 && before_point <= digits) {
    return Fixed(magnitude, negative, digits - before_point, width);
  }

  const int exponent = power + 1;  // R = 0.mmm x 10^exponent
  const int size = std::abs(exponent);
  char suffix[8];
  if (size <= 99) {
    std::snprintf(suffix, sizeof suffix, "E%c%02d", exponent < 0 ? '-' : '+',
                  size);
  } else if (size <= 999) {
    std::snprintf(suffix, sizeof suffix, "%c%03d", exponent < 0 ? '-' : '+',
                  size);
  } else {
    return Asterisks(width);
  }
  const std::size_t bare =
      (negative ? 1 : 0) + 1 + mantissa.size() + std::strlen(suffix);
  std::string text = negative ? "-" : "";
  if (bare < static_cast<std::size_t>(width)) text += '0';
  text += "." + mantissa + suffix;
  return Right(text, width);
}

std::string ExpectedInteger(std::int32_t value, int width) {
  char digits[16];
  std::snprintf(digits, sizeof digits, "%d", static_cast<int>(value));
  return Right(digits, width);
}

void CheckGeneralReal(double value, int width, int digits) {
  const std::string got = textio::FormatGeneralReal(value, width, digits);
  const std::string want = ExpectedGeneralReal(value, width, digits);
  char context[160];
  std::snprintf(context, sizeof context, "%a w=%d d=%d got [%s] want [%s]",
                value, width, digits, got.c_str(), want.c_str());
  FUZZ_CHECK(got.size() == static_cast<std::size_t>(width), context);
  FUZZ_CHECK(got == want, context);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  std::uint8_t head[8] = {};
  std::memcpy(head, data, size < 8 ? size : 8);
  double value;
  std::memcpy(&value, head, sizeof value);
  std::int32_t integer;
  std::memcpy(&integer, head, sizeof integer);

  CheckGeneralReal(value, 15, 6);
  if (size >= 10) CheckGeneralReal(value, data[8] % 48, 1 + data[9] % 20);

  for (const int width : {10, 12, size > 4 ? data[4] % 24 : 1}) {
    const std::string got = textio::FormatInteger(integer, width);
    const std::string want = ExpectedInteger(integer, width);
    FUZZ_CHECK(got == want, got + " / " + want);
  }

  // A result line: six fields, 90 characters; the writer adds CR LF.
  {
    double six[6];
    std::string want;
    for (std::size_t k = 0; k < 6; ++k) {
      six[k] = value;
      if (size >= 48) std::memcpy(&six[k], data + 8 * k, sizeof(double));
      want += ExpectedGeneralReal(six[k], 15, 6);
    }
    const textio::FormattedItem items[] = {six[0], six[1], six[2],
                                           six[3], six[4], six[5]};
    std::ostringstream out;
    FUZZ_CHECK(
        textio::WriteFormattedRecord(out, textio::kResultLineFormat, items),
        want);
    FUZZ_CHECK(want.size() == 90 && out.str() == want + "\r\n", out.str());
  }

  // The progress line and a free-format record.
  {
    const textio::FormattedItem items[] = {integer};
    FUZZ_CHECK(
        textio::FormattedRecordText(textio::kProgressLineLayout, items) ==
            "+" + ExpectedInteger(integer, 10),
        ExpectedInteger(integer, 10));
    const std::string_view text(reinterpret_cast<const char*>(data),
                                size < 20 ? size : 20);
    const textio::FreeItem free_items[] = {text, integer};
    FUZZ_CHECK(textio::FreeRecordText(free_items) ==
                   " " + std::string(text) + ExpectedInteger(integer, 12),
               text);
  }

  if (size > 10) {
    const int width = data[8] % 48;
    const std::string text(reinterpret_cast<const char*>(data) + 10, size - 10);
    const std::string got = textio::FormatTextField(text, width);
    std::string want = text.substr(0, static_cast<std::size_t>(width));
    want.insert(0, static_cast<std::size_t>(width) - want.size(), ' ');
    FUZZ_CHECK(got == want, got);
  }
  return 0;
}

#include "textio/full_precision.h"

#include <array>
#include <cassert>
#include <charconv>
#include <cmath>
#include <system_error>

namespace textio {

std::string FormatFullPrecision(double value) {
  // A NaN's sign bit means nothing; the files spell every NaN "nan".
  if (std::isnan(value)) return "nan";
  // Sign, 17 digits, point, "e-" and three exponent digits fit easily.
  std::array<char, 32> scratch{};
  const auto [end, ec] =
      std::to_chars(scratch.data(), scratch.data() + scratch.size(), value,
                    std::chars_format::general, 17);
  assert(ec == std::errc{});
  return std::string(scratch.data(), end);
}

std::string FormatShortest(double value) {
  std::array<char, 32> text{};  // 24 characters at most
  const auto [end, ec] =
      std::to_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc{} ? std::string(text.data(), end) : "?";
}

}  // namespace textio

#include "textio/numeric_token.h"

#include <algorithm>
#include <cassert>
#include <charconv>
#include <cmath>
#include <string>
#include <system_error>

namespace textio::detail {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool IsExponentLetter(char c) {
  switch (c) {
    case 'E':
    case 'e':
    case 'D':
    case 'd':
    case 'Q':
    case 'q':
      return true;
    default:
      return false;
  }
}

TokenShape Rejected(TokenError error) { return {error, false}; }

// The decimal order of magnitude of a checked real text whose mantissa is
// not zero: its value lies in [10^(order-1), 10^order). Exponents are capped
// far beyond any double so that the sum cannot overflow.
std::int64_t DecimalOrder(std::string_view text) {
  constexpr std::int64_t kExponentCap = 1'000'000'000;
  const std::size_t letter = text.find('e');
  std::int64_t exponent = 0;
  if (letter != std::string_view::npos) {
    std::string_view digits = text.substr(letter + 1);
    const bool negative = digits.front() == '-';
    if (digits.front() == '-' || digits.front() == '+') digits.remove_prefix(1);
    for (const char c : digits) {
      exponent = std::min(exponent * 10 + (c - '0'), kExponentCap);
    }
    if (negative) exponent = -exponent;
  }

  std::int64_t integer_digits = 0;  // counted from the first nonzero digit
  std::int64_t leading_fraction_zeros = 0;
  bool seen_point = false;
  bool seen_nonzero = false;
  for (const char c : text.substr(0, letter)) {
    if (c == '.') {
      seen_point = true;
    } else if (IsDigit(c)) {
      if (c != '0') seen_nonzero = true;
      if (!seen_point) {
        if (seen_nonzero) ++integer_digits;
      } else if (seen_nonzero) {
        break;
      } else {
        ++leading_fraction_zeros;
      }
    }
  }
  const std::int64_t order =
      integer_digits > 0 ? integer_digits : -leading_fraction_zeros;
  return exponent + order;
}

}  // namespace

TokenShape ScanNumericToken(std::string_view token) {
  bool seen_point = false;
  bool seen_exponent = false;
  bool mantissa_digit = false;
  bool exponent_digit = false;
  bool sign_awaits_digit = false;
  for (std::size_t i = 0; i < token.size(); ++i) {
    const char c = token[i];
    if (IsDigit(c)) {
      (seen_exponent ? exponent_digit : mantissa_digit) = true;
      sign_awaits_digit = false;
    } else if (c == '+' || c == '-') {
      if (sign_awaits_digit) return Rejected(TokenError::kSignWithoutDigit);
      // A sign may only open the token or the exponent; "1.5-3" has no
      // exponent letter and is not taken as 1.5E-3.
      const bool opens_exponent = i > 0 && IsExponentLetter(token[i - 1]);
      if (i != 0 && !opens_exponent) {
        return Rejected(TokenError::kForeignCharacter);
      }
      sign_awaits_digit = true;
    } else if (c == '.') {
      if (seen_point) return Rejected(TokenError::kSecondDecimalPoint);
      if (seen_exponent) return Rejected(TokenError::kForeignCharacter);
      seen_point = true;
    } else if (IsExponentLetter(c)) {
      if (seen_exponent) return Rejected(TokenError::kSecondExponentLetter);
      if (!mantissa_digit) return Rejected(TokenError::kNoDigit);
      seen_exponent = true;
    } else {
      return Rejected(TokenError::kForeignCharacter);
    }
  }
  if (sign_awaits_digit) return Rejected(TokenError::kSignWithoutDigit);
  if (!mantissa_digit) return Rejected(TokenError::kNoDigit);
  if (seen_exponent && !exponent_digit) {
    return Rejected(TokenError::kExponentWithoutDigits);
  }
  return {std::nullopt, !seen_point && !seen_exponent};
}

std::optional<TokenError> ConvertToken(std::string_view token, double& value) {
  const TokenShape shape = ScanNumericToken(token);
  if (shape.Error) return shape.Error;

  // from_chars reads the C locale's form: no leading "+", and E as the only
  // exponent letter.
  if (token.front() == '+') token.remove_prefix(1);
  std::string text(token);
  std::replace_if(text.begin(), text.end(), IsExponentLetter, 'e');

  double parsed = 0.0;
  const char* const last = text.data() + text.size();
  const auto [end, ec] =
      std::from_chars(text.data(), last, parsed, std::chars_format::general);
  if (ec == std::errc::result_out_of_range) {
    // Out of range is either overflow or an underflow whose nearest double
    // is zero; from_chars reports both alike and leaves `parsed` alone.
    if (DecimalOrder(text) > 0) return TokenError::kRealOutOfRange;
    parsed = text.front() == '-' ? -0.0 : 0.0;
  } else {
    assert(ec == std::errc{} && end == last);
  }
  value = parsed;
  return std::nullopt;
}

std::optional<TokenError> ConvertToken(std::string_view token,
                                       std::int32_t& value) {
  const TokenShape shape = ScanNumericToken(token);
  if (shape.Error) return shape.Error;

  if (shape.IsInteger) {
    if (token.front() == '+') token.remove_prefix(1);
    std::int32_t parsed = 0;
    const auto [end, ec] =
        std::from_chars(token.data(), token.data() + token.size(), parsed);
    if (ec == std::errc::result_out_of_range) {
      return TokenError::kIntegerOutOfRange;
    }
    assert(ec == std::errc{} && end == token.data() + token.size());
    value = parsed;
    return std::nullopt;
  }

  double real = 0.0;
  if (const auto error = ConvertToken(token, real)) return error;
  const double truncated = std::trunc(real);
  if (!(truncated >= -2147483648.0 && truncated <= 2147483647.0)) {
    return TokenError::kRealOutOfRange;
  }
  value = static_cast<std::int32_t>(truncated);
  return std::nullopt;
}

}  // namespace textio::detail

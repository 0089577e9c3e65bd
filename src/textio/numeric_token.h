// Internals of the free-format read: checking one numeric token and
// converting it for an integer or a double target. Kept apart from the
// record handling in free_read.cpp so that each step can be tested alone.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "textio/free_read.h"

namespace textio::detail {

// What a token is, or why it is not a number. A number is an optional sign,
// digits with at most one ".", and optionally one exponent letter (E, D or
// Q, either case) followed by an optional sign and digits. At least one
// digit must precede the exponent letter.
//   "42" -> integer;  "-.5D+3" -> real;  "1.5-3" -> kForeignCharacter
struct TokenShape {
  std::optional<TokenError> Error;  // set when the token is not a number
  bool IsInteger = false;           // only an optional sign and digits
};
TokenShape ScanNumericToken(std::string_view token);

// Converts `token` for an integer target: an integer token must lie in the
// 32-bit range (kIntegerOutOfRange otherwise); a real token is converted to
// the nearest double and truncated toward zero, and must then lie in the
// 32-bit range (kRealOutOfRange otherwise). On failure `value` is unchanged.
std::optional<TokenError> ConvertToken(std::string_view token,
                                       std::int32_t& value);

// Converts `token` to the nearest double (ties to even), exactly. A
// magnitude that rounds beyond the largest double is kRealOutOfRange; one
// that underflows gives the nearest subnormal or a zero of the token's sign.
// On failure `value` is unchanged.
std::optional<TokenError> ConvertToken(std::string_view token, double& value);

}  // namespace textio::detail

// Free-format reading of numbers from records: the console answers and the
// series samples.
//
// A read starts at the next record and skips the rest of its last record
// when it finishes. Values are separated by blanks, tabs, commas or line
// ends; empty and all-blank records are passed over while targets remain.
// A comma with nothing before it is a null value (target unchanged), r* is
// r null values, r*c is r copies of c, and a slash ends the read with the
// remaining targets unchanged. Numeric tokens hold digits, signs, one "."
// and one exponent letter (E, D or Q, either case); text is an error.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <variant>

#include "textio/records.h"

namespace textio {

// 0 done, -1 end of input met before the read finished, positive: an error
// (a TokenError value).
using ReadStatus = std::int32_t;
inline constexpr ReadStatus kReadDone = 0;
inline constexpr ReadStatus kReadEndOfInput = -1;

// Why a token or a read was rejected. Values are the positive ReadStatus.
enum class TokenError : std::int32_t {
  // "+", "1e-", "+-1": every sign needs a digit after it
  kSignWithoutDigit = 1,
  // ".", "e5": a token needs a digit
  kNoDigit = 2,
  // "1.2.3"
  kSecondDecimalPoint = 3,
  // "1e2e3"
  kSecondExponentLetter = 4,
  // "12abc", "NaN", "1.5-3" (sign inside the digits)
  kForeignCharacter = 5,
  // "1.5E": an exponent letter needs digits after it
  kExponentWithoutDigits = 6,
  // "3000000000" for a 32-bit integer
  kIntegerOutOfRange = 7,
  // "1e400", or a real truncated outside 32 bits
  kRealOutOfRange = 8,
  // "0*5": a repeat count must lie in 1..2147483647
  kBadRepeatCount = 9,
  // the stream failed while reading
  kDeviceError = 10,
};

// A variable that a read assigns: a 32-bit integer or a double.
using FreeTarget = std::variant<std::int32_t*, double*>;

struct FreeReadResult {
  ReadStatus Status = kReadDone;
  int Assigned = 0;  // targets given a value (null values and "/" give none)
};

// Reads values into `targets` in order. Targets assigned before an error or
// the end of input keep their new values; the others keep their old ones.
// With no targets, consumes exactly one record (a blank one included) and
// assigns nothing. Integer targets take integer tokens in range, or real
// tokens truncated toward zero; double targets take the nearest double.
FreeReadResult ReadFreeValues(RecordReader& in,
                              std::span<const FreeTarget> targets);

// What the first value of one record is, for readers that take a record at
// a time and must know which record ended a series.
enum class FirstValueKind {
  kValue,  // a number: `value` holds it
  kBlank,  // nothing but blanks, tabs and CRs: the value is sought further
  kNull,   // a null value (a leading comma, "r*") or a slash: none assigned
  kError,  // the first token is no number (FirstValue::Error says why)
};
struct FirstValue {
  FirstValueKind Kind = FirstValueKind::kValue;
  TokenError Error{};    // for kError
  std::size_t Rest = 0;  // kValue: where the record goes on after the value
};

// The first value of `record` as ReadFreeValues with one double target
// takes it when the read reaches this record: the same tokens, the same
// doubles. `value` is assigned only for kValue.
//   "  1.5 99 junk" -> kValue 1.5 (Rest 5);  "   " -> kBlank;  ",2" -> kNull
//   "NaN" -> kError kForeignCharacter;  "2*0.5" -> kValue 0.5
FirstValue ReadFirstValue(std::string_view record, double& value);

}  // namespace textio

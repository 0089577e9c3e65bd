// Fuzz target for the free-format reader. The input's first two bytes pick
// the target list of each read (no target; one or two integers or doubles;
// three doubles); the rest is the stream. ReadFreeValues is called until it
// meets the end of input, and each read is checked:
//   - the status is 0, -1 or a known TokenError (never a device error on an
//     in-memory stream), and Assigned <= the number of targets;
//   - every read but one that meets the end takes at least one record and
//     stops at a record boundary; a read that meets the end has taken every
//     byte, and so does each read after it; nothing is read past the end
//     (the stream lies directly on the fuzzer's buffer, so AddressSanitizer
//     sees any overrun);
//   - the outcome, the values and the stream position equal those of a
//     slow reader written here from the rules, which converts with glibc's
//     strtod instead of std::from_chars.
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <istream>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "fuzz_support.h"
#include "textio/free_read.h"
#include "textio/records.h"

namespace {

enum class Kind { kInt, kDouble };

// clang-format off
const std::vector<Kind> kShapes[] = {
  {},
  {Kind::kInt},
  {Kind::kDouble},
  {Kind::kInt, Kind::kInt},
  {Kind::kDouble, Kind::kDouble},
  {Kind::kInt, Kind::kDouble},
  {Kind::kDouble, Kind::kInt},
  {Kind::kDouble, Kind::kDouble, Kind::kDouble},
};
// clang-format on

// Values the targets hold before a read, so that an untouched target can be
// told from an assigned one. No read assigns a NaN.
constexpr std::int32_t kIntSentinel = -123456789;
constexpr std::uint64_t kDoubleSentinelBits = 0x7ff8dead0000beefULL;

double DoubleSentinel() {
  double value;
  std::memcpy(&value, &kDoubleSentinelBits, sizeof value);
  return value;
}

std::uint64_t Bits(double value) {
  std::uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

// ---- The slow reader ------------------------------------------------------

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsExponentLetter(char c) {
  return std::strchr("EeDdQq", c) != nullptr && c != '\0';
}

// The token grammar: [sign] mantissa [letter [sign] digits], where the
// mantissa has at least one digit and at most one ".", and the exponent at
// least one digit. Sets `is_integer` for a sign and digits alone.
bool WellFormed(std::string_view t, bool& is_integer) {
  std::size_t i = 0;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
  std::size_t digits = 0;
  bool point = false;
  for (; i < t.size(); ++i) {
    if (IsDigit(t[i])) {
      ++digits;
    } else if (t[i] == '.' && !point) {
      point = true;
    } else {
      break;
    }
  }
  if (digits == 0) return false;
  bool exponent = false;
  if (i < t.size() && IsExponentLetter(t[i])) {
    exponent = true;
    ++i;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
    std::size_t exponent_digits = 0;
    for (; i < t.size() && IsDigit(t[i]); ++i) ++exponent_digits;
    if (exponent_digits == 0) return false;
  }
  if (i != t.size()) return false;
  is_integer = !point && !exponent;
  return true;
}

// The nearest double by glibc's correctly rounded strtod; false when the
// magnitude rounds beyond the largest double.
bool ToDouble(std::string_view token, double& value) {
  std::string text(token);
  for (char& c : text) {
    if (IsExponentLetter(c)) c = 'e';
  }
  errno = 0;
  char* end = nullptr;
  const double parsed = std::strtod(text.c_str(), &end);
  FUZZ_CHECK(end == text.c_str() + text.size(), token);
  if (std::isinf(parsed)) return false;
  value = parsed;
  return true;
}

bool ConvertInt(std::string_view token, std::int32_t& value) {
  bool is_integer = false;
  if (!WellFormed(token, is_integer)) return false;
  if (is_integer) {
    bool negative = false;
    if (token.front() == '+' || token.front() == '-') {
      negative = token.front() == '-';
      token.remove_prefix(1);
    }
    while (token.size() > 1 && token.front() == '0') token.remove_prefix(1);
    if (token.size() > 10) return false;
    std::int64_t magnitude = 0;
    for (const char c : token) magnitude = magnitude * 10 + (c - '0');
    const std::int64_t signed_value = negative ? -magnitude : magnitude;
    if (signed_value < INT32_MIN || signed_value > INT32_MAX) return false;
    value = static_cast<std::int32_t>(signed_value);
    return true;
  }
  double real = 0.0;
  if (!ToDouble(token, real)) return false;
  const double truncated = std::trunc(real);
  if (truncated < -2147483648.0 || truncated > 2147483647.0) return false;
  value = static_cast<std::int32_t>(truncated);
  return true;
}

bool ConvertDouble(std::string_view token, double& value) {
  bool is_integer = false;
  return WellFormed(token, is_integer) && ToDouble(token, value);
}

struct Slot {
  Kind SlotKind;
  std::int32_t Int = kIntSentinel;
  double Double = DoubleSentinel();
};

enum class Outcome { kDone, kEnd, kError };

struct SlowResult {
  Outcome Result = Outcome::kDone;
  int Assigned = 0;
};

SlowResult SlowRead(std::string_view bytes, std::size_t& pos,
                    std::vector<Slot>& slots) {
  SlowResult result;
  std::string record;
  if (!fuzz::NextRecord(bytes, pos, record)) return {Outcome::kEnd, 0};
  std::size_t i = 0;
  std::size_t next = 0;
  bool after_value = false;
  while (next < slots.size()) {
    while (i < record.size() && IsBlank(record[i])) ++i;
    if (i == record.size()) {
      if (!fuzz::NextRecord(bytes, pos, record)) {
        result.Result = Outcome::kEnd;
        return result;
      }
      i = 0;
      continue;
    }
    if (record[i] == ',') {
      ++i;
      if (!after_value) ++next;  // a null value
      after_value = false;
      continue;
    }
    if (record[i] == '/') return result;
    std::size_t end = i;
    while (end < record.size() && !IsBlank(record[end]) && record[end] != ',' &&
           record[end] != '/') {
      ++end;
    }
    std::string_view token(record.data() + i, end - i);
    i = end;

    std::uint64_t copies = 1;
    const std::size_t star = token.find('*');
    if (star != std::string_view::npos && star > 0) {
      bool all_digits = true;
      for (std::size_t k = 0; k < star; ++k) all_digits &= IsDigit(token[k]);
      if (all_digits) {
        std::string_view count = token.substr(0, star);
        while (count.size() > 1 && count.front() == '0') count.remove_prefix(1);
        copies = 0;
        if (count.size() > 10) {
          copies = UINT64_MAX;
        } else {
          for (const char c : count)
            copies = copies * 10 + static_cast<std::uint64_t>(c - '0');
        }
        if (copies == 0 || copies > INT32_MAX) {
          result.Result = Outcome::kError;
          return result;
        }
        token.remove_prefix(star + 1);
      }
    }
    for (std::uint64_t c = 0; c < copies && next < slots.size(); ++c, ++next) {
      if (token.empty()) continue;  // r*: null values
      Slot& slot = slots[next];
      const bool ok = slot.SlotKind == Kind::kInt
                          ? ConvertInt(token, slot.Int)
                          : ConvertDouble(token, slot.Double);
      if (!ok) {
        result.Result = Outcome::kError;
        return result;
      }
      ++result.Assigned;
    }
    after_value = true;
  }
  return result;
}

// ---- The checks -----------------------------------------------------------

Outcome OutcomeOf(textio::ReadStatus status) {
  if (status == textio::kReadDone) return Outcome::kDone;
  if (status == textio::kReadEndOfInput) return Outcome::kEnd;
  return Outcome::kError;
}

bool KnownStatus(textio::ReadStatus status) {
  return status == textio::kReadDone || status == textio::kReadEndOfInput ||
         (status >= static_cast<textio::ReadStatus>(
                        textio::TokenError::kSignWithoutDigit) &&
          status <= static_cast<textio::ReadStatus>(
                        textio::TokenError::kBadRepeatCount));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  if (size < 2) return 0;
  const unsigned schedule = data[0] | (unsigned{data[1]} << 8);
  const std::string_view bytes(reinterpret_cast<const char*>(data) + 2,
                               size - 2);

  fuzz::SpanBuf buffer(bytes);
  std::istream stream(&buffer);
  textio::RecordReader reader(stream);
  std::size_t slow_pos = 0;

  bool at_end = false;
  for (unsigned read = 0;; ++read) {
    const std::vector<Kind>& shape = kShapes[(schedule >> (read * 3 % 15)) & 7];
    std::vector<Slot> slots;
    std::vector<Slot> slow_slots;
    for (const Kind k : shape) slots.push_back(Slot{k});
    slow_slots = slots;
    std::vector<textio::FreeTarget> targets;
    for (Slot& s : slots) {
      if (s.SlotKind == Kind::kInt) {
        targets.emplace_back(&s.Int);
      } else {
        targets.emplace_back(&s.Double);
      }
    }

    const std::size_t before = buffer.Position();
    const textio::FreeReadResult got = textio::ReadFreeValues(reader, targets);
    const std::size_t after = buffer.Position();
    const SlowResult want = SlowRead(bytes, slow_pos, slow_slots);

    const std::string_view taken = bytes.substr(before, after - before);
    FUZZ_CHECK(KnownStatus(got.Status), taken);
    FUZZ_CHECK(got.Assigned >= 0 &&
                   static_cast<std::size_t>(got.Assigned) <= targets.size(),
               taken);
    FUZZ_CHECK(after >= before && after <= bytes.size(), taken);
    if (got.Status == textio::kReadEndOfInput) {
      FUZZ_CHECK(after == bytes.size(), taken);
    } else {
      FUZZ_CHECK(!at_end, taken);  // the end, once met, stays
      FUZZ_CHECK(after > before, taken);
      FUZZ_CHECK(after == bytes.size() || bytes[after - 1] == '\n', taken);
    }

    FUZZ_CHECK(OutcomeOf(got.Status) == want.Result, taken);
    FUZZ_CHECK(got.Assigned == want.Assigned, taken);
    FUZZ_CHECK(after == slow_pos, taken);
    for (std::size_t k = 0; k < slots.size(); ++k) {
      if (slots[k].SlotKind == Kind::kInt) {
        FUZZ_CHECK(slots[k].Int == slow_slots[k].Int, taken);
      } else {
        FUZZ_CHECK(Bits(slots[k].Double) == Bits(slow_slots[k].Double), taken);
      }
    }

    if (got.Status == textio::kReadEndOfInput) {
      if (at_end) break;  // a second read past the end also said -1
      at_end = true;
    }
  }
  return 0;
}

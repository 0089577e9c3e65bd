#include "textio/free_read.h"

#include <gtest/gtest.h>

#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <random>
#include <sstream>
#include <stdexcept>
#include <streambuf>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "textio/breaking_buffer.h"
#include "textio/numeric_token.h"

namespace {

using textio::ReadStatus;
using textio::TokenError;
using Value = std::variant<std::int32_t, double>;

constexpr ReadStatus Code(TokenError error) {
  return static_cast<ReadStatus>(error);
}

constexpr ReadStatus kDone = textio::kReadDone;
constexpr ReadStatus kEnd = textio::kReadEndOfInput;
constexpr std::string_view kNoRecord = "<end of input>";

// Distinct starting values, so that an untouched target is visible.
constexpr std::int32_t kI = 111;
constexpr double kD = -7.25;

// Doubles are shown exactly, so that -0.0 and 0.0 differ.
std::string Show(const Value& value) {
  if (const auto* integer = std::get_if<std::int32_t>(&value)) {
    return "int " + std::to_string(*integer);
  }
  char text[64];
  std::snprintf(text, sizeof text, "double %a", std::get<double>(value));
  return text;
}

std::vector<std::string> Show(const std::vector<Value>& values) {
  std::vector<std::string> shown;
  for (const Value& value : values) shown.push_back(Show(value));
  return shown;
}

struct Outcome {
  textio::FreeReadResult Result;
  std::vector<Value> Values;
};

Outcome Read(textio::RecordReader& reader, std::vector<Value> values) {
  std::vector<textio::FreeTarget> targets;
  for (Value& value : values) {
    targets.push_back(std::visit(
        [](auto& target) { return textio::FreeTarget(&target); }, value));
  }
  const textio::FreeReadResult result = textio::ReadFreeValues(reader, targets);
  return {result, std::move(values)};
}

std::string NextRecord(textio::RecordReader& reader) {
  std::string record;
  return reader.Next(record) == textio::RecordReader::Status::kRecord
             ? record
             : std::string(kNoRecord);
}

// One read from `input`; `next` is the record that a following read starts
// at, which shows that the read skipped the rest of its last record and took
// no record more than it needed.
struct ReadCase {
  std::string_view label;
  std::string input;
  std::vector<Value> before;
  ReadStatus status;
  int assigned;
  std::vector<Value> after;
  std::string_view next;
};

void CheckReads(const std::vector<ReadCase>& cases) {
  for (const ReadCase& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << c.label << ": " << testing::PrintToString(c.input));
    std::istringstream in(c.input);
    textio::RecordReader reader(in);
    const Outcome outcome = Read(reader, c.before);
    EXPECT_EQ(outcome.Result.Status, c.status);
    EXPECT_EQ(outcome.Result.Assigned, c.assigned);
    EXPECT_EQ(Show(outcome.Values), Show(c.after));
    EXPECT_EQ(NextRecord(reader), c.next);
  }
}

// clang-format off
TEST(ReadFreeValues, ReadsConsoleAnswers) {
  CheckReads({
    {"blanks around",       "  42  \r\nnext",   {kI},     kDone, 1, {42},       "next"},
    {"second number unread","42 17\r\nnext",    {kI},     kDone, 1, {42},       "next"},
    {"real truncated",      "4.9\r\n",          {kI},     kDone, 1, {4},        kNoRecord},
    {"toward zero",         "-4.9\r\n",         {kI},     kDone, 1, {-4},       kNoRecord},
    {"5.7",                 "5.7",              {kI},     kDone, 1, {5},        kNoRecord},
    {"-2.9",                "-2.9",             {kI},     kDone, 1, {-2},       kNoRecord},
    {"1e3",                 "1e3",              {kI},     kDone, 1, {1000},     kNoRecord},
    {"out of range",        "3000000000\nnext", {kI},     Code(TokenError::kIntegerOutOfRange), 0, {kI}, "next"},
    {"text",                "abc\nnext",        {kI},     Code(TokenError::kForeignCharacter), 0, {kI}, "next"},
    {"empty line first",    "\r\n5\r\nnext",    {kI},     kDone, 1, {5},        "next"},
    {"one line",            "1.5 0.01\nnext",   {kD, kD}, kDone, 2, {1.5, 0.01}, "next"},
    {"two lines",           "1.5\n0.01\nnext",  {kD, kD}, kDone, 2, {1.5, 0.01}, "next"},
    {"repeat",              "2*0.5\nnext",      {kD, kD}, kDone, 2, {0.5, 0.5}, "next"},
    {"single comma",        ",\r\nnext",        {kD},     kDone, 0, {kD},       "next"},
    {"single slash",        "/\r\nnext",        {kD},     kDone, 0, {kD},       "next"},
    {"leading comma",       ",0.01\nnext",      {kD, kD}, kDone, 1, {kD, 0.01}, "next"},
    {"slash after value",   "1.5/\nnext",       {kD, kD}, kDone, 1, {1.5, kD},  "next"},
    {"comma at line end",   "1.5,\r\n0.01\r\nnext", {kD, kD}, kDone, 2, {1.5, 0.01}, "next"},
    {"series line",         "1.5 2.5\n3.5\n",   {kD},     kDone, 1, {1.5},      "3.5"},
  });
}

TEST(ReadFreeValues, TreatsBlanksTabsAndCarriageReturnsAsWhitespace) {
  CheckReads({
    {"tabs",                "\t7\t\nnext",      {kI},     kDone, 1, {7},        "next"},
    {"tab between",         "1\t2\nnext",       {kI, kI}, kDone, 2, {1, 2},     "next"},
    {"blank-ish lines",     "\r\r\n\r\n   \n\t\n8\nnext", {kI}, kDone, 1, {8}, "next"},
    {"CR-only last line",   "\r",               {kI},     kEnd,  0, {kI},       kNoRecord},
    {"no line end",         "9",                {kI},     kDone, 1, {9},        kNoRecord},
    {"spans lines",         "1\n\n   \n2\nnext", {kI, kI}, kDone, 2, {1, 2},    "next"},
    {"rest skipped",        "1 2 3\n4\n",       {kI, kI}, kDone, 2, {1, 2},     "4"},
    {"long record",         std::string(100000, ' ') + "5 6\nnext", {kI}, kDone, 1, {5}, "next"},
  });
}

TEST(ReadFreeValues, HandlesNullsRepeatsAndSlash) {
  CheckReads({
    {"empty field",         "1,,3\nnext",       {kI, kI, kI}, kDone, 2, {1, kI, 3},   "next"},
    {"blanks around commas","1 , , 3\nnext",    {kI, kI, kI}, kDone, 2, {1, kI, 3},   "next"},
    {"slash on later line", "1\n/\n9",          {kI, kI, kI}, kDone, 1, {1, kI, kI},  "9"},
    {"comma then slash",    "1,/\nnext",        {kI, kI},     kDone, 1, {1, kI},      "next"},
    {"slash ends token",    "7/8\nnext",        {kI, kI},     kDone, 1, {7, kI},      "next"},
    {"r* nulls",            "3*\nnext",         {kI, kI, kI}, kDone, 0, {kI, kI, kI}, "next"},
    {"r* then comma",       "2*,7\nnext",       {kI, kI, kI}, kDone, 1, {kI, kI, 7},  "next"},
    {"r* then blank",       "2* 7\nnext",       {kI, kI, kI}, kDone, 1, {kI, kI, 7},  "next"},
    {"r* then slash",       "1*/\nnext",        {kI, kI},     kDone, 0, {kI, kI},     "next"},
    {"r*c per target type", "2*4.9\nnext",      {kI, kD},     kDone, 2, {4, 4.9},     "next"},
    {"more copies than targets", "3*0.5 9\nnext", {kD, kD},   kDone, 2, {0.5, 0.5},   "next"},
    {"repeat count zero",   "0*5\nnext",        {kI},         Code(TokenError::kBadRepeatCount), 0, {kI}, "next"},
    {"repeat count too big","99999999999*5",    {kI},         Code(TokenError::kBadRepeatCount), 0, {kI}, kNoRecord},
    {"bad repeated value",  "2*abc\nnext",      {kI, kI},     Code(TokenError::kForeignCharacter), 0, {kI, kI}, "next"},
    {"signed repeat count", "-2*5\nnext",       {kI},         Code(TokenError::kForeignCharacter), 0, {kI}, "next"},
    {"second asterisk",     "2*3*4",            {kI},         Code(TokenError::kForeignCharacter), 0, {kI}, kNoRecord},
  });
}

TEST(ReadFreeValues, KeepsValuesAssignedBeforeErrorOrEnd) {
  CheckReads({
    {"error in middle",     "1 abc 3\nnext",    {kI, kI, kI}, Code(TokenError::kForeignCharacter), 1, {1, kI, kI}, "next"},
    {"end in middle",       "1.5\n",            {kD, kD},     kEnd, 1, {1.5, kD},   kNoRecord},
    {"end after blank lines","1.5\n\n  \n",     {kD, kD},     kEnd, 1, {1.5, kD},   kNoRecord},
    {"nothing to read",     "",                 {kI},         kEnd, 0, {kI},        kNoRecord},
  });
}

TEST(ReadFreeValues, ConvertsNumbersForEachTargetType) {
  CheckReads({
    {"exponent letters",    "1.5d0 2.5D1 1q2 1Q-2 1E+2 -3e-1\nnext", {kD, kD, kD, kD, kD, kD},
                            kDone, 6, {1.5, 25.0, 100.0, 0.01, 100.0, -0.3}, "next"},
    {"D for integer",       "1.5d0",            {kI},     kDone, 1, {1},        kNoRecord},
    {"integer to double",   "3 +4 -0",          {kD, kD, kD}, kDone, 3, {3.0, 4.0, -0.0}, kNoRecord},
    {"signed zero int",     "-0 +0",            {kI, kI}, kDone, 2, {0, 0},     kNoRecord},
    {"32-bit limits",       "2147483647 -2147483648", {kI, kI}, kDone, 2, {2147483647, -2147483647 - 1}, kNoRecord},
    {"above int range",     "2147483648",       {kI},     Code(TokenError::kIntegerOutOfRange), 0, {kI}, kNoRecord},
    {"below int range",     "-2147483649",      {kI},     Code(TokenError::kIntegerOutOfRange), 0, {kI}, kNoRecord},
    {"leading zeros",       "00000000000000000000042", {kI}, kDone, 1, {42}, kNoRecord},
    {"truncated limits",    "2147483647.9 -2147483648.9", {kI, kI}, kDone, 2, {2147483647, -2147483647 - 1}, kNoRecord},
    {"truncated above",     "2147483648.0",     {kI},     Code(TokenError::kRealOutOfRange), 0, {kI}, kNoRecord},
    {"truncated below",     "-2147483649.0",    {kI},     Code(TokenError::kRealOutOfRange), 0, {kI}, kNoRecord},
    {"huge for integer",    "1e400",            {kI},     Code(TokenError::kRealOutOfRange), 0, {kI}, kNoRecord},
    {"overflow",            "1e400",            {kD},     Code(TokenError::kRealOutOfRange), 0, {kD}, kNoRecord},
    {"underflow",           "1e-400 -1e-400 4.9e-324", {kD, kD, kD}, kDone, 3, {0.0, -0.0, 0x1p-1074}, kNoRecord},
    {"tiny for integer",    "-1e-400",          {kI},     kDone, 1, {0},        kNoRecord},
  });
}
// clang-format on

TEST(ReadFreeValues, RejectsTokensThatAreNotNumbers) {
  // clang-format off
  const std::vector<std::pair<std::string_view, TokenError>> tokens = {
    {"abc",      TokenError::kForeignCharacter},
    {"12abc",    TokenError::kForeignCharacter},
    {"1.2.3",    TokenError::kSecondDecimalPoint},
    {".",        TokenError::kNoDigit},
    {"-",        TokenError::kSignWithoutDigit},
    {"+",        TokenError::kSignWithoutDigit},
    {"NaN",      TokenError::kForeignCharacter},
    {"Infinity", TokenError::kForeignCharacter},
    {"+-1",      TokenError::kSignWithoutDigit},
    {"1e+-2",    TokenError::kSignWithoutDigit},
    {"1e2e3",    TokenError::kSecondExponentLetter},
    {"T",        TokenError::kForeignCharacter},
    {"F",        TokenError::kForeignCharacter},
    {".T.",      TokenError::kForeignCharacter},
    {".F",       TokenError::kForeignCharacter},
    {"'5'",      TokenError::kForeignCharacter},
    {"\"5\"",    TokenError::kForeignCharacter},
    {"1.5-3",    TokenError::kForeignCharacter},
    {"1.5E",     TokenError::kExponentWithoutDigits},
    {"1.5E+",    TokenError::kSignWithoutDigit},
    {"e5",       TokenError::kNoDigit},
    {"-.e5",     TokenError::kNoDigit},
    {"1e2.5",    TokenError::kForeignCharacter},
    {"0x10",     TokenError::kForeignCharacter},
  };
  // clang-format on
  for (const auto& [token, error] : tokens) {
    for (const Value& target : {Value(kI), Value(kD)}) {
      SCOPED_TRACE(testing::Message() << token << " into " << Show(target));
      std::istringstream in(std::string(token) + "\nnext");
      textio::RecordReader reader(in);
      const Outcome outcome = Read(reader, {target});
      EXPECT_EQ(outcome.Result.Status, Code(error));
      EXPECT_EQ(outcome.Result.Assigned, 0);
      EXPECT_EQ(Show(outcome.Values[0]), Show(target));
      EXPECT_EQ(NextRecord(reader), "next");
    }
  }
}

TEST(ReadFreeValues, EmptyTargetListConsumesOneRecord) {
  for (const std::string_view first : {"anything 1 2 abc", "   ", "", "/,"}) {
    SCOPED_TRACE(first);
    std::istringstream in(std::string(first) + "\r\nnext\r\n");
    textio::RecordReader reader(in);
    const Outcome outcome = Read(reader, {});
    EXPECT_EQ(outcome.Result.Status, kDone);
    EXPECT_EQ(NextRecord(reader), "next");
  }
  std::istringstream empty("");
  textio::RecordReader reader(empty);
  EXPECT_EQ(Read(reader, {}).Result.Status, kEnd);
}

TEST(ReadFreeValues, SuccessiveReadsStartAtFreshRecords) {
  std::istringstream in("1.5 2.5\n3.5,4.5\n\n6.5");
  textio::RecordReader reader(in);
  std::vector<std::string> seen;
  for (int i = 0; i < 4; ++i) {
    const Outcome outcome = Read(reader, {kD});
    seen.push_back(std::to_string(outcome.Result.Status) + " " +
                   Show(outcome.Values[0]));
  }
  // The empty line is passed over by the third read, which then takes 6.5.
  EXPECT_EQ(seen, (std::vector<std::string>{
                      "0 double 0x1.8p+0", "0 double 0x1.cp+1",
                      "0 double 0x1.ap+2", "-1 double -0x1.dp+2"}));
}

TEST(ReadFreeValues, ReportsDeviceErrorAsPositiveStatus) {
  BreakingBuffer buffer("1\n");
  std::istream in(&buffer);
  textio::RecordReader reader(in);
  const Outcome outcome = Read(reader, {kI, kI});
  EXPECT_EQ(outcome.Result.Status, Code(TokenError::kDeviceError));
  EXPECT_EQ(outcome.Result.Assigned, 1);
  EXPECT_EQ(Show(outcome.Values), Show(std::vector<Value>{1, kI}));
}

// ---------------------------------------------------------- token checking

TEST(ScanNumericToken, ClassifiesIntegerAndRealTokens) {
  struct Case {
    std::string_view token;
    bool is_integer;
  };
  // clang-format off
  constexpr Case cases[] = {
    {"0", true}, {"+7", true}, {"-123", true}, {"007", true},
    {"1.", false}, {".5", false}, {"-.5", false}, {"1e5", false},
    {"1E+5", false}, {"2d-3", false}, {"2Q3", false}, {"+1.5q-0", false},
    {"5.e3", false},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.token);
    const textio::detail::TokenShape shape =
        textio::detail::ScanNumericToken(c.token);
    EXPECT_FALSE(shape.Error.has_value());
    EXPECT_EQ(shape.IsInteger, c.is_integer);
  }
}

// ------------------------------------------------------- token conversion

TEST(ConvertToken, GivesNearestDouble) {
  struct Case {
    std::string_view token;
    double value;
  };
  // clang-format off
  const Case cases[] = {
    {"0.1",                     0x1.999999999999ap-4},
    {"0.1000000000000000055511151231257827021181583404541015625", 0x1.999999999999ap-4},
    {"5.e3",                    5000.0},
    {"1.7976931348623157e308",  0x1.fffffffffffffp+1023},
    {"2.2250738585072011e-308", 0x0.fffffffffffffp-1022},  // largest subnormal
    {"2.4703282292062328e-324", 0x1p-1074},  // just above half the smallest
    {"2.4703282292062327e-324", 0.0},        // just below: rounds to zero
    {"9007199254740993",        9007199254740992.0},   // 2^53 + 1: tie to even
    {"9007199254740995",        9007199254740996.0},
    {"0.000000000000000000000000000000001e-290", 1e-323},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.token);
    double value = kD;
    EXPECT_FALSE(textio::detail::ConvertToken(c.token, value).has_value());
    EXPECT_EQ(std::bit_cast<std::uint64_t>(value),
              std::bit_cast<std::uint64_t>(c.value));
  }
  double value = kD;
  EXPECT_EQ(textio::detail::ConvertToken("1.7976931348623159e308", value),
            TokenError::kRealOutOfRange);
  EXPECT_EQ(textio::detail::ConvertToken("-1e99999999999999999999", value),
            TokenError::kRealOutOfRange);
  EXPECT_EQ(value, kD);
}

// glibc's strtod rounds exactly and serves as the independent reference on
// random decimal tokens, in all exponent letters and across the whole range
// of doubles, subnormals and overflow included.
TEST(ConvertToken, AgreesWithStrtodOnRandomTokens) {
  std::mt19937_64 random(31337);
  std::uniform_int_distribution<int> digit(0, 9);
  std::uniform_int_distribution<int> length(1, 25);
  std::uniform_int_distribution<int> exponent(-345, 330);
  constexpr std::string_view kLetters = "eEdDqQ";
  int mismatches = 0;
  for (int i = 0; i < 50000; ++i) {
    std::string token = random() % 2 ? "-" : "";
    const int digits = length(random);
    const int point =
        static_cast<int>(random() % static_cast<unsigned>(digits + 1));
    for (int d = 0; d < digits; ++d) {
      if (d == point) token += '.';
      token += static_cast<char>('0' + digit(random));
    }
    const int shift = exponent(random);
    std::string c_form = token + "e" + std::to_string(shift);
    token += kLetters[random() % kLetters.size()] + std::to_string(shift);

    errno = 0;
    const double expected = std::strtod(c_form.c_str(), nullptr);
    const bool overflow = std::isinf(expected);
    double value = kD;
    const std::optional<TokenError> error =
        textio::detail::ConvertToken(token, value);
    const bool agrees =
        overflow ? error == TokenError::kRealOutOfRange
                 : !error && std::bit_cast<std::uint64_t>(value) ==
                                 std::bit_cast<std::uint64_t>(expected);
    if (!agrees && ++mismatches <= 10) {
      ADD_FAILURE() << token << " gave " << std::hexfloat << value
                    << " instead of " << expected;
    }
  }
  EXPECT_EQ(mismatches, 0);
}

// The reader that takes one record at a time must take the same first
// value as mfwindow's free-format read of one double; else the batch tool
// and mfwindow would part on the same file. Each record is read both ways,
// followed by a record holding 9, which ReadFreeValues reaches only when
// this one is blank.
struct FirstCase {
  std::string record;
  textio::FirstValueKind kind;
  std::size_t rest;  // for kValue
};
// clang-format off
const FirstCase kFirstCases[] = {
  {"1.5",             textio::FirstValueKind::kValue, 3},
  {"  -2.5e3  junk",  textio::FirstValueKind::kValue, 8},
  {"\t7,8",           textio::FirstValueKind::kValue, 2},
  {"2*0.5 3",         textio::FirstValueKind::kValue, 5},
  {"1.5d0/",          textio::FirstValueKind::kValue, 5},
  {"   ",             textio::FirstValueKind::kBlank, 0},
  {"",                textio::FirstValueKind::kBlank, 0},
  {" \r",             textio::FirstValueKind::kBlank, 0},
  {",5",              textio::FirstValueKind::kNull,  0},
  {"/",               textio::FirstValueKind::kNull,  0},
  {"3* 4",            textio::FirstValueKind::kNull,  0},
  {"NaN",             textio::FirstValueKind::kError, 0},
  {"NA",              textio::FirstValueKind::kError, 0},
  {"0*5",             textio::FirstValueKind::kError, 0},
  {"1e999",           textio::FirstValueKind::kError, 0},
  {"timestamp,Fz",    textio::FirstValueKind::kError, 0},
  {"\xEF\xBB\xBF" "1", textio::FirstValueKind::kError, 0},
};
// clang-format on

TEST(ReadFirstValue, TakesWhatReadFreeValuesTakes) {
  for (const FirstCase& c : kFirstCases) {
    SCOPED_TRACE(testing::PrintToString(c.record));
    double first = kD;
    const textio::FirstValue got = textio::ReadFirstValue(c.record, first);
    EXPECT_EQ(got.Kind, c.kind);

    std::istringstream in(c.record + "\n9\n");
    textio::RecordReader reader(in);
    double value = kD;
    const textio::FreeTarget target = &value;
    const textio::FreeReadResult free =
        textio::ReadFreeValues(reader, {&target, 1});
    switch (c.kind) {
      case textio::FirstValueKind::kValue:
        EXPECT_EQ(got.Rest, c.rest);
        EXPECT_EQ(free.Status, kDone);
        EXPECT_EQ(std::bit_cast<std::uint64_t>(first),
                  std::bit_cast<std::uint64_t>(value));
        break;
      case textio::FirstValueKind::kBlank:
        EXPECT_EQ(value, 9.0);  // the read went on to the next record
        EXPECT_EQ(first, kD);
        break;
      case textio::FirstValueKind::kNull:
        EXPECT_EQ(free.Status, kDone);
        EXPECT_EQ(free.Assigned, 0);
        EXPECT_EQ(first, kD);
        break;
      case textio::FirstValueKind::kError:
        EXPECT_EQ(free.Status, Code(got.Error));
        EXPECT_EQ(first, kD);
        break;
    }
  }
}

}  // namespace

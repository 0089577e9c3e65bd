#include "textio/free_read.h"

#include <charconv>
#include <cstddef>
#include <optional>
#include <string>
#include <system_error>

#include "textio/numeric_token.h"

namespace textio {
namespace {

bool IsWhitespace(char c) { return c == ' ' || c == '\t' || c == '\r'; }

bool EndsToken(char c) { return IsWhitespace(c) || c == ',' || c == '/'; }

ReadStatus StatusOf(TokenError error) { return static_cast<ReadStatus>(error); }

// A value as written in a record: `Repeat` copies of `Token`, where an empty
// token stands for null values ("3*").
struct ValueForm {
  std::int32_t Repeat = 1;
  std::string_view Token;
};

// Splits off an "r*" prefix. Only an unsigned integer directly before the
// first asterisk makes a repeat count; any other asterisk stays in the token
// and is rejected there.
std::optional<ValueForm> SplitRepeat(std::string_view text, TokenError& error) {
  const std::size_t star = text.find('*');
  if (star == std::string_view::npos || star == 0) return ValueForm{1, text};
  const std::string_view count = text.substr(0, star);
  for (const char c : count) {
    if (c < '0' || c > '9') return ValueForm{1, text};
  }
  std::int32_t repeat = 0;
  const auto [end, ec] =
      std::from_chars(count.data(), count.data() + count.size(), repeat);
  if (ec != std::errc{} || repeat < 1) {
    error = TokenError::kBadRepeatCount;
    return std::nullopt;
  }
  return ValueForm{repeat, text.substr(star + 1)};
}

std::optional<TokenError> Assign(const FreeTarget& target,
                                 std::string_view token) {
  if (const auto* integer = std::get_if<std::int32_t*>(&target)) {
    return detail::ConvertToken(token, **integer);
  }
  return detail::ConvertToken(token, *std::get<double*>(target));
}

}  // namespace

FreeReadResult ReadFreeValues(RecordReader& in,
                              std::span<const FreeTarget> targets) {
  FreeReadResult result;
  std::string record;
  // Every read opens a fresh record, whatever an earlier read left unread.
  const auto first = in.Next(record);
  if (first == RecordReader::Status::kEndOfInput) {
    result.Status = kReadEndOfInput;
    return result;
  }
  if (first == RecordReader::Status::kDeviceError) {
    result.Status = StatusOf(TokenError::kDeviceError);
    return result;
  }

  std::size_t pos = 0;
  std::size_t next_target = 0;
  // A comma right after a value only separates; any other comma is a null.
  bool after_value = false;
  while (next_target < targets.size()) {
    while (pos < record.size() && IsWhitespace(record[pos])) ++pos;
    if (pos == record.size()) {
      // The line end is whitespace too: the read goes on in the next record.
      const auto status = in.Next(record);
      if (status == RecordReader::Status::kEndOfInput) {
        result.Status = kReadEndOfInput;
        return result;
      }
      if (status == RecordReader::Status::kDeviceError) {
        result.Status = StatusOf(TokenError::kDeviceError);
        return result;
      }
      pos = 0;
      continue;
    }

    if (record[pos] == ',') {
      ++pos;
      if (!after_value) ++next_target;
      after_value = false;
      continue;
    }
    if (record[pos] == '/') return result;

    std::size_t end = pos;
    while (end < record.size() && !EndsToken(record[end])) ++end;
    const std::string_view text(record.data() + pos, end - pos);
    pos = end;

    TokenError repeat_error{};
    const std::optional<ValueForm> form = SplitRepeat(text, repeat_error);
    if (!form) {
      result.Status = StatusOf(repeat_error);
      return result;
    }
    for (std::int32_t copy = 0;
         copy < form->Repeat && next_target < targets.size();
         ++copy, ++next_target) {
      if (form->Token.empty()) continue;  // "r*": r null values
      if (const auto error = Assign(targets[next_target], form->Token)) {
        result.Status = StatusOf(*error);
        return result;
      }
      ++result.Assigned;
    }
    after_value = true;
  }
  return result;
}

FirstValue ReadFirstValue(std::string_view record, double& value) {
  FirstValue result;
  std::size_t pos = 0;
  while (pos < record.size() && IsWhitespace(record[pos])) ++pos;
  if (pos == record.size()) {
    result.Kind = FirstValueKind::kBlank;
    return result;
  }
  if (record[pos] == ',' || record[pos] == '/') {
    result.Kind = FirstValueKind::kNull;
    return result;
  }
  std::size_t end = pos;
  while (end < record.size() && !EndsToken(record[end])) ++end;
  TokenError repeat_error{};
  const std::optional<ValueForm> form =
      SplitRepeat(record.substr(pos, end - pos), repeat_error);
  if (!form) {
    result.Kind = FirstValueKind::kError;
    result.Error = repeat_error;
    return result;
  }
  if (form->Token.empty()) {  // "r*": r null values
    result.Kind = FirstValueKind::kNull;
    return result;
  }
  if (const auto error = detail::ConvertToken(form->Token, value)) {
    result.Kind = FirstValueKind::kError;
    result.Error = *error;
    return result;
  }
  result.Rest = end;
  return result;
}

}  // namespace textio

#include "textio/fields.h"

#include <array>
#include <cctype>

namespace textio {
namespace {

char SeparatorChar(FieldSeparator separator) {
  switch (separator) {
    case FieldSeparator::kComma:
      return ',';
    case FieldSeparator::kSemicolon:
      return ';';
    case FieldSeparator::kTab:
      return '\t';
    case FieldSeparator::kWhitespace:
      break;
  }
  return ' ';
}

// Blanks that surround a field; a tab only when it does not separate.
bool IsPadding(char c, FieldSeparator separator) {
  return c == ' ' || c == '\r' ||
         (c == '\t' && separator != FieldSeparator::kTab);
}

bool Separates(char c, FieldSeparator separator) {
  if (separator == FieldSeparator::kWhitespace) {
    return c == ' ' || c == '\t' || c == '\r';
  }
  return c == SeparatorChar(separator);
}

bool IsContinuationByte(char c) {
  return (static_cast<unsigned char>(c) & 0xC0U) == 0x80U;
}

}  // namespace

FieldSeparator GuessSeparator(std::string_view record) {
  if (record.find('\t') != std::string_view::npos) return FieldSeparator::kTab;
  if (record.find(';') != std::string_view::npos) {
    return FieldSeparator::kSemicolon;
  }
  if (record.find(',') != std::string_view::npos) return FieldSeparator::kComma;
  return FieldSeparator::kWhitespace;
}

void SplitFields(std::string_view record, FieldSeparator separator,
                 std::vector<std::string>& fields, std::size_t max_fields) {
  fields.clear();
  const bool by_blanks = separator == FieldSeparator::kWhitespace;
  std::size_t pos = 0;
  const auto skip_padding = [&] {
    while (pos < record.size() && IsPadding(record[pos], separator)) ++pos;
  };
  if (by_blanks) {
    skip_padding();
    if (pos == record.size()) return;
  }
  while (fields.size() < max_fields) {
    skip_padding();
    std::string field;
    if (pos < record.size() && record[pos] == '"') {
      ++pos;
      while (pos < record.size()) {
        if (record[pos] == '"') {
          if (pos + 1 < record.size() && record[pos + 1] == '"') {
            field.push_back('"');
            pos += 2;
            continue;
          }
          ++pos;
          break;
        }
        field.push_back(record[pos++]);
      }
      // Whatever stands between the closing quote and the separator stays
      // with the field, so that it cannot pass for a number.
      while (pos < record.size() && IsPadding(record[pos], separator) &&
             !Separates(record[pos], separator)) {
        ++pos;
      }
      while (pos < record.size() && !Separates(record[pos], separator)) {
        field.push_back(record[pos++]);
      }
    } else {
      while (pos < record.size() && !Separates(record[pos], separator)) {
        field.push_back(record[pos++]);
      }
      while (!field.empty() && IsPadding(field.back(), separator)) {
        field.pop_back();
      }
    }
    fields.push_back(std::move(field));
    if (by_blanks) {
      skip_padding();
      if (pos == record.size()) return;
      continue;
    }
    if (pos == record.size()) return;
    ++pos;  // the separator
  }
}

bool IsMissingValueSpelling(std::string_view field) {
  static constexpr std::array<std::string_view, 8> kGaps = {
      "", "na", "n/a", "#n/a", "null", "none", "?", "-"};
  // These may carry a sign, as printf writes them.
  static constexpr std::array<std::string_view, 3> kNonFinite = {"nan", "inf",
                                                                 "infinity"};
  std::string lower;
  for (const char c : field) {
    lower.push_back(
        static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
  }
  for (const std::string_view gap : kGaps) {
    if (lower == gap) return true;
  }
  std::string_view unsigned_text = lower;
  if (!unsigned_text.empty() &&
      (unsigned_text.front() == '+' || unsigned_text.front() == '-')) {
    unsigned_text.remove_prefix(1);
  }
  for (const std::string_view word : kNonFinite) {
    if (unsigned_text == word) return true;
  }
  return false;
}

std::string VisibleExcerpt(std::string_view text, std::size_t max_chars) {
  std::size_t cut = text.size();
  if (cut > max_chars) {
    cut = max_chars;
    while (cut > 0 && IsContinuationByte(text[cut])) --cut;
  }
  std::string shown;
  for (std::size_t i = 0; i < cut; ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == '\t') {
      shown += "\\t";
    } else if (c == '\r') {
      shown += "\\r";
    } else if (c == '\n') {
      shown += "\\n";
    } else if (c < 0x20U || c == 0x7FU) {
      constexpr std::string_view kHex = "0123456789abcdef";
      shown += "\\x";
      shown.push_back(kHex[c >> 4U]);
      shown.push_back(kHex[c & 0xFU]);
    } else {
      shown.push_back(static_cast<char>(c));
    }
  }
  if (cut < text.size()) shown += "...";
  return shown;
}

std::size_t LeftAdjust(std::string& entry) {
  const std::size_t first = entry.find_first_not_of(' ');
  if (first == std::string::npos) return 0;
  if (first > 0) {
    entry.erase(0, first);
    entry.append(first, ' ');
  }
  return entry.find_last_not_of(' ') + 1;
}

}  // namespace textio

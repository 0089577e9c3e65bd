// Delimited text as spreadsheets and data frames export it (CSV, TSV,
// semicolon- or blank-separated columns), split into fields, and record
// text quoted in messages. Pure text work: no streams, no numbers.
#pragma once

#include <cstddef>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

namespace textio {

// What separates the fields of a record.
enum class FieldSeparator {
  kComma,      // ","
  kSemicolon,  // ";" (spreadsheets of locales with a decimal comma)
  kTab,        // "\t"
  kWhitespace  // any run of blanks and tabs; blanks at either end ignored
};

// Leading blanks of `entry` moved to its end; returns the trimmed length L
// (the position of the last non-blank character, 0 for an all-blank entry).
// A name read from a list is taken this way.
std::size_t LeftAdjust(std::string& entry);

// The separator a record most likely uses: a tab if it holds one, else a
// semicolon, else a comma, else blanks. Meant for the first record of a
// file (the header, or the first row).
//   "time,Fz,Cz" -> kComma;  "1,5;2,5" -> kSemicolon;  "1 2" -> kWhitespace
FieldSeparator GuessSeparator(std::string_view record);

// Splits `record` into `fields` (cleared first), keeping at most
// `max_fields` (what lies beyond is not looked at). Blanks (and CRs) around
// a field are dropped. A field that starts with a double quote runs to the
// closing quote, separators included, with "" standing for one quote. With
// kWhitespace a record of blanks has no field; with the others every record
// has at least one, possibly empty. Reuses the capacity of `fields`.
//   "a, \"b,c\" ,,d" (kComma) -> {"a", "b,c", "", "d"}
//   "  1.5\t 2  " (kWhitespace) -> {"1.5", "2"}
void SplitFields(
    std::string_view record, FieldSeparator separator,
    std::vector<std::string>& fields,
    std::size_t max_fields = std::numeric_limits<std::size_t>::max());

// Whether `field` is a common spelling of a missing value, in any case:
// empty, NaN (signed or not), NA, N/A, #N/A, NULL, None, Inf, Infinity
// (signed or not), "?", "-". Such a field is a missing sample, never a
// column name.
bool IsMissingValueSpelling(std::string_view field);

// `text` for a message: at most `max_chars` bytes of it, never cutting a
// UTF-8 sequence, with "..." after a text that was cut. Control characters
// are made visible: \t, \r, \n, and \xHH for the others (DEL included).
//   VisibleExcerpt("NaN") -> "NaN";  VisibleExcerpt("a\tb\x01") -> "a\\tb\\x01"
std::string VisibleExcerpt(std::string_view text, std::size_t max_chars = 40);

}  // namespace textio

// Field renderers and record layouts. Rendering is pure: each function
// returns characters; writing them is WriteRecord's job (records.h).
// Numbers always use the period and no digit grouping, whatever the locale.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <ostream>
#include <span>
#include <string>
#include <string_view>
#include <variant>

namespace textio {

// Returns exactly `width` characters: `text` right-justified with leading
// blanks when shorter than `width`, else its first `width` characters.
//   FormatTextField("File= ", 8) -> "  File= "
std::string FormatTextField(std::string_view text, int width);

// Returns exactly `width` characters: the decimal digits of `value` with a
// "-" directly before them when negative, right-justified; `width` asterisks
// when sign and digits do not fit.
//   FormatInteger(7, 10)           -> "         7"
//   FormatInteger(-1000000000, 10) -> "**********"
std::string FormatInteger(std::int64_t value, int width);

// Renders `value` in exactly `width` characters with `digits` significant
// digits. Rounds the exact binary value to nearest, ties to even. Uses the
// fixed form (followed by 4 blanks) when the rounded value lies in
// [0.1, 10^digits), the exponent form otherwise; zero is written in the fixed
// form without a sign; NaN and infinities as " NaN", " Infinity",
// " -Infinity" padded with blanks.
//   FormatGeneralReal(0.5, 15, 6)      -> "   0.500000    "
//   FormatGeneralReal(999999.5, 15, 6) -> "   0.100000E+07"
//   FormatGeneralReal(1e-101, 15, 6)   -> "   0.100000-100"
std::string FormatGeneralReal(double value, int width, int digits);

// An item of a free-format record: a text or an integer.
using FreeItem = std::variant<std::string_view, std::int32_t>;

// The characters of a free-format record: one blank, then each text item as
// it is and each integer as FormatInteger(value, 12), with nothing between.
//   {"Number of signals=", 3} -> " Number of signals=           3"
std::string FreeRecordText(std::span<const FreeItem> items);

// Writes the free-format record of `items`; false when the stream failed.
bool WriteFreeRecord(std::ostream& out, std::initializer_list<FreeItem> items);

// One field of a formatted layout.
struct LayoutField {
  enum class Kind { kLiteral, kText, kInteger, kGeneralReal };
  // Repeat count meaning "supplied when the record is written".
  static constexpr int kSuppliedRepeat = -1;

  Kind FieldKind = Kind::kLiteral;
  std::string_view Literal;  // for kLiteral
  int Width = 0;
  int Digits = 0;  // for kGeneralReal
  int Repeat = 1;  // fixed count, or kSuppliedRepeat
};

// An item of a formatted record: text, integer or double, matched in order
// to the fields that take items (every kind but kLiteral).
// Integer fields take 32-bit or 64-bit integers alike (a window count may
// pass 2^31 on a very long series).
using FormattedItem =
    std::variant<std::string_view, std::int32_t, std::int64_t, double>;

// The characters of a formatted record: the fields' renderings, left to
// right, with no leading blank. Supplied repeat counts are taken from
// `supplied_repeats` in order, when their field is reached. The record ends
// at the first field that needs an item when none is left. Asserts that each
// item's type matches its field.
std::string FormattedRecordText(std::span<const LayoutField> layout,
                                std::span<const FormattedItem> items,
                                std::span<const int> supplied_repeats = {});

// Writes the formatted record; false when the stream failed.
bool WriteFormattedRecord(std::ostream& out,
                          std::span<const LayoutField> layout,
                          std::span<const FormattedItem> items,
                          std::span<const int> supplied_repeats = {});

// "File= " right-justified in 8 columns, then L text fields of width 1 (L
// supplied at write time: the trimmed length of the series name).
inline constexpr LayoutField kEchoLineLayout[] = {
    {LayoutField::Kind::kText, {}, 8, 0, 1},
    {LayoutField::Kind::kText, {}, 1, 0, LayoutField::kSuppliedRepeat},
};

// "+" and the count of windows completed before this one, in 10 columns.
inline constexpr LayoutField kProgressLineLayout[] = {
    {LayoutField::Kind::kLiteral, "+", 0, 0, 1},
    {LayoutField::Kind::kInteger, {}, 10, 0, 1},
};

// Six general reals of width 15 with 6 significant digits: 90 characters.
inline constexpr LayoutField kResultLineFormat[] = {
    {LayoutField::Kind::kGeneralReal, {}, 15, 6, 6},
};

}  // namespace textio

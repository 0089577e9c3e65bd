// Numbers for machine-read text (the batch front end's CSV files): every
// double rendered so that reading it back gives the same double. Numbers
// always use the period and no digit grouping, whatever the locale.
#pragma once

#include <string>

namespace textio {

// Renders `value` in the general form with 17 significant digits, trailing
// zeros dropped: what C's "%.17g" writes in the "C" locale. 17 digits tell
// every pair of doubles apart, so std::from_chars reads the same double
// back. Whole numbers below 10^17 come out as plain integers. NaN and the
// infinities are written "nan" (whatever its sign bit), "inf" and "-inf".
//   FormatFullPrecision(0.1)     -> "0.10000000000000001"
//   FormatFullPrecision(1000.0)  -> "1000"
//   FormatFullPrecision(-2.5e-7) -> "-2.4999999999999999e-07"
//   FormatFullPrecision(1e17)    -> "1e+17"
std::string FormatFullPrecision(double value);

// The shortest text that std::from_chars reads back as `value`, for text
// people read (messages, help): FormatShortest(0.1) -> "0.1".
std::string FormatShortest(double value);

}  // namespace textio
